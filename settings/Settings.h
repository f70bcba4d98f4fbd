#pragma once

#include "platform/Errors.h"
#include "platform/Types.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "settings/SettingsFile.h"

// The settings file, read and written value by value: every write stores the
// whole file back at once.
//
// One parsed copy of the file is kept in memory, valid while the file on disk keeps its identity, size
// and modification and change times; every access checks that first, so a change made by another
// instance (or by hand) is still seen at the next access. A write whose value is already stored,
// in a file that is exactly as storing would write it, leaves the file alone.
//
// Writes are serialised across running instances by a lock file (settingsLockPath), keyed by the
// file the path leads to, so an instance that reaches the file through a link and one that names it
// directly share it: the load, change and store of one write happen while it is held, so no
// instance loses another's values. A write that would change no byte takes no lock. The lock is the
// system's own lock held on the open lock file (platform/FileLock), so it ends with the instance that
// holds it: a lock file left by a killed instance, empty or not, blocks nothing. A lock that another
// running instance holds for 5 s makes
// the write fail with ESettingsInUseError "The settings file is in use by another Vellumark: <path>"
// (the value stays where the program shows it, and the file is never written unguarded).

// One settings file: its path, the parsed copy kept in memory, the lock of its writes and, for a run
// that must leave the file alone, a read-only snapshot. Everything said above holds per store.
class TSettingsStore {
public:
  // The file at path; an empty path names the file of the install (installSettingsPath).
  explicit TSettingsStore(const QString& path = QString());
  ~TSettingsStore();
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  QString Path() const;
  // Another file (empty: the install's); forgets the copy in memory, as at a new start.
  void SetPath(const QString& path);

  // What writes of killed instances left (for a start that may write files: the window, a run that
  // is no dry run): interrupted in-place writes are settled (recoverInterruptedWrites) and the
  // temporary files left beside the settings file are removed (removeLeftoverTemporaryFiles).
  void RecoverKilledWrites();
  // Reads the file now and raises ENotSettingsFileError when it is no settings file (a picture, a
  // binary file), so that the window does not open on it. Any other read error is left to the reads
  // that meet it.
  void RefuseNonSettingsFile();

  // From now on reads are served from a copy read now (EFOpenError when the file exists but cannot
  // be read) and writes change that copy only; DropSnapshot goes back to the file.
  void TakeSnapshot();
  void DropSnapshot();

  // One read of (section, key): the value, or "" when the file, section or key is missing.
  QString Read(const QString& section, const QString& key);
  // One write of (section, key) = value; on disk when it returns (see the order of its steps in
  // the code). A key or value with a line break is refused with ELineBreakError.
  void Write(const QString& section, const QString& key, const QString& value);

  // The values of the window and the frames: section "settings" (the window's own), "images" (a
  // group's picture under its size key), "selections" (a group's selection under its size key;
  // nullopt when the stored value does not hold exactly four items).
  QString WindowSetting(const QString& name);
  void SetWindowSetting(const QString& name, const QString& value);
  QString ImageSetting(const QString& sizeKey);
  void SetImageSetting(const QString& sizeKey, const QString& value);
  std::optional<TRectF> SelectionSetting(const QString& sizeKey);
  void SetSelectionSetting(const QString& sizeKey, const TRectF& rect);

  // The paths kept in the file (settings/StoredPaths.h), over this file: its folder, the full path a
  // stored (or typed) path names, whether the user asked for relative paths, and the text to store
  // for a path.
  QString Folder() const;
  QString ResolvedPath(const QString& stored) const;
  bool RelativePathsWanted();
  QString PathToStore(const QString& path, bool relative) const;

  // Tests: how long a write waits for the lock, and a hook called under the lock between the load
  // and the store of every write.
  void SetLockWait(int milliseconds) { FLockWaitMs = milliseconds; }
  void SetStoreHook(std::function<void()> hook) { FStoreHook = std::move(hook); }

private:
  struct CachedFile;
  const TSettingsFile& CurrentFile(const QString& path);
  bool ChangesNothing(const QString& path, const QString& section, const QString& key, const QString& value);

  QString FPath;
  std::unique_ptr<CachedFile> FCache;
  std::optional<TSettingsFile> FSnapshot;
  int FLockWaitMs = 5000;
  std::function<void()> FStoreHook;
};

// A store for code that is handed none: the settings file of the install, or the one a test or a
// bench names through setSettingsFilePathOverride; the free functions below read and write it, and
// the constructors that take a store default to it. The program never uses it: main builds the
// window's store (the file --settings names, or the install's) and the window hands it to its
// frames; the command line builds a read-only one for its run.
TSettingsStore& Settings();

// The settings file of an install, chosen at the first call (see settingsPathForInstall).
QString installSettingsPath();

// The settings file in force: an override when one is set (--settings, tests), otherwise
// settingsPathForInstall of the running executable and the user's configuration folder, chosen at the
// first access.
QString settingsFilePath();
// Where an installed program keeps its settings: beside the executable (its name with ".ini") when that
// file may be written there, as in a portable folder or the Windows zip; otherwise, as under /usr or
// C:\Program Files, and always for a copy the Windows installer put in place (InstalledMarkerName
// beside the executable), the file of the same name in userConfigFolder (~/.config/Vellumark,
// %APPDATA%\Vellumark).
QString settingsPathForInstall(const QString& executablePath, const QString& userConfigFolder);
// The file the installer puts beside the program: "Vellumark.installed".
extern const QString InstalledMarkerName;
void setSettingsFilePathOverride(const QString& path);  // empty removes the override; forgets the copy in memory
// The settings file of an executable: its extension (the text from the last "." after the last "\\",
// "/" and ":") replaced by ".ini", or ".ini" appended when it has none; "" for "".
QString settingsPathForExecutable(const QString& executablePath);

// A run that must leave the settings file alone (the command line): useSettingsSnapshot reads the
// file in force once (raising EFOpenError when it exists but cannot be read); from then on every
// read is served from that copy and every write changes the copy only, so the file on disk is never
// written. dropSettingsSnapshot goes back to reading and writing the file.
void useSettingsSnapshot();
void dropSettingsSnapshot();

// The lock file of a settings file: beside the file the path leads to (links followed), named after
// it with ".lock" appended; where that folder takes no new files, in the user's runtime folder under
// a name made from the file's canonical path (empty when that runtime folder cannot be made: the
// write is then refused).
QString settingsLockPath(const QString& path);
class ESettingsInUseError : public Exception { using Exception::Exception; };
// Tests: how long a write waits for the lock (5000 ms), and a hook called under the lock between
// the load and the store of every write (an empty function removes it).
void setSettingsLockWait(int milliseconds);
void setSettingsStoreHook(std::function<void()> hook);

// A line break (CR or LF) would split the line of a value in two. Raises ELineBreakError for a file
// name that holds one, before anything is stored.
class ELineBreakError : public Exception { using Exception::Exception; };
void refuseLineBreak(const QString& fileName);

// How often the settings file was read from disk and written since the last reset.
struct TSettingsTraffic {
  int reads = 0;
  int writes = 0;
};
TSettingsTraffic settingsTraffic();
void resetSettingsTraffic();

// One read of (section, key): the value, or "" when the file, section or key is missing.
QString readSetting(const QString& section, const QString& key);
// One write of (section, key) = value; on disk when it returns. A key or value with a line break is
// refused with ELineBreakError.
void writeSetting(const QString& section, const QString& key, const QString& value);

// Reads raise EFOpenError when the file exists but cannot be read; writes raise EFCreateError when
// the file cannot be created or replaced and EWriteError when writing its bytes fails. A failed
// write leaves the previous file as it was.

// The four-number list of a selection: Left, Top, Right, Bottom.
QString encodeRectList(const TRectF& rect);
// The rectangle when the value holds exactly four items; nullopt for any other count. Items are
// read with the user's decimal separator or with "."; an item that is not a number under either
// raises EConvertError.
std::optional<TRectF> decodeRectList(const QString& value);
// The items of such a list: quoted items (a doubled quote stands for one; an unterminated quote runs
// to the end), unquoted ones ending at a comma or at a character with code 0 to 32.
QStringList splitRectList(const QString& value);

// The accessors of the main window and the ratio frames.
namespace SettingsAccess {
// Section "settings": the main window's values ("base_filename").
QString GetWindowSetting(const QString& name);
void SetWindowSetting(const QString& name, const QString& value);
// Section "images": a frame's source picture under its size key.
QString GetImageSetting(const QString& sizeKey);
void SetImageSetting(const QString& sizeKey, const QString& value);
// Section "selections": a frame's selection under its size key; nullopt when the stored value
// does not hold exactly four items (the frame then uses its default rectangle).
std::optional<TRectF> GetSelectionSetting(const QString& sizeKey);
void SetSelectionSetting(const QString& sizeKey, const TRectF& rect);
}  // namespace SettingsAccess
