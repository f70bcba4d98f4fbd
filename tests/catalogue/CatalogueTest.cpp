#include "catalogue/SizeInfo.h"
#include "support/Paths.h"

#include <QFile>
#include <QSet>
#include <gtest/gtest.h>

TEST(Catalogue, GroupCountsAndDeviceCounts) {
  InitSizeInfos();
  const int expected[SizeGroupCount] = {21, 3, 3, 1, 1, 2, 7, 2, 4, 1, 2, 3, 3};
  int total = 0, iPhone = 0, iPad = 0, android = 0, both = 0;
  for (int g = 0; g < SizeGroupCount; ++g) {
    EXPECT_EQ(SizeGroups[g].size(), expected[g]) << "group " << g;
    for (const TSizeInfo& e : SizeGroups[g]) {
      ++total;
      iPhone += !e.iPhoneName.isEmpty();
      iPad += !e.iPadName.isEmpty();
      android += !e.AndroidName.isEmpty();
      both += (!e.iPhoneName.isEmpty() || !e.iPadName.isEmpty());
    }
  }
  EXPECT_EQ(total, 53);
  EXPECT_EQ(iPhone, 24);
  EXPECT_EQ(iPad, 27);
  EXPECT_EQ(android, 9);
  EXPECT_EQ(both, 46);  // a run for iPhone and iPad together
}

TEST(Catalogue, InvariantsHold) {
  InitSizeInfos();
  QSet<QString> names;
  QSet<QPair<int, int>> sizes;
  for (const TSizeInfos& group : SizeGroups) {
    ASSERT_FALSE(group.isEmpty());
    const TSizeInfo& first = group.front();
    for (const TSizeInfo& e : group) {
      EXPECT_GT(e.Width, 0);
      EXPECT_GT(e.Height, 0);
      EXPECT_FALSE(e.AndroidName.isEmpty() && e.iPhoneName.isEmpty() && e.iPadName.isEmpty());
      EXPECT_FALSE(sizes.contains({e.Width, e.Height})) << e.Width << "x" << e.Height;
      sizes.insert({e.Width, e.Height});
      for (const QString& n : {e.AndroidName, e.iPhoneName, e.iPadName}) {
        if (n.isEmpty())
          continue;
        EXPECT_FALSE(names.contains(n)) << n.toStdString();
        names.insert(n);
      }
      EXPECT_LE(qint64(e.Width) * e.Height, qint64(first.Width) * first.Height);
    }
  }
}

TEST(Catalogue, TheTwoDeviceEntriesAndTheOddName) {
  InitSizeInfos();
  const TSizeInfo& e120 = SizeGroups[0][3];
  EXPECT_EQ(e120.Width, 120);
  EXPECT_EQ(e120.iPhoneName, "iPhone_Spotlight120");
  EXPECT_EQ(e120.iPadName, "iPhone_AppIcon120");
  EXPECT_EQ(SizeGroups[1].front().Width, 2688);
  EXPECT_EQ(SizeGroups[1].front().Height, 1242);
  EXPECT_EQ(SizeGroups[7].front().Width, 1536);
  EXPECT_EQ(SizeGroups[7].front().Height, 2008);
  QStringList androidSizes;
  for (const TSizeInfos& group : SizeGroups)
    for (const TSizeInfo& e : group)
      if (!e.AndroidName.isEmpty())
        androidSizes << QStringLiteral("%1x%2").arg(e.Width).arg(e.Height);
  EXPECT_EQ(androidSizes.join(' ').toStdString(), "144x144 72x72 96x96 48x48 36x36 470x320 640x480 960x720 426x320");
}

// The benchmark peers carry their own listing of the sizes; both must agree entry by entry.
TEST(Catalogue, SizesAgreeWithThePeersListing) {
  QFile f(benchDir() + "/peers/catalogue.tsv");
  if (!f.open(QIODevice::ReadOnly))
    GTEST_SKIP() << "peers listing not present";
  InitSizeInfos();
  int rows = 0;
  while (!f.atEnd()) {
    const QList<QByteArray> cols = f.readLine().simplified().split(' ');
    if (cols.size() != 6)
      continue;
    const int g = cols[0].toInt(), s = cols[1].toInt();
    ASSERT_LT(s, SizeGroups[g].size());
    EXPECT_EQ(SizeGroups[g][s].Width, cols[2].toInt());
    EXPECT_EQ(SizeGroups[g][s].Height, cols[3].toInt());
    EXPECT_EQ(SizeGroups[g].front().Width, cols[4].toInt());
    ++rows;
  }
  EXPECT_EQ(rows, 53);
}

TEST(Catalogue, IOSAppIconsAreTheSquareGroupsIPhoneAndIPadIcons) {
  struct Case {
    const char* name;
    bool appIcon;
  };
  const Case cases[] = {
      {"iPhone_AppIcon180", true},   {"iPhone_Spotlight29", true},  {"iPad_SpotLight80", true},
      {"iPad_Setting58", true},      {"iPad_AppIcon83_5", true},    {"iPhone_Launch2208", false},
      {"Android_LauncherIcon144", false}, {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(isiOSAppIconName(QString::fromLatin1(c.name)), c.appIcon) << c.name;

  InitSizeInfos();
  for (int g = 0; g < SizeGroupCount; ++g) {
    EXPECT_EQ(holdsiOSAppIcons(SizeGroups[g]), g == 0) << "group " << g;
    const TSizeInfo& first = SizeGroups[g].constFirst();
    EXPECT_EQ(groupOfRatio(first.Width, first.Height), &SizeGroups[g]);
  }
  EXPECT_EQ(groupOfRatio(1024, 1024), nullptr);
}
