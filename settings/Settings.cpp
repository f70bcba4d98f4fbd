#include "settings/Settings.h"

#include "platform/AtomicFile.h"
#include "platform/Blanks.h"
#include "platform/Errors.h"
#include "platform/FileLock.h"
#include "platform/NumberText.h"
#include "settings/SettingsFile.h"
#include "settings/StoredPaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>

namespace {

const QString kWindowSection = QStringLiteral("settings");
const QString kImageSection = QStringLiteral("images");
const QString kSelectionSection = QStringLiteral("selections");

TSettingsTraffic g_traffic;

// Held while one write loads, changes and stores the file: the system's lock on an open lock file,
// so it ends with the instance that holds it, however that instance ends. Raises ESettingsInUseError
// when another instance holds it longer than the wait, and EFCreateError when no lock can be made.
class SettingsWriteLock {
public:
  SettingsWriteLock(const QString& path, int lockWaitMs) {
    if (path.isEmpty())
      return;  // no file, nothing to guard
    const QString lockPath = settingsLockPath(path);
    if (lockPath.isEmpty())
      throw EFCreateError(cannotCreateFileMessage(QDir::toNativeSeparators(path) + QStringLiteral(".lock"),
                                                  QStringLiteral("There is no runtime folder for its lock")));
    // Polled at short intervals: another instance holds it only for the few milliseconds of one write.
    QElapsedTimer waited;
    waited.start();
    int pauseMs = 1;
    for (;;) {
      const TFileLock::Outcome outcome = FLock.TryLock(lockPath);
      if (outcome == TFileLock::Outcome::Locked)
        return;
      if (outcome == TFileLock::Outcome::Failed)
        throw EFCreateError(cannotCreateFileMessage(QDir::toNativeSeparators(lockPath), FLock.Reason()));
      if (waited.elapsed() >= lockWaitMs)
        throw ESettingsInUseError(QStringLiteral("The settings file is in use by another Vellumark: ") +
                                  QDir::toNativeSeparators(path));
      QThread::msleep(pauseMs);
      pauseMs = std::min(pauseMs * 2, 16);
    }
  }

private:
  TFileLock FLock;
};

}  // namespace

// The parsed copy of the settings file last read or written.
struct TSettingsStore::CachedFile {
  bool valid = false;
  QString path;
  TFileStamp stamp;
  TSettingsFile model;
  bool normalised = false;  // the file is byte for byte what storing the model writes
};

TSettingsStore::TSettingsStore(const QString& path) : FPath(path), FCache(std::make_unique<CachedFile>()) {}

TSettingsStore::~TSettingsStore() = default;

QString TSettingsStore::Path() const { return FPath.isEmpty() ? installSettingsPath() : FPath; }

void TSettingsStore::SetPath(const QString& path) {
  FPath = path;
  *FCache = {};  // as at a new start
}

void TSettingsStore::RecoverKilledWrites() {
  recoverInterruptedWrites();
  // The temporary files of a write lie beside the file it replaces: the one a link leads to.
  const QString target = canonicalTarget(Path());
  if (!target.isEmpty())
    removeLeftoverTemporaryFiles(QFileInfo(target).absolutePath());
}

void TSettingsStore::RefuseNonSettingsFile() {
  try {
    (void)CurrentFile(Path());
  } catch (const ENotSettingsFileError&) {
    throw;
  } catch (const Exception&) {
    // Reported by the reads that meet it.
  }
}

void TSettingsStore::TakeSnapshot() { FSnapshot = TSettingsFile::load(Path()); }

void TSettingsStore::DropSnapshot() { FSnapshot.reset(); }

const TSettingsFile& TSettingsStore::CurrentFile(const QString& path) {
  static const TSettingsFile none;
  CachedFile& cache = *FCache;
  const std::optional<TFileStamp> stamp = fileStamp(path);
  if (!stamp) {
    cache = {};
    return none;
  }
  if (cache.valid && cache.path == path && cache.stamp == *stamp)
    return cache.model;
  cache = {};
  std::optional<TFileStamp> readStamp;
  TSettingsFile model = TSettingsFile::load(path, nullptr, &readStamp);
  ++g_traffic.reads;
  if (!readStamp)
    return none;
  cache.valid = true;
  cache.path = path;
  cache.stamp = *readStamp;
  cache.normalised = model.loadedAsStored();
  cache.model = std::move(model);
  return cache.model;
}

bool TSettingsStore::ChangesNothing(const QString& path, const QString& section, const QString& key,
                                    const QString& value) {
  const TSettingsFile& current = CurrentFile(path);
  return FCache->valid && FCache->normalised && current.holds(section, key, value);
}

QString TSettingsStore::Read(const QString& section, const QString& key) {
  if (FSnapshot)
    return FSnapshot->value(section, key);
  return CurrentFile(Path()).value(section, key);
}

void TSettingsStore::Write(const QString& section, const QString& key, const QString& value) {
  refuseLineBreak(key);
  refuseLineBreak(value);
  if (FSnapshot) {
    FSnapshot->setValue(section, key, value);
    return;
  }
  // The order of the steps is what keeps two running instances from losing each other's values
  // and this instance's copy in memory true to the disk:
  // 1. A write that would store the bytes already there takes neither the lock nor the disk.
  // 2. Otherwise the lock is taken before anything is decided, and the file is looked at again
  //    under it: another instance may have written it since step 1 (the copy is read again only
  //    when the file's stamp changed).
  // 3. The copy in memory is dropped before the file is stored, so that a store that fails half
  //    way is never taken for the file's content by a later read.
  // 4. After the store, the copy is kept again under the stamp the stored file has now (what a
  //    load of it would give), so the next read needs no disk read; the lock goes last.
  const QString path = Path();
  if (ChangesNothing(path, section, key, value))
    return;
  const SettingsWriteLock lock(path, FLockWaitMs);
  if (ChangesNothing(path, section, key, value))
    return;
  TSettingsFile file = CurrentFile(path);
  if (FStoreHook)
    FStoreHook();
  *FCache = {};
  file.setValue(section, key, value);
  const TSettingsFile::Encoding stored = file.store(path);
  ++g_traffic.writes;
  // What a load of the stored file gives: its encoding, and the line as loading trims it.
  const std::optional<TFileStamp> stamp = fileStamp(path);
  if (!stamp)
    return;
  const QString trimmedKey = trimBlanks(key), trimmedValue = trimBlanks(value);
  const bool exact = trimmedKey == key && trimmedValue == value && trimBlanks(section) == section;
  file.setEncoding(stored);
  if (!exact)
    file.setValue(section, trimmedKey, trimmedValue);
  CachedFile& cache = *FCache;
  cache.valid = true;
  cache.path = path;
  cache.stamp = *stamp;
  cache.model = std::move(file);
  cache.normalised = exact;
}

QString TSettingsStore::WindowSetting(const QString& name) { return Read(kWindowSection, name); }
void TSettingsStore::SetWindowSetting(const QString& name, const QString& value) {
  Write(kWindowSection, name, value);
}

QString TSettingsStore::ImageSetting(const QString& sizeKey) { return Read(kImageSection, sizeKey); }
void TSettingsStore::SetImageSetting(const QString& sizeKey, const QString& value) {
  Write(kImageSection, sizeKey, value);
}

std::optional<TRectF> TSettingsStore::SelectionSetting(const QString& sizeKey) {
  return decodeRectList(Read(kSelectionSection, sizeKey));
}
void TSettingsStore::SetSelectionSetting(const QString& sizeKey, const TRectF& rect) {
  Write(kSelectionSection, sizeKey, encodeRectList(rect));
}

QString TSettingsStore::Folder() const {
  const QString path = Path();
  return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

QString TSettingsStore::ResolvedPath(const QString& stored) const { return resolveStoredPath(stored, Folder()); }

bool TSettingsStore::RelativePathsWanted() { return WindowSetting(RelativePathsKey) == QStringLiteral("1"); }

QString TSettingsStore::PathToStore(const QString& path, bool relative) const {
  const QString folder = Folder();
  const QString full = resolveStoredPath(path, folder);
  if (relative)
    if (const std::optional<QString> below = relativeStoredPath(full, folder))
      return *below;
  return full;
}

TSettingsStore& Settings() {
  static TSettingsStore store;
  return store;
}

QString settingsLockPath(const QString& path) {
  const QString canonical = canonicalTarget(path);
  const QString file = canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
  if (folderTakesNewFiles(QFileInfo(file).absolutePath()))
    return file + QStringLiteral(".lock");
  const QString runtime = userRuntimeFolder();
  if (runtime.isEmpty())
    return {};
  return runtime + QStringLiteral("/vellumark-") +
         QString::fromLatin1(QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Sha1).toHex().left(24)) +
         QStringLiteral(".lock");
}

void setSettingsLockWait(int milliseconds) { Settings().SetLockWait(milliseconds); }
void setSettingsStoreHook(std::function<void()> hook) { Settings().SetStoreHook(std::move(hook)); }

void refuseLineBreak(const QString& fileName) {
  if (fileName.contains(u'\r') || fileName.contains(u'\n'))
    throw ELineBreakError(QStringLiteral("A file name with a line break cannot be used: ") + fileName);
}

TSettingsTraffic settingsTraffic() { return g_traffic; }
void resetSettingsTraffic() { g_traffic = {}; }

QString settingsPathForExecutable(const QString& executablePath) {
  if (executablePath.isEmpty())
    return {};
  const qsizetype separator = std::max({executablePath.lastIndexOf(u'\\'), executablePath.lastIndexOf(u'/'),
                                        executablePath.lastIndexOf(u':')});
  const qsizetype dot = executablePath.lastIndexOf(u'.');
  if (dot > separator)
    return executablePath.left(dot) + QStringLiteral(".ini");
  return executablePath + QStringLiteral(".ini");
}

const QString InstalledMarkerName = QStringLiteral("Vellumark.installed");

QString settingsPathForInstall(const QString& executablePath, const QString& userConfigFolder) {
  const QString beside = settingsPathForExecutable(executablePath);
  if (beside.isEmpty())
    return {};
  const QFileInfo file(beside);
  // A copy the installer put in place keeps its settings in the user's folder, out of the way of an
  // upgrade or an uninstall, though the user may write its folder.
  const bool installed = QFileInfo(QDir(file.absolutePath()).filePath(InstalledMarkerName)).isFile();
  const bool portable = !installed && (file.exists() ? file.isFile() && file.isWritable()
                                                     : QFileInfo(file.absolutePath()).isWritable());
  if (portable || userConfigFolder.isEmpty())
    return beside;
  return QDir(userConfigFolder).filePath(QFileInfo(beside).fileName());
}

QString settingsFilePath() { return Settings().Path(); }

QString installSettingsPath() {
  // Chosen once: where the file lives does not change while the program runs.
  static const QString chosen = [] {
#ifdef Q_OS_WIN
    // The roaming profile (%APPDATA%\Vellumark), which follows the user from machine to machine.
    const auto location = QStandardPaths::AppDataLocation;
#else
    const auto location = QStandardPaths::AppConfigLocation;
#endif
    const QString path = settingsPathForInstall(QCoreApplication::applicationFilePath(),
                                                QStandardPaths::writableLocation(location));
    const QString folder = QFileInfo(path).absolutePath();
    if (!path.isEmpty() && !QFileInfo::exists(folder))
      QDir().mkpath(folder);
    return path;
  }();
  return chosen;
}

void setSettingsFilePathOverride(const QString& path) { Settings().SetPath(path); }

void useSettingsSnapshot() { Settings().TakeSnapshot(); }

void dropSettingsSnapshot() { Settings().DropSnapshot(); }

QString readSetting(const QString& section, const QString& key) { return Settings().Read(section, key); }

void writeSetting(const QString& section, const QString& key, const QString& value) {
  Settings().Write(section, key, value);
}

QString encodeRectList(const TRectF& rect) {
  QStringList items;
  for (const float coordinate : {rect.Left, rect.Top, rect.Right, rect.Bottom}) {
    QString item = floatToText(double(coordinate));
    bool quote = false;
    for (const QChar c : item)
      if (isBlankCode(c) || c == u'"' || c == u',')
        quote = true;
    if (quote) {
      item.replace(u'"', QStringLiteral("\"\""));
      item = u'"' + item + u'"';
    }
    items.append(item);
  }
  return items.join(u',');
}

QStringList splitRectList(const QString& value) {
  // Blanks and control characters (codes 0 to 32) end an unquoted item and separate items just as a
  // comma does; a comma at the very end adds an empty item.
  QStringList items;
  const qsizetype n = value.size();
  qsizetype i = 0;
  auto skipBlanks = [&] {
    while (i < n && isBlankCode(value[i]))
      ++i;
  };
  skipBlanks();
  while (i < n) {
    QString item;
    if (value[i] == u'"') {
      ++i;
      while (i < n) {
        if (value[i] == u'"') {
          if (i + 1 < n && value[i + 1] == u'"') {
            item += u'"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += value[i++];
      }
    } else {
      const qsizetype start = i;
      while (i < n && !isBlankCode(value[i]) && value[i] != u',')
        ++i;
      item = value.mid(start, i - start);
    }
    items.append(item);
    skipBlanks();
    if (i < n && value[i] == u',') {
      if (i == n - 1)
        items.append(QString());
      ++i;
      skipBlanks();
    }
  }
  return items;
}

std::optional<TRectF> decodeRectList(const QString& value) {
  const QStringList items = splitRectList(value);
  if (items.size() != 4)
    return std::nullopt;
  const QChar separator = decimalSeparator();
  // The user's decimal separator, or ".", so that a file written under a locale with "." keeps its
  // selections under any other. A number beyond single precision's range would become infinite, be
  // written back as text that no reader accepts and stop every later start; it is refused like any
  // other item that is no number.
  auto toSingle = [separator](const QString& item) {
    double number = 0;
    if (!tryTextToFloat(item, separator, number) && !tryTextToFloat(item, u'.', number))
      raiseNotAFloat(item);
    const float value = static_cast<float>(number);
    if (std::isinf(value))
      raiseNotAFloat(item);
    return value;
  };
  TRectF rect;
  rect.Left = toSingle(items[0]);
  rect.Top = toSingle(items[1]);
  rect.Right = toSingle(items[2]);
  rect.Bottom = toSingle(items[3]);
  return rect;
}

namespace SettingsAccess {

QString GetWindowSetting(const QString& name) { return Settings().WindowSetting(name); }
void SetWindowSetting(const QString& name, const QString& value) { Settings().SetWindowSetting(name, value); }

QString GetImageSetting(const QString& sizeKey) { return Settings().ImageSetting(sizeKey); }
void SetImageSetting(const QString& sizeKey, const QString& value) { Settings().SetImageSetting(sizeKey, value); }

std::optional<TRectF> GetSelectionSetting(const QString& sizeKey) { return Settings().SelectionSetting(sizeKey); }
void SetSelectionSetting(const QString& sizeKey, const TRectF& rect) { Settings().SetSelectionSetting(sizeKey, rect); }

}  // namespace SettingsAccess
