#pragma once

#include "platform/Types.h"

#include <QString>
#include <QStringList>
#include <optional>

// The settings file beside the executable, read and written value by value: every read loads and
// parses the whole file, every write loads it, changes one value and stores it back at once.
// Nothing is cached between accesses.

// The settings file in force: the running executable's path with its extension replaced by ".ini",
// unless an override is set (tests use a temporary file). Formed anew at every access.
QString settingsFilePath();
void setSettingsFilePathOverride(const QString& path);  // empty removes the override
// The settings file of an executable: its extension (the text from the last "." after the last "\\",
// "/" and ":") replaced by ".ini", or ".ini" appended when it has none; "" for "".
QString settingsPathForExecutable(const QString& executablePath);

// A run that must leave the settings file alone (the command line): useSettingsSnapshot reads the
// file in force once (raising EFOpenError when it exists but cannot be read); from then on every
// read is served from that copy and every write changes the copy only, so the file on disk is never
// written. dropSettingsSnapshot goes back to reading and writing the file.
void useSettingsSnapshot();
void dropSettingsSnapshot();

// One read of (section, key): the value, or "" when the file, section or key is missing.
QString readSetting(const QString& section, const QString& key);
// One write of (section, key) = value; on disk when it returns.
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
