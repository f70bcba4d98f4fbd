#include "catalogue/SizeInfo.h"
#include "model/OutputPlan.h"

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
      {"every device makes all 53 catalogue entries", true, true, true, true, false, 53, "MyApp180x180.png", -1, true, true},
      {"the App Store icon follows the 1:1 group's own files", true, true, true, true, true, 54, "MyApp180x180.png", 21, true, true},
      {"Android alone makes its 9 entries and no iOS option set", true, false, false, true, false, 9, "MyApp144x144.png", -1, true, false},
      {"Android alone makes no App Store icon", true, false, false, true, true, 9, "MyApp144x144.png", -1, true, false},
      {"iPhone alone makes 24 entries and the icon after its 10 icons", false, true, false, true, true, 25, "MyApp180x180.png", 10, false, true},
      {"iPad alone makes 27 entries", false, false, true, true, false, 27, "MyApp152x152.png", -1, false, true},
      {"without option sets no option-set file is planned", true, true, true, false, false, 53, "MyApp180x180.png", -1, false, false},
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
      EXPECT_TRUE(row.android || o.AndroidName.isEmpty());
      EXPECT_TRUE(row.iPhone || o.iPhoneName.isEmpty());
      EXPECT_TRUE(row.iPad || o.iPadName.isEmpty());
      if (o.AppStoreIcon) {
        iconAt = i;
        EXPECT_EQ(o.Group, 0);
        EXPECT_EQ(o.Width, AppStoreIconSize);
        EXPECT_TRUE(o.AndroidName.isEmpty() && o.iPhoneName.isEmpty() && o.iPadName.isEmpty());
      } else {
        EXPECT_FALSE(o.AndroidName.isEmpty() && o.iPhoneName.isEmpty() && o.iPadName.isEmpty());
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
    EXPECT_EQ(found->AndroidName, QString::fromLatin1(row.androidName));
    EXPECT_EQ(found->iPhoneName, QString::fromLatin1(row.iPhoneName));
    EXPECT_EQ(found->iPadName, QString::fromLatin1(row.iPadName));
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
  EXPECT_EQ(plan.OfGroup(0).size(), 22);
  EXPECT_TRUE(plan.OfGroup(-1).isEmpty());
  EXPECT_TRUE(plan.OfGroup(SizeGroupCount).isEmpty());
}
