#include "catalogue/SizeInfo.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The classic set as the program has always made it, row by row. The names become element names
// in the option-set files the IDE reads, so every letter counts ("SpotLight" and "Spotlight" both
// occur, and the 120 x 120 entry carries an iPhone name in its iPad column).
struct ClassicRow {
  int group, width, height;
  const char *android, *iPhone, *iPad;
};

const ClassicRow ClassicTable[] = {
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


// The current set: the IDE's published property names, grouped by the file that serves them.
struct CurrentRow {
  const char* group;  // the group's key
  int width, height;  // pixels; the launch screen's: the scale of its points
  bool dark;
  const char *iPhone, *iPad, *android, *iOS;
};
const CurrentRow CurrentTable[] = {
    {"180_180", 180, 180, false, "iPhone_AppIcon180", "", "", ""},
    {"180_180", 167, 167, false, "", "iPad_AppIcon167", "", ""},
    {"180_180", 152, 152, false, "", "iPad_AppIcon152", "", ""},
    {"180_180", 120, 120, false, "iPhone_AppIcon120 iPhone_Spotlight120", "", "", ""},
    {"180_180", 87, 87, false, "iPhone_Setting87", "", "", ""},
    {"180_180", 80, 80, false, "iPhone_Spotlight80", "iPad_SpotLight80", "", ""},
    {"180_180", 60, 60, false, "iPhone_Notification60", "", "", ""},
    {"180_180", 58, 58, false, "iPhone_Setting58", "iPad_Setting58", "", ""},
    {"180_180", 40, 40, false, "iPhone_Notification40", "iPad_Notification40", "", ""},
    {"180_180", 192, 192, false, "", "", "Android_LauncherIcon192", ""},
    {"180_180", 144, 144, false, "", "", "Android_LauncherIcon144", ""},
    {"180_180", 96, 96, false, "", "", "Android_LauncherIcon96", ""},
    {"180_180", 72, 72, false, "", "", "Android_LauncherIcon72", ""},
    {"180_180", 48, 48, false, "", "", "Android_LauncherIcon48", ""},
    {"180_180", 36, 36, false, "", "", "Android_LauncherIcon36", ""},
    {"180_180", 1024, 1024, false, "", "", "", "iOS_AppStore1024"},
    {"470_320", 470, 320, false, "", "", "Android_SplashImage470", ""},
    {"2732_2048", 640, 480, false, "", "", "Android_SplashImage640", ""},
    {"2732_2048", 960, 720, false, "", "", "Android_SplashImage960", ""},
    {"2732_2048", 426, 320, false, "", "", "Android_SplashImage426", ""},
    {"launch_screen", 2, 2, false, "iPhone_Launch2x", "iPad_Launch2x", "", ""},
    {"launch_screen", 3, 3, false, "iPhone_Launch3x", "", "", ""},
    {"launch_screen", 2, 2, true, "iPhone_LaunchDark2x", "iPad_LaunchDark2x", "", ""},
    {"launch_screen", 3, 3, true, "iPhone_LaunchDark3x", "", "", ""},
    {"notification", 96, 96, false, "", "", "Android_NotificationIcon96", ""},
    {"notification", 72, 72, false, "", "", "Android_NotificationIcon72", ""},
    {"notification", 48, 48, false, "", "", "Android_NotificationIcon48", ""},
    {"notification", 36, 36, false, "", "", "Android_NotificationIcon36", ""},
    {"notification", 24, 24, false, "", "", "Android_NotificationIcon24", ""},
};

QStringList namesOf(const char* cell) { return QString::fromLatin1(cell).split(u' ', Qt::SkipEmptyParts); }

QStringList allNames(const TSetEntry& e) { return e.AndroidNames + e.iPhoneNames + e.iPadNames + e.iOSNames; }

const TFileSet Sets[] = {TFileSet::Classic, TFileSet::Current};

}  // namespace

// The counts the program shows (groups, files) come from the tables, and the classic set has the
// groups and files of the table above.
TEST(Catalogue, CountsAreTheTablesCounts) {
  InitSizeInfos();
  QList<int> perGroup;
  for (const ClassicRow& r : ClassicTable) {
    perGroup.resize(std::max<qsizetype>(perGroup.size(), r.group + 1));
    ++perGroup[r.group];
  }
  EXPECT_EQ(SizeGroupCount, perGroup.size());
  EXPECT_EQ(ClassicFileCount, int(std::size(ClassicTable)));
  EXPECT_EQ(fileCountOf(TFileSet::Classic), ClassicFileCount);
  EXPECT_EQ(fileCountOf(TFileSet::Current), int(std::size(CurrentTable)));
  int total = 0;
  for (int g = 0; g < SizeGroupCount; ++g) {
    EXPECT_EQ(SizeGroups[g].size(), perGroup[g]) << "group " << g;
    total += SizeGroups[g].size();
  }
  EXPECT_EQ(total, ClassicFileCount);
  EXPECT_EQ(groupsOfSet(TFileSet::Classic).size(), SizeGroupCount);
  QStringList currentKeys;
  for (int g : groupsOfSet(TFileSet::Current))
    currentKeys << groupInfo(g).Key;
  EXPECT_EQ(currentKeys.join(u' '), "180_180 470_320 2732_2048 launch_screen notification");
  EXPECT_FALSE(namesAppStoreIcon(TFileSet::Classic));
  EXPECT_TRUE(namesAppStoreIcon(TFileSet::Current));
}

// The groups: the classic ones keep the size keys of their frames (the key of their largest file),
// the two new ones have their own keys and words; no key twice.
TEST(Catalogue, GroupsKeepTheirKeys) {
  InitSizeInfos();
  QSet<QString> keys;
  for (int g = 0; g < AllGroupCount; ++g) {
    const TGroupInfo& info = groupInfo(g);
    EXPECT_FALSE(keys.contains(info.Key)) << info.Key.toStdString();
    keys.insert(info.Key);
    if (g < SizeGroupCount) {
      const TSizeInfo& first = SizeGroups[g].constFirst();
      EXPECT_EQ(info.Key, QStringLiteral("%1_%2").arg(first.Width).arg(first.Height));
      EXPECT_EQ(info.Width, first.Width);
      EXPECT_EQ(info.Height, first.Height);
      EXPECT_TRUE(info.Word.isEmpty() && info.DarkKey.isEmpty() && !info.InPoints);
    }
  }
  EXPECT_EQ(AllGroupCount, SizeGroupCount + 2);
  const TGroupInfo& launch = groupInfo(LaunchScreenGroup);
  EXPECT_EQ(launch.Key, "launch_screen");
  EXPECT_EQ(launch.Word, "Launch");
  EXPECT_EQ(launch.DarkKey, "launch_screen_dark");
  EXPECT_TRUE(launch.InPoints);
  const TGroupInfo& notification = groupInfo(NotificationGroup);
  EXPECT_EQ(notification.Key, "notification");
  EXPECT_EQ(notification.Word, "Notification");
  EXPECT_TRUE(notification.DarkKey.isEmpty());
  EXPECT_EQ(launch.Width, launch.Height);
  EXPECT_EQ(notification.Width, notification.Height);
}

// Rules every set's table keeps: each file is named by some property, no property twice, no two
// files of one name, each file near its group's ratio, the groups in run order.
TEST(Catalogue, EverySetKeepsTheTableRules) {
  for (TFileSet set : Sets) {
    SCOPED_TRACE(int(set));
    QSet<QString> names, files;
    int group = 0;
    for (const TSetEntry& e : setEntries(set)) {
      const TGroupInfo& info = groupInfo(e.Group);
      SCOPED_TRACE(testing::Message() << info.Key.toStdString() << " " << e.Width << "x" << e.Height);
      EXPECT_GE(e.Group, group) << "groups in index order";
      group = e.Group;
      EXPECT_GT(e.Width, 0);
      EXPECT_GT(e.Height, 0);
      EXPECT_FALSE(allNames(e).isEmpty());
      for (const QString& n : allNames(e)) {
        EXPECT_FALSE(names.contains(n)) << n.toStdString();
        names.insert(n);
      }
      const QString file = QStringLiteral("%1%2 %3x%4").arg(info.Word, e.Dark ? QStringLiteral("Dark") : QString()).arg(e.Width).arg(e.Height);
      EXPECT_FALSE(files.contains(file)) << file.toStdString();
      files.insert(file);
      EXPECT_NEAR(double(e.Width) / e.Height, double(info.Width) / info.Height, 0.01 * info.Width / info.Height);
      EXPECT_TRUE(!e.Dark || !info.DarkKey.isEmpty());
      EXPECT_EQ(e.AppStoreIcon, e.Width == 1024 && e.Height == 1024);
    }
  }
}

// The classic set is today's SizeGroups, entry by entry.
TEST(Catalogue, EveryEntryHasItsSizeAndPropertyNames) {
  InitSizeInfos();
  int slot[SizeGroupCount] = {};
  for (const ClassicRow& r : ClassicTable) {
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
  // The set-aware form of the same table, in the same order.
  const QList<TSetEntry>& entries = setEntries(TFileSet::Classic);
  ASSERT_EQ(entries.size(), int(std::size(ClassicTable)));
  for (int i = 0; i < entries.size(); ++i) {
    const ClassicRow& r = ClassicTable[i];
    const TSetEntry& e = entries[i];
    EXPECT_EQ(e.Group, r.group);
    EXPECT_EQ(e.Width, r.width);
    EXPECT_EQ(e.Height, r.height);
    EXPECT_EQ(e.AndroidNames, namesOf(r.android));
    EXPECT_EQ(e.iPhoneNames, namesOf(r.iPhone));
    EXPECT_EQ(e.iPadNames, namesOf(r.iPad));
    EXPECT_TRUE(e.iOSNames.isEmpty() && !e.Dark && !e.AppStoreIcon);
  }
}

// The current set is the IDE's list, each property under the file of its size; the number in an
// icon's name is its size, a launch image's "2x" its scale.
TEST(Catalogue, TheCurrentSetIsTheIDEsList) {
  const QList<TSetEntry>& entries = setEntries(TFileSet::Current);
  ASSERT_EQ(entries.size(), int(std::size(CurrentTable)));
  for (int i = 0; i < entries.size(); ++i) {
    const CurrentRow& r = CurrentTable[i];
    const TSetEntry& e = entries[i];
    SCOPED_TRACE(testing::Message() << r.group << " " << r.width << "x" << r.height);
    EXPECT_EQ(groupInfo(e.Group).Key, QString::fromLatin1(r.group));
    EXPECT_EQ(e.Width, r.width);
    EXPECT_EQ(e.Height, r.height);
    EXPECT_EQ(e.Dark, r.dark);
    EXPECT_EQ(e.iPhoneNames, namesOf(r.iPhone));
    EXPECT_EQ(e.iPadNames, namesOf(r.iPad));
    EXPECT_EQ(e.AndroidNames, namesOf(r.android));
    EXPECT_EQ(e.iOSNames, namesOf(r.iOS));
    static const QRegularExpression number(QStringLiteral("(\\d+)(x?)$"));
    for (const QString& n : allNames(e)) {
      const QRegularExpressionMatch m = number.match(n);
      ASSERT_TRUE(m.hasMatch()) << n.toStdString();
      EXPECT_EQ(m.captured(1).toInt(), e.Width) << n.toStdString();
      EXPECT_EQ(m.captured(2).isEmpty(), !groupInfo(e.Group).InPoints) << n.toStdString();
    }
  }
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
