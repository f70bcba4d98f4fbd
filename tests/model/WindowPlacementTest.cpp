#include "model/WindowPlacement.h"

#include "settings/Settings.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
static void PrintTo(const QRect& r, std::ostream* os) { *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height(); }
QT_END_NAMESPACE

// Where the window opens: the stored place when it lies on the free area, otherwise moved and cut
// to fit it; the design size centred without one.
TEST(WindowPlacement, TheWindowOpensWhollyOnTheFreeArea) {
  const QRect screen(0, 0, 1280, 1000);
  const QSize design(663, 630), minimum(600, 500);
  struct Case {
    const char* name;
    QRect stored;
    QRect available;
    QRect expected;
  } cases[] = {
      {"first start: the design size, centred", {}, screen, {308, 185, 663, 630}},
      {"a stored place on the screen is kept", {100, 50, 800, 700}, screen, {100, 50, 800, 700}},
      {"larger than the free area: cut to it", {0, 0, 1326, 1218}, screen, {0, 0, 1280, 1000}},
      {"off the right edge: moved back", {1000, 100, 800, 700}, screen, {480, 100, 800, 700}},
      {"above the top: moved down", {10, -300, 800, 700}, screen, {10, 0, 800, 700}},
      {"a screen smaller than the minimum wins over it", {}, {0, 0, 500, 400}, {0, 0, 500, 400}},
      {"a free area below a panel", {0, 0, 800, 700}, {0, 40, 1280, 960}, {0, 40, 800, 700}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QRect placed = placedGeometry(c.stored, c.available, design, minimum);
    EXPECT_EQ(placed, c.expected);
    EXPECT_TRUE(c.available.contains(placed));
  }
}

TEST(WindowPlacement, OnlyAWholePlaceIsReadBack) {
  EXPECT_EQ(geometryFromText(geometryText({-20, 30, 800, 600})), QRect(-20, 30, 800, 600));
  for (const char* text : {"", "1,2,3", "1,2,3,4,5", "a,b,c,d", "0,0,0,600", "0,0,800,-1", "0,0,800,999999"})
    EXPECT_TRUE(geometryFromText(text).isEmpty()) << text;
}

// The recent list: the file opened first, then the one left, without repeats, at most eight; it is
// written under its keys, emptying those it no longer fills.
TEST(WindowPlacement, RecentFilesKeepTheLatestEightOnce) {
  QStringList recent;
  for (int i = 0; i < 8; ++i)
    recent << QStringLiteral("/p/f%1.ini").arg(i);
  const QStringList after = recentFilesAfterOpening(recent, "/p/f3.ini", "/p/new.ini");
  EXPECT_EQ(after, QStringList({"/p/f3.ini", "/p/new.ini", "/p/f0.ini", "/p/f1.ini", "/p/f2.ini", "/p/f4.ini",
                                "/p/f5.ini", "/p/f6.ini"}));
  EXPECT_EQ(recentFilesAfterOpening({"/p/./a.ini"}, "/p/a.ini", ""), QStringList({"/p/a.ini"}));

  QTemporaryDir dir;
  TSettingsStore settings(dir.filePath("Vellumark.ini"));
  storeRecentFiles(settings, after);
  EXPECT_EQ(storedRecentFiles(settings), after);
  storeRecentFiles(settings, {"/p/x.ini"});
  EXPECT_EQ(storedRecentFiles(settings), QStringList({"/p/x.ini"}));
  EXPECT_EQ(settings.WindowSetting("recent2"), QString());
}
