#include "model/WindowPlacement.h"

#include "settings/Settings.h"

#include <QDir>
#include <algorithm>

const QString WindowGeometryKey = QStringLiteral("window_geometry");
const QString WindowTabKey = QStringLiteral("window_tab");

namespace {
QString recentKey(int index) { return QStringLiteral("recent%1").arg(index + 1); }
}  // namespace

QString geometryText(const QRect& geometry) {
  return QStringLiteral("%1,%2,%3,%4").arg(geometry.x()).arg(geometry.y()).arg(geometry.width()).arg(geometry.height());
}

QRect geometryFromText(const QString& text) {
  const QStringList parts = text.split(u',');
  if (parts.size() != 4)
    return {};
  int values[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = parts[i].trimmed().toInt(&ok);
    if (!ok)
      return {};
  }
  if (values[2] <= 0 || values[3] <= 0 || values[2] > 100000 || values[3] > 100000)
    return {};
  return {values[0], values[1], values[2], values[3]};
}

QRect placedGeometry(const QRect& stored, const QRect& available, const QSize& design, const QSize& minimum) {
  if (available.isEmpty())
    return stored.isEmpty() ? QRect(QPoint(), design) : stored;
  if (!stored.isEmpty() && available.contains(stored))
    return stored;
  QSize size = stored.isEmpty() ? design : stored.size();
  size = size.expandedTo(minimum).boundedTo(available.size());
  QRect placed(QPoint(), size);
  if (stored.isEmpty()) {
    placed.moveCenter(available.center());
  } else {
    placed.moveTopLeft(stored.topLeft());
    // Moved inside the free area, keeping as much of the stored place as fits.
    placed.moveLeft(std::clamp(placed.left(), available.left(), available.right() - size.width() + 1));
    placed.moveTop(std::clamp(placed.top(), available.top(), available.bottom() - size.height() + 1));
  }
  return placed;
}

QStringList storedRecentFiles(TSettingsStore& settings) {
  QStringList recent;
  for (int i = 0; i < MaxRecentFiles; ++i)
    if (const QString path = settings.WindowSetting(recentKey(i)); !path.isEmpty())
      recent << path;
  return recent;
}

QStringList recentFilesAfterOpening(const QStringList& recent, const QString& opened, const QString& current) {
  QStringList list;
  const auto sameFile = [](const QString& a, const QString& b) {
    return QDir::cleanPath(QDir::fromNativeSeparators(a)) == QDir::cleanPath(QDir::fromNativeSeparators(b));
  };
  for (const QString& path : QStringList{opened, current} + recent) {
    if (path.isEmpty() || std::any_of(list.begin(), list.end(), [&](const QString& p) { return sameFile(p, path); }))
      continue;
    list << path;
    if (list.size() == MaxRecentFiles)
      break;
  }
  return list;
}

void storeRecentFiles(TSettingsStore& settings, const QStringList& recent) {
  for (int i = 0; i < MaxRecentFiles; ++i) {
    const QString value = i < recent.size() ? recent[i] : QString();
    if (settings.WindowSetting(recentKey(i)) != value)
      settings.SetWindowSetting(recentKey(i), value);
  }
}
