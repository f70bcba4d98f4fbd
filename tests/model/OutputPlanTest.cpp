#include "catalogue/SizeInfo.h"
#include "model/OutputPlan.h"
#include "model/ClassicPlans.h"

#include <QSet>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct PlanRow {
  const char* says;
  bool android, iPhone, iPad, optsets, appStoreIcon;
  int pngs;                 // files in the plan
  const char* first;        // the first file's name
  int iconAt;               // where the App Store icon stands in the run order; -1 none
  bool androidOptset, iOSOptset;
};

TRunChoices choicesOf(const PlanRow& row) {
  TRunChoices c;
  c.Android = row.android;
  c.iPhone = row.iPhone;
  c.iPad = row.iPad;
  c.Optsets = row.optsets;
  c.AppStoreIcon = row.appStoreIcon;
  c.Folder = QStringLiteral("/out");
  c.Stem = QStringLiteral("MyApp");
  return c;
}

}  // namespace

// The plan is the one list of a run's files: which files, in which order, under which names.
TEST(OutputPlan, MakesTheFilesOfTheChosenDevicesInRunOrder) {
  InitSizeInfos();
  const PlanRow rows[] = {
      {"every device makes every catalogue entry", true, true, true, true, false, ClassicFileCount, "MyApp180x180.png", -1, true, true},
      {"the App Store icon follows the 1:1 group's own files", true, true, true, true, true, ClassicFileCount + 1, "MyApp180x180.png", 21, true, true},
      {"Android alone makes its 9 entries and no iOS option set", true, false, false, true, false, 9, "MyApp144x144.png", -1, true, false},
      {"Android alone makes no App Store icon", true, false, false, true, true, 9, "MyApp144x144.png", -1, true, false},
      {"iPhone alone makes 24 entries and the icon after its 10 icons", false, true, false, true, true, 25, "MyApp180x180.png", 10, false, true},
      {"iPad alone makes 27 entries", false, false, true, true, false, 27, "MyApp152x152.png", -1, false, true},
      {"without option sets no option-set file is planned", true, true, true, false, false, ClassicFileCount, "MyApp180x180.png", -1, false, false},
      {"no device makes nothing", false, false, false, true, true, 0, "", -1, false, false},
  };
  for (const PlanRow& row : rows) {
    SCOPED_TRACE(row.says);
    const TOutputPlan plan = planOutputs(choicesOf(row));
    ASSERT_EQ(plan.Pngs.size(), row.pngs);
    if (row.pngs > 0)
      EXPECT_EQ(plan.Pngs.first().FileName, QString::fromLatin1(row.first));
    int group = 0, iconAt = -1;
    for (int i = 0; i < plan.Pngs.size(); ++i) {
      const TPlannedOutput& o = plan.Pngs[i];
      EXPECT_GE(o.Group, group) << "groups in order";
      group = o.Group;
      EXPECT_EQ(o.FileName, outputFileName(QStringLiteral("MyApp"), o.Width, o.Height));
      EXPECT_EQ(o.Path, QStringLiteral("/out/") + o.FileName);
      // Names only for the chosen devices, and every planned file serves one of them.
      EXPECT_TRUE(row.android || o.AndroidNames.isEmpty());
      EXPECT_TRUE(row.iPhone || o.iPhoneNames.isEmpty());
      EXPECT_TRUE(row.iPad || o.iPadNames.isEmpty());
      if (o.AppStoreIcon) {
        iconAt = i;
        EXPECT_EQ(o.Group, 0);
        EXPECT_EQ(o.Width, AppStoreIconSize);
        EXPECT_TRUE(o.AndroidNames.isEmpty() && o.iOSOptsetNames().isEmpty());
      } else {
        EXPECT_FALSE(o.AndroidNames.isEmpty() && o.iOSOptsetNames().isEmpty());
      }
    }
    EXPECT_EQ(iconAt, row.iconAt);
    EXPECT_EQ(plan.AndroidOptset, row.androidOptset ? QStringLiteral("/out/MyApp.android.optset") : QString());
    EXPECT_EQ(plan.iOSOptset, row.iOSOptset ? QStringLiteral("/out/MyApp.ios.optset") : QString());
    EXPECT_EQ(plan.FilePaths(), plan.PngPaths() + plan.OptsetPaths());
    EXPECT_EQ(plan.PngPaths().size(), row.pngs);
  }
}

// One entry can be two properties of one device family: the 120 x 120 icon is iPhone's Spotlight
// icon and iPad's app icon, and the plan names it for each chosen device only.
TEST(OutputPlan, NamesEachFileUnderThePropertiesOfTheChosenDevices) {
  InitSizeInfos();
  struct Row {
    const char* says;
    bool android, iPhone, iPad;
    const char *androidName, *iPhoneName, *iPadName;
    int width;
  } rows[] = {
      {"120 for both iOS devices", false, true, true, "", "iPhone_Spotlight120", "iPhone_AppIcon120", 120},
      {"120 for iPhone only", false, true, false, "", "iPhone_Spotlight120", "", 120},
      {"144 for Android and iPad", true, false, true, "Android_LauncherIcon144", "", "iPad_AppIcon144", 144},
      {"144 for Android only", true, false, false, "Android_LauncherIcon144", "", "", 144},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    TRunChoices c;
    c.Android = row.android;
    c.iPhone = row.iPhone;
    c.iPad = row.iPad;
    c.Stem = QStringLiteral("A");
    const TOutputPlan plan = planOutputs(c);
    const QList<TPlannedOutput> first = plan.OfGroup(0);
    const auto found = std::find_if(first.begin(), first.end(), [&](const TPlannedOutput& o) { return o.Width == row.width; });
    ASSERT_NE(found, first.end());
    EXPECT_EQ(found->AndroidNames.join(u' '), QString::fromLatin1(row.androidName));
    EXPECT_EQ(found->iPhoneNames.join(u' '), QString::fromLatin1(row.iPhoneName));
    EXPECT_EQ(found->iPadNames.join(u' '), QString::fromLatin1(row.iPadName));
  }
}

TEST(OutputPlan, OfGroupKeepsTheRunOrderAndIsEmptyOutsideTheCatalogue) {
  InitSizeInfos();
  TRunChoices c;
  c.AppStoreIcon = true;
  c.Stem = QStringLiteral("A");
  const TOutputPlan plan = planOutputs(c);
  QList<TPlannedOutput> joined;
  for (int g = 0; g < SizeGroupCount; ++g)
    joined += plan.OfGroup(g);
  EXPECT_EQ(joined, plan.Pngs);
  EXPECT_EQ(plan.OfGroup(0).size(), SizeGroups[0].size() + 1);
  EXPECT_EQ(plan.GroupsUsed(), groupsOfSet(TFileSet::Classic));
  EXPECT_TRUE(plan.OfGroup(-1).isEmpty());
  EXPECT_TRUE(plan.OfGroup(SizeGroupCount).isEmpty());
}

namespace {

// A plan entry as one line: size, file, path, the names per device; the form of ClassicPlans.
QString classicLine(const TPlannedOutput& o) {
  return QStringLiteral("%1 %2x%3 %4 %5 android=%6 iPhone=%7 iPad=%8%9\n")
      .arg(o.Group)
      .arg(o.Width)
      .arg(o.Height)
      .arg(o.FileName, o.Path, o.AndroidNames.join(u','), o.iPhoneNames.join(u','), o.iPadNames.join(u','),
           o.AppStoreIcon ? QStringLiteral(" appStoreIcon") : QString());
}

// An entry of any set as one line: file, size, group and the names per device that it has.
QString entryLine(const TPlannedOutput& o) {
  QString line = QStringLiteral("%1 %2x%3 %4").arg(o.FileName).arg(o.Width).arg(o.Height).arg(groupInfo(o.Group).Key);
  const auto add = [&line](const char* device, const QStringList& names) {
    if (!names.isEmpty())
      line += QStringLiteral(" %1=%2").arg(QString::fromLatin1(device), names.join(u','));
  };
  add("iPhone", o.iPhoneNames);
  add("iPad", o.iPadNames);
  add("iOS", o.iOSNames);
  add("android", o.AndroidNames);
  if (o.Dark)
    line += QStringLiteral(" dark");
  if (o.AppStoreIcon)
    line += QStringLiteral(" appStoreIcon");
  return line;
}

TRunChoices currentChoices(bool android, bool iPhone, bool iPad, bool dark) {
  TRunChoices c;
  c.FileSet = TFileSet::Current;
  c.Android = android;
  c.iPhone = iPhone;
  c.iPad = iPad;
  c.DarkLaunchScreen = dark;
  c.Folder = QStringLiteral("/out/");
  c.Stem = QStringLiteral("MyApp");
  return c;
}

QStringList sortedNames(const TOutputPlan& plan, QStringList TPlannedOutput::*names) {
  QStringList all;
  for (const TPlannedOutput& o : plan.Pngs)
    all += o.*names;
  all.sort();
  return all;
}

QStringList sortedList(const char* names, bool dark) {
  QStringList list = QString::fromLatin1(names).split(u' ', Qt::SkipEmptyParts);
  if (!dark)
    list.removeIf([](const QString& n) { return n.contains(QStringLiteral("Dark")); });
  list.sort();
  return list;
}

}  // namespace

// The classic set (the default) plans exactly what the program planned before the set became a
// choice, for every combination of devices and the App Store check box.
TEST(OutputPlan, TheClassicPlanIsTodaysForEveryCombination) {
  QString text = QStringLiteral("\n");
  for (int bits = 0; bits < 16; ++bits) {
    TRunChoices c;
    c.Android = bits & 1;
    c.iPhone = bits & 2;
    c.iPad = bits & 4;
    c.AppStoreIcon = bits & 8;
    c.Folder = QStringLiteral("/out/");
    c.Stem = QStringLiteral("MyApp");
    const TOutputPlan plan = planOutputs(c);
    text += QStringLiteral("choices android=%1 iPhone=%2 iPad=%3 appStoreIcon=%4\n")
                .arg(int(c.Android))
                .arg(int(c.iPhone))
                .arg(int(c.iPad))
                .arg(int(c.AppStoreIcon));
    for (const TPlannedOutput& o : plan.Pngs) {
      EXPECT_FALSE(o.Dark);
      EXPECT_TRUE(o.iOSNames.isEmpty());
      text += classicLine(o);
    }
    text += QStringLiteral("optsets %1 %2\n").arg(plan.AndroidOptset, plan.iOSOptset);
  }
  EXPECT_EQ(text.toStdString(), std::string(ClassicPlans));
}

// The current set for every device, with a dark launch-screen picture: each file once, named under
// every property of its size, the launch screen's and notification group's files with their word.
TEST(OutputPlan, TheCurrentSetForEveryDevice) {
  const TOutputPlan plan = planOutputs(currentChoices(true, true, true, true));
  QStringList lines;
  for (const TPlannedOutput& o : plan.Pngs) {
    lines << entryLine(o);
    EXPECT_EQ(o.Path, QStringLiteral("/out/") + o.FileName);
  }
  const char* expected[] = {
      "MyApp180x180.png 180x180 180_180 iPhone=iPhone_AppIcon180",
      "MyApp167x167.png 167x167 180_180 iPad=iPad_AppIcon167",
      "MyApp152x152.png 152x152 180_180 iPad=iPad_AppIcon152",
      "MyApp120x120.png 120x120 180_180 iPhone=iPhone_AppIcon120,iPhone_Spotlight120",
      "MyApp87x87.png 87x87 180_180 iPhone=iPhone_Setting87",
      "MyApp80x80.png 80x80 180_180 iPhone=iPhone_Spotlight80 iPad=iPad_SpotLight80",
      "MyApp60x60.png 60x60 180_180 iPhone=iPhone_Notification60",
      "MyApp58x58.png 58x58 180_180 iPhone=iPhone_Setting58 iPad=iPad_Setting58",
      "MyApp40x40.png 40x40 180_180 iPhone=iPhone_Notification40 iPad=iPad_Notification40",
      "MyApp192x192.png 192x192 180_180 android=Android_LauncherIcon192",
      "MyApp144x144.png 144x144 180_180 android=Android_LauncherIcon144",
      "MyApp96x96.png 96x96 180_180 android=Android_LauncherIcon96",
      "MyApp72x72.png 72x72 180_180 android=Android_LauncherIcon72",
      "MyApp48x48.png 48x48 180_180 android=Android_LauncherIcon48",
      "MyApp36x36.png 36x36 180_180 android=Android_LauncherIcon36",
      "MyApp1024x1024.png 1024x1024 180_180 iOS=iOS_AppStore1024 appStoreIcon",
      "MyApp470x320.png 470x320 470_320 android=Android_SplashImage470",
      "MyApp640x480.png 640x480 2732_2048 android=Android_SplashImage640",
      "MyApp960x720.png 960x720 2732_2048 android=Android_SplashImage960",
      "MyApp426x320.png 426x320 2732_2048 android=Android_SplashImage426",
      "MyAppLaunch400x400.png 400x400 launch_screen iPhone=iPhone_Launch2x iPad=iPad_Launch2x",
      "MyAppLaunch600x600.png 600x600 launch_screen iPhone=iPhone_Launch3x",
      "MyAppLaunchDark400x400.png 400x400 launch_screen iPhone=iPhone_LaunchDark2x iPad=iPad_LaunchDark2x dark",
      "MyAppLaunchDark600x600.png 600x600 launch_screen iPhone=iPhone_LaunchDark3x dark",
      "MyAppNotification96x96.png 96x96 notification android=Android_NotificationIcon96",
      "MyAppNotification72x72.png 72x72 notification android=Android_NotificationIcon72",
      "MyAppNotification48x48.png 48x48 notification android=Android_NotificationIcon48",
      "MyAppNotification36x36.png 36x36 notification android=Android_NotificationIcon36",
      "MyAppNotification24x24.png 24x24 notification android=Android_NotificationIcon24",
  };
  EXPECT_EQ(lines.join(u'\n').toStdString(), QStringList(std::begin(expected), std::end(expected)).join(u'\n').toStdString());
  EXPECT_EQ(plan.AndroidOptset, QStringLiteral("/out/MyApp.android.optset"));
  EXPECT_EQ(plan.iOSOptset, QStringLiteral("/out/MyApp.ios.optset"));
}

// Each combination of devices and dark picture: which files, which groups, and every property of
// the IDE's list for each chosen device (and none for the others) named exactly once.
TEST(OutputPlan, TheCurrentSetNamesTheIDEsListForTheChosenDevices) {
  const char* iPhoneList =
      "iPhone_AppIcon120 iPhone_AppIcon180 iPhone_Spotlight80 iPhone_Spotlight120 iPhone_Setting58 iPhone_Setting87 "
      "iPhone_Notification40 iPhone_Notification60 iPhone_Launch2x iPhone_Launch3x iPhone_LaunchDark2x "
      "iPhone_LaunchDark3x";
  const char* iPadList =
      "iPad_AppIcon152 iPad_AppIcon167 iPad_SpotLight80 iPad_Setting58 iPad_Notification40 iPad_Launch2x "
      "iPad_LaunchDark2x";
  const char* androidList =
      "Android_LauncherIcon36 Android_LauncherIcon48 Android_LauncherIcon72 Android_LauncherIcon96 "
      "Android_LauncherIcon144 Android_LauncherIcon192 Android_SplashImage426 Android_SplashImage470 "
      "Android_SplashImage640 Android_SplashImage960 Android_NotificationIcon24 Android_NotificationIcon36 "
      "Android_NotificationIcon48 Android_NotificationIcon72 Android_NotificationIcon96";
  struct Row {
    const char* says;
    bool android, iPhone, iPad, dark, appStoreBox;
    int files;
    const char* groups;
  } rows[] = {
      {"every device", true, true, true, false, false, 27, "180_180 470_320 2732_2048 launch_screen notification"},
      {"every device, dark picture", true, true, true, true, false, 29, "180_180 470_320 2732_2048 launch_screen notification"},
      {"iPhone and iPad", false, true, true, false, false, 12, "180_180 launch_screen"},
      {"iPhone and iPad, dark picture", false, true, true, true, false, 14, "180_180 launch_screen"},
      {"iPhone: the App Store icon once, check box or not", false, true, false, false, true, 10, "180_180 launch_screen"},
      {"iPhone, dark picture", false, true, false, true, false, 12, "180_180 launch_screen"},
      {"iPad", false, false, true, false, false, 7, "180_180 launch_screen"},
      {"iPad, dark picture", false, false, true, true, false, 8, "180_180 launch_screen"},
      {"Android: no App Store icon, no launch screen", true, false, false, true, true, 15, "180_180 470_320 2732_2048 notification"},
      {"Android and iPad", true, false, true, false, false, 22, "180_180 470_320 2732_2048 launch_screen notification"},
      {"no device", false, false, false, true, true, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.says);
    TRunChoices c = currentChoices(row.android, row.iPhone, row.iPad, row.dark);
    c.AppStoreIcon = row.appStoreBox;
    const TOutputPlan plan = planOutputs(c);
    EXPECT_EQ(plan.Pngs.size(), row.files);
    QStringList keys;
    for (int g : plan.GroupsUsed())
      keys << groupInfo(g).Key;
    EXPECT_EQ(keys.join(u' '), QString::fromLatin1(row.groups));
    EXPECT_EQ(sortedNames(plan, &TPlannedOutput::iPhoneNames), row.iPhone ? sortedList(iPhoneList, row.dark) : QStringList());
    EXPECT_EQ(sortedNames(plan, &TPlannedOutput::iPadNames), row.iPad ? sortedList(iPadList, row.dark) : QStringList());
    EXPECT_EQ(sortedNames(plan, &TPlannedOutput::AndroidNames), row.android ? sortedList(androidList, row.dark) : QStringList());
    EXPECT_EQ(sortedNames(plan, &TPlannedOutput::iOSNames),
              row.iPhone || row.iPad ? QStringList{QStringLiteral("iOS_AppStore1024")} : QStringList());
    QSet<QString> files;
    for (const TPlannedOutput& o : plan.Pngs) {
      EXPECT_FALSE(files.contains(o.FileName)) << o.FileName.toStdString();
      files.insert(o.FileName);
      EXPECT_FALSE(o.AndroidNames.isEmpty() && o.iOSOptsetNames().isEmpty()) << o.FileName.toStdString();
    }
    EXPECT_EQ(plan.AndroidOptset.isEmpty(), !row.android);
    EXPECT_EQ(plan.iOSOptset.isEmpty(), !(row.iPhone || row.iPad));
  }
}

// The launch screen's points set the size of its files: 2x and 3x.
TEST(OutputPlan, TheLaunchScreensFilesAreTwiceAndThriceItsPoints) {
  TRunChoices c = currentChoices(false, true, false, true);
  c.LaunchPoints = 180;
  QStringList names;
  for (const TPlannedOutput& o : planOutputs(c).OfGroup(LaunchScreenGroup)) {
    names << o.FileName;
    EXPECT_EQ(o.Width, o.Height);
  }
  EXPECT_EQ(names.join(u' '), "MyAppLaunch360x360.png MyAppLaunch540x540.png MyAppLaunchDark360x360.png MyAppLaunchDark540x540.png");
  EXPECT_EQ(TRunChoices().LaunchPoints, DefaultLaunchPoints);
  EXPECT_EQ(TRunChoices().FileSet, TFileSet::Classic);
}
