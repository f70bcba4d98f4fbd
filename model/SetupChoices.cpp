#include "model/SetupChoices.h"

#include "platform/PathRules.h"
#include "settings/Settings.h"
#include "settings/StoredPaths.h"

const QString BaseFilenameKey = QStringLiteral("base_filename");
const QString AndroidKey = QStringLiteral("android");
const QString iPhoneKey = QStringLiteral("iphone");
const QString iPadKey = QStringLiteral("ipad");
const QString OptsetKey = QStringLiteral("optset");
const QString SmoothDownscaleKey = QStringLiteral("smooth_downscale");
const QString AppStoreIconKey = QStringLiteral("appstore_icon");

QString checkedText(bool checked) { return checked ? QStringLiteral("1") : QStringLiteral("0"); }

QString restoreBaseName() { return resolvedSettingPath(SettingsAccess::GetWindowSetting(BaseFilenameKey)); }

void restoreCheckBoxes(TSetupChoices& choices) {
  const auto checkedUnlessOff = [](const QString& key) {
    return SettingsAccess::GetWindowSetting(key) != QStringLiteral("0");
  };
  const auto checkedWhenOn = [](const QString& key) {
    return SettingsAccess::GetWindowSetting(key) == QStringLiteral("1");
  };
  choices.Android = checkedUnlessOff(AndroidKey);
  choices.iPhone = checkedUnlessOff(iPhoneKey);
  choices.iPad = checkedUnlessOff(iPadKey);
  choices.Optsets = checkedUnlessOff(OptsetKey);
  choices.Smooth = checkedWhenOn(SmoothDownscaleKey);
  choices.AppStoreIcon = checkedWhenOn(AppStoreIconKey);
  choices.RelativePaths = checkedWhenOn(RelativePathsKey);
}

TRunChoices runChoicesOf(const TSetupChoices& setup) {
  const QString baseName = resolvedSettingPath(setup.BaseName);
  TRunChoices run;
  run.Android = setup.Android;
  run.iPhone = setup.iPhone;
  run.iPad = setup.iPad;
  run.Optsets = setup.Optsets;
  run.Smooth = setup.Smooth;
  run.AppStoreIcon = setup.AppStoreIcon;
  run.Folder = folderOf(baseName);
  run.Stem = stemOf(baseName);
  return run;
}
