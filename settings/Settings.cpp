#include "settings/Settings.h"

#include "platform/Blanks.h"
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/SettingsFile.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {
QString g_pathOverride;
// The copy that reads and writes use instead of the file, while a snapshot is in force.
std::optional<TSettingsFile> g_snapshot;

const QString kWindowSection = QStringLiteral("settings");
const QString kImageSection = QStringLiteral("images");
const QString kSelectionSection = QStringLiteral("selections");

}  // namespace

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

QString settingsFilePath() {
  if (!g_pathOverride.isEmpty())
    return g_pathOverride;
  return settingsPathForExecutable(QCoreApplication::applicationFilePath());
}

void setSettingsFilePathOverride(const QString& path) { g_pathOverride = path; }

void useSettingsSnapshot() { g_snapshot = TSettingsFile::load(settingsFilePath()); }

void dropSettingsSnapshot() { g_snapshot.reset(); }

QString readSetting(const QString& section, const QString& key) {
  if (g_snapshot)
    return g_snapshot->value(section, key);
  return TSettingsFile::load(settingsFilePath()).value(section, key);
}

void writeSetting(const QString& section, const QString& key, const QString& value) {
  if (g_snapshot) {
    g_snapshot->setValue(section, key, value);
    return;
  }
  const QString path = settingsFilePath();
  TSettingsFile file = TSettingsFile::load(path);
  file.setValue(section, key, value);
  file.store(path);
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
