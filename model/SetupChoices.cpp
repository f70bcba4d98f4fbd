#include "model/SetupChoices.h"

#include "platform/Errors.h"
#include "platform/PathRules.h"
#include "settings/Settings.h"
#include "settings/StoredPaths.h"

#include <algorithm>

const QString BaseFilenameKey = QStringLiteral("base_filename");
const QString AndroidKey = QStringLiteral("android");
const QString iPhoneKey = QStringLiteral("iphone");
const QString iPadKey = QStringLiteral("ipad");
const QString OptsetKey = QStringLiteral("optset");
const QString SmoothDownscaleKey = QStringLiteral("smooth_downscale");
const QString AppStoreIconKey = QStringLiteral("appstore_icon");
const QString FileSetKey = QStringLiteral("file_set");
const QString LaunchPointsKey = QStringLiteral("launch_points");
const QString AppStoreBackgroundKey = QStringLiteral("appstore_background");

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

std::optional<TFileSet> fileSetFromText(const QString& text) {
  if (text.isEmpty() || text == fileSetText(TFileSet::Classic))
    return TFileSet::Classic;
  if (text == fileSetText(TFileSet::Current))
    return TFileSet::Current;
  return std::nullopt;
}

QString fileSetText(TFileSet set) {
  return set == TFileSet::Current ? QStringLiteral("current") : QStringLiteral("classic");
}

QString colourText(QRgb colour) {
  return QStringLiteral("#%1").arg(colour & 0xFFFFFFu, 6, 16, QLatin1Char('0')).toUpper();
}

std::optional<int> launchPointsFromText(const QString& text) {
  if (text.isEmpty())
    return DefaultLaunchPoints;
  bool ok = false;
  const int points = text.toInt(&ok);
  if (!ok || points < MinLaunchPoints || points > MaxLaunchPoints)
    return std::nullopt;
  return points;
}

std::optional<QRgb> colourFromText(const QString& text) {
  if (text.isEmpty())
    return DefaultAppStoreBackground;
  // Six hex digits exactly: no sign, no space, no "0x".
  const auto hex = [](QChar c) { return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f'); };
  if (text.size() != 7 || text[0] != u'#' || !std::all_of(text.begin() + 1, text.end(), hex))
    return std::nullopt;
  return 0xFF000000u | text.mid(1).toUInt(nullptr, 16);
}

namespace {

// The stored value of a key, read by the rule given; a value that names nothing is refused with
// what the key may hold.
template <typename T>
T storedChoice(TSettingsStore& settings, const QString& key, std::optional<T> (*read)(const QString&),
               const QString& allowed) {
  const QString text = settings.WindowSetting(key);
  const std::optional<T> value = read(text);
  if (!value)
    throw EConvertError(QStringLiteral("The settings file's %1=%2 is not allowed (%3)")
                            .arg(key, text, allowed));
  return *value;
}

}  // namespace

void restoreFileChoices(TSetupChoices& choices, TSettingsStore& settings) {
  choices.FileSet = storedChoice(settings, FileSetKey, fileSetFromText,
                                 fileSetText(TFileSet::Classic) + QStringLiteral(" or ") + fileSetText(TFileSet::Current));
  choices.LaunchPoints = storedChoice(settings, LaunchPointsKey, launchPointsFromText,
                                      QStringLiteral("a whole number of points from %1 to %2")
                                          .arg(MinLaunchPoints)
                                          .arg(MaxLaunchPoints));
  choices.AppStoreBackground =
      storedChoice(settings, AppStoreBackgroundKey, colourFromText, QStringLiteral("a colour as #RRGGBB"));
  choices.DarkLaunchScreen = !settings.ImageSetting(groupInfo(LaunchScreenGroup).DarkKey).isEmpty();
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
  run.FileSet = setup.FileSet;
  run.LaunchPoints = setup.LaunchPoints;
  run.AppStoreBackground = setup.AppStoreBackground;
  run.DarkLaunchScreen = setup.DarkLaunchScreen;
  run.Folder = folderOf(baseName);
  run.Stem = stemOf(baseName);
  return run;
}
