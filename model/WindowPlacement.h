#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

class TSettingsStore;

// Where the window opens and which settings files it offers to open again, as kept in section
// "settings": the window's place and size (key "window_geometry": "x,y,width,height"), its tab (key
// "window_tab": the tab's index) and the settings files opened last (keys "recent1" to "recent8",
// the latest first).

extern const QString WindowGeometryKey;
extern const QString WindowTabKey;
constexpr int MaxRecentFiles = 8;

// The stored text of a place and size, and the place it names (nullopt-like: an empty rectangle for
// a text that names none).
QString geometryText(const QRect& geometry);
QRect geometryFromText(const QString& text);

// Where a window opens on a screen whose free area is available: the stored place when it lies on
// that area whole, otherwise the stored size (or the design size without one) moved inside it; a
// size larger than the free area is cut to it, and never below minimum unless the area itself is
// smaller. An empty place without a stored one means: centre it.
QRect placedGeometry(const QRect& stored, const QRect& available, const QSize& design, const QSize& minimum);

// The settings files opened last, as stored (missing and empty keys skipped).
QStringList storedRecentFiles(TSettingsStore& settings);
// The list after `opened` was opened from the settings file `current`: `opened` first, then
// `current`, then the rest, without repeats (letter case kept) and at most MaxRecentFiles.
QStringList recentFilesAfterOpening(const QStringList& recent, const QString& opened, const QString& current);
// Writes the list under its keys, emptying those it no longer fills (only keys whose value changes
// are written).
void storeRecentFiles(TSettingsStore& settings, const QStringList& recent);
