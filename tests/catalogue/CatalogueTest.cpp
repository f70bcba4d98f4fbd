#include "catalogue/SizeInfo.h"

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

// The whole catalogue, row by row. The names become element names in the option-set files the IDE
// reads, so every letter counts ("SpotLight" and "Spotlight" both occur, and the 120 x 120 entry
// carries an iPhone name in its iPad column).
TEST(Catalogue, EveryEntryHasItsSizeAndPropertyNames) {
  struct Row {
    int group, width, height;
    const char *android, *iPhone, *iPad;
  };
  const Row rows[] = {
      {0, 180, 180, "", "iPhone_AppIcon180", ""},
      {0, 152, 152, "", "", "iPad_AppIcon152"},
      {0, 76, 76, "", "", "iPad_AppIcon76"},
      {0, 120, 120, "", "iPhone_Spotlight120", "iPhone_AppIcon120"},
      {0, 57, 57, "", "iPhone_AppIcon57", ""},
      {0, 60, 60, "", "iPhone_AppIcon60", ""},
      {0, 29, 29, "", "iPhone_Spotlight29", "iPad_Setting29"},
      {0, 80, 80, "", "iPhone_Spotlight80", "iPad_SpotLight80"},
      {0, 58, 58, "", "iPhone_Spotlight58", "iPad_Setting58"},
      {0, 40, 40, "", "iPhone_Spotlight40", "iPad_SpotLight40"},
      {0, 114, 114, "", "iPhone_AppIcon114", ""},
      {0, 100, 100, "", "", "iPad_SpotLight100"},
      {0, 144, 144, "Android_LauncherIcon144", "", "iPad_AppIcon144"},
      {0, 50, 50, "", "", "iPad_SpotLight50"},
      {0, 72, 72, "Android_LauncherIcon72", "", "iPad_AppIcon72"},
      {0, 96, 96, "Android_LauncherIcon96", "", ""},
      {0, 48, 48, "Android_LauncherIcon48", "", ""},
      {0, 36, 36, "Android_LauncherIcon36", "", ""},
      {0, 87, 87, "", "iPhone_AppIcon87", ""},
      {0, 83, 83, "", "", "iPad_AppIcon83_5"},
      {0, 167, 167, "", "", "iPad_AppIcon167"},
      {1, 2688, 1242, "", "iPhone_Launch2688x1242", ""},
      {1, 2436, 1125, "", "iPhone_Launch2436", ""},
      {1, 1792, 828, "", "iPhone_Launch1792", ""},
      {2, 2208, 1242, "", "iPhone_Launch2208", ""},
      {2, 1136, 640, "", "iPhone_Launch1136x640", ""},
      {2, 1334, 750, "", "iPhone_Launch1334", ""},
      {3, 470, 320, "Android_SplashImage470", "", ""},
      {4, 2388, 1668, "", "", "iPad_Launch2388x1668"},
      {5, 2048, 1496, "", "", "iPad_Launch2048"},
      {5, 1024, 748, "", "", "iPad_Launch1024"},
      {6, 2732, 2048, "", "", "iPad_Launch2732x2048"},
      {6, 2224, 1668, "", "", "iPad_Launch2224"},
      {6, 2048, 1536, "", "", "iPad_Launch2048x1536"},
      {6, 1024, 768, "", "", "iPad_Launch1024x768"},
      {6, 640, 480, "Android_SplashImage640", "", ""},
      {6, 960, 720, "Android_SplashImage960", "", ""},
      {6, 426, 320, "Android_SplashImage426", "", ""},
      {7, 1536, 2008, "", "", "iPad_Launch1536"},
      {7, 768, 1004, "", "", "iPad_Launch768"},
      {8, 2048, 2732, "", "", "iPad_Launch2048x2732"},
      {8, 1536, 2048, "", "", "iPad_Launch1536x2048"},
      {8, 768, 1024, "", "", "iPad_Launch768x1024"},
      {8, 1668, 2224, "", "", "iPad_Launch1668"},
      {9, 1668, 2388, "", "", "iPad_Launch1668x2388"},
      {10, 640, 960, "", "iPhone_Launch640", ""},
      {10, 320, 480, "", "iPhone_Launch320", ""},
      {11, 1242, 2208, "", "iPhone_Launch1242", ""},
      {11, 750, 1334, "", "iPhone_Launch750", ""},
      {11, 640, 1136, "", "iPhone_Launch640x1136", ""},
      {12, 1242, 2688, "", "iPhone_Launch1242x2688", ""},
      {12, 1125, 2436, "", "iPhone_Launch1125", ""},
      {12, 828, 1792, "", "iPhone_Launch828", ""},
  };
  InitSizeInfos();
  int slot[SizeGroupCount] = {};
  for (const Row& r : rows) {
    const int s = slot[r.group]++;
    SCOPED_TRACE(testing::Message() << "group " << r.group << " slot " << s);
    ASSERT_LT(s, SizeGroups[r.group].size());
    const TSizeInfo& e = SizeGroups[r.group][s];
    EXPECT_EQ(e.Width, r.width);
    EXPECT_EQ(e.Height, r.height);
    EXPECT_EQ(e.AndroidName.toStdString(), r.android);
    EXPECT_EQ(e.iPhoneName.toStdString(), r.iPhone);
    EXPECT_EQ(e.iPadName.toStdString(), r.iPad);
  }
  for (int g = 0; g < SizeGroupCount; ++g)
    EXPECT_EQ(SizeGroups[g].size(), slot[g]) << "group " << g << " has entries the table does not list";
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
