#include "settings/Settings.h"

#include "platform/AtomicFile.h"
#include "platform/Blanks.h"
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QLockFile>
#include <QThread>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <functional>

namespace {
QString g_pathOverride;
// The copy that reads and writes use instead of the file, while a snapshot is in force.
std::optional<TSettingsFile> g_snapshot;

const QString kWindowSection = QStringLiteral("settings");
const QString kImageSection = QStringLiteral("images");
const QString kSelectionSection = QStringLiteral("selections");

TSettingsTraffic g_traffic;

// The parsed copy of the settings file last read or written.
struct CachedFile {
  bool valid = false;
  QString path;
  TFileStamp stamp;
  TSettingsFile model;
  bool normalised = false;  // the file is byte for byte what storing the model writes
};
CachedFile g_cache;

// The model of the settings file as it is on disk now, read again only when the file changed.
const TSettingsFile& currentFile(const QString& path) {
  static const TSettingsFile none;
  const std::optional<TFileStamp> stamp = fileStamp(path);
  if (!stamp) {
    g_cache = {};
    return none;
  }
  if (g_cache.valid && g_cache.path == path && g_cache.stamp == *stamp)
    return g_cache.model;
  g_cache = {};
  std::optional<TFileStamp> readStamp;
  TSettingsFile model = TSettingsFile::load(path, nullptr, &readStamp);
  ++g_traffic.reads;
  if (!readStamp)
    return none;
  g_cache.valid = true;
  g_cache.path = path;
  g_cache.stamp = *readStamp;
  g_cache.normalised = model.loadedAsStored();
  g_cache.model = std::move(model);
  return g_cache.model;
}

int g_lockWaitMs = 5000;
std::function<void()> g_storeHook;

// Held while one write loads, changes and stores the file; raises ESettingsInUseError when
// another instance holds it longer than the wait, and EFCreateError when no lock can be made.
class SettingsWriteLock {
public:
  explicit SettingsWriteLock(const QString& path) {
    if (path.isEmpty())
      return;  // no file, nothing to guard
    const QString lockPath = settingsLockPath(path);
    FLock.emplace(lockPath);
    // Only the lock of an instance that has ended is taken over, never one that is merely slow.
    FLock->setStaleLockTime(0);
    // Polled at short intervals: another instance holds it only for the few milliseconds of one write.
    QElapsedTimer waited;
    waited.start();
    int pauseMs = 1;
    while (!FLock->tryLock(0)) {
      if (FLock->error() != QLockFile::LockFailedError)
        throw EFCreateError(cannotCreateFileMessage(QDir::toNativeSeparators(lockPath),
                                                    FLock->error() == QLockFile::PermissionError
                                                        ? QStringLiteral("Permission denied")
                                                        : QStringLiteral("The lock cannot be made")));
      if (waited.elapsed() >= g_lockWaitMs)
        throw ESettingsInUseError(QStringLiteral("The settings file is in use by another Vellumark: ") +
                                  QDir::toNativeSeparators(path));
      QThread::msleep(pauseMs);
      pauseMs = std::min(pauseMs * 2, 16);
    }
  }

private:
  std::optional<QLockFile> FLock;
};

// A write that stores exactly the bytes already there changes nothing: it needs neither the
// lock nor the disk.
bool changesNothing(const QString& path, const QString& section, const QString& key, const QString& value) {
  const TSettingsFile& current = currentFile(path);
  return g_cache.valid && g_cache.normalised && current.holds(section, key, value);
}

}  // namespace

QString settingsLockPath(const QString& path) {
  const QString canonical = canonicalTarget(path);
  const QString file = canonical.isEmpty() ? QFileInfo(path).absoluteFilePath() : canonical;
  if (folderTakesNewFiles(QFileInfo(file).absolutePath()))
    return file + QStringLiteral(".lock");
  return userRuntimeFolder() + QStringLiteral("/vellumark-") +
         QString::fromLatin1(QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Sha1).toHex().left(24)) +
         QStringLiteral(".lock");
}

void setSettingsLockWait(int milliseconds) { g_lockWaitMs = milliseconds; }
void setSettingsStoreHook(std::function<void()> hook) { g_storeHook = std::move(hook); }

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

QString settingsPathForInstall(const QString& executablePath, const QString& userConfigFolder) {
  const QString beside = settingsPathForExecutable(executablePath);
  if (beside.isEmpty())
    return {};
  const QFileInfo file(beside);
  const bool portable = file.exists() ? file.isFile() && file.isWritable() : QFileInfo(file.absolutePath()).isWritable();
  if (portable || userConfigFolder.isEmpty())
    return beside;
  return QDir(userConfigFolder).filePath(QFileInfo(beside).fileName());
}

QString settingsFilePath() {
  if (!g_pathOverride.isEmpty())
    return g_pathOverride;
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

void setSettingsFilePathOverride(const QString& path) {
  g_pathOverride = path;
  g_cache = {};  // as at a new start
}

void useSettingsSnapshot() { g_snapshot = TSettingsFile::load(settingsFilePath()); }

void dropSettingsSnapshot() { g_snapshot.reset(); }

QString readSetting(const QString& section, const QString& key) {
  if (g_snapshot)
    return g_snapshot->value(section, key);
  return currentFile(settingsFilePath()).value(section, key);
}

void writeSetting(const QString& section, const QString& key, const QString& value) {
  refuseLineBreak(key);
  refuseLineBreak(value);
  if (g_snapshot) {
    g_snapshot->setValue(section, key, value);
    return;
  }
  const QString path = settingsFilePath();
  if (changesNothing(path, section, key, value))
    return;
  const SettingsWriteLock lock(path);
  // Read again under the lock (from memory when nobody changed the file meanwhile).
  if (changesNothing(path, section, key, value))
    return;
  TSettingsFile file = currentFile(path);
  if (g_storeHook)
    g_storeHook();
  g_cache = {};
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
  g_cache.valid = true;
  g_cache.path = path;
  g_cache.stamp = *stamp;
  g_cache.model = std::move(file);
  g_cache.normalised = exact;
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

QString GetWindowSetting(const QString& name) { return readSetting(kWindowSection, name); }
void SetWindowSetting(const QString& name, const QString& value) { writeSetting(kWindowSection, name, value); }

QString GetImageSetting(const QString& sizeKey) { return readSetting(kImageSection, sizeKey); }
void SetImageSetting(const QString& sizeKey, const QString& value) { writeSetting(kImageSection, sizeKey, value); }

std::optional<TRectF> GetSelectionSetting(const QString& sizeKey) {
  return decodeRectList(readSetting(kSelectionSection, sizeKey));
}
void SetSelectionSetting(const QString& sizeKey, const TRectF& rect) {
  writeSetting(kSelectionSection, sizeKey, encodeRectList(rect));
}

}  // namespace SettingsAccess
