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

QString resolvedBaseName(const QString& name, const TSettingsStore& settings) {
  return folderOf(name).isEmpty() ? name : settings.ResolvedPath(name);
}

QString restoreBaseName(TSettingsStore& settings) {
  return resolvedBaseName(settings.WindowSetting(BaseFilenameKey), settings);
}

QString baseNameToStore(const QString& name, bool relative, const TSettingsStore& settings) {
  if (folderOf(name).isEmpty())
    return name;
  const QString stored = settings.PathToStore(name, relative);
  return folderOf(stored).isEmpty() ? QStringLiteral("./") + stored : stored;
}

void restoreCheckBoxes(TSetupChoices& choices, TSettingsStore& settings) {
  const auto checkedUnlessOff = [&settings](const QString& key) {
    return settings.WindowSetting(key) != QStringLiteral("0");
  };
  const auto checkedWhenOn = [&settings](const QString& key) {
    return settings.WindowSetting(key) == QStringLiteral("1");
  };
  choices.Android = checkedUnlessOff(AndroidKey);
  choices.iPhone = checkedUnlessOff(iPhoneKey);
  choices.iPad = checkedUnlessOff(iPadKey);
  choices.Optsets = checkedUnlessOff(OptsetKey);
  choices.Smooth = checkedWhenOn(SmoothDownscaleKey);
  choices.AppStoreIcon = checkedWhenOn(AppStoreIconKey);
  choices.RelativePaths = checkedWhenOn(RelativePathsKey);
}

TRunChoices runChoicesOf(const TSetupChoices& setup, const TSettingsStore& settings) {
  const QString baseName = resolvedBaseName(setup.BaseName, settings);
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
