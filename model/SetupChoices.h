#pragma once

#include "model/OutputPlan.h"

#include <QRgb>
#include <QString>
#include <optional>

class TSettingsStore;

// The choices of the Setup tab as the settings file keeps them (section "settings"), and the rules
// of their check boxes. The window shows and edits them; a run without a window reads them the
// same way.

// The keys of section "settings".
extern const QString BaseFilenameKey;
// Checked unless "0" is stored: the devices and the option-set box.
extern const QString AndroidKey;
extern const QString iPhoneKey;
extern const QString iPadKey;
extern const QString OptsetKey;
// Checked only when "1" is stored: the opt-in boxes (the relative-paths key is RelativePathsKey of
// settings/StoredPaths.h).
extern const QString SmoothDownscaleKey;
extern const QString AppStoreIconKey;
// The files a run makes: "classic" (also when missing) or "current".
extern const QString FileSetKey;
// The launch screen's size in points: a whole number from MinLaunchPoints to MaxLaunchPoints
// (DefaultLaunchPoints when missing).
extern const QString LaunchPointsKey;
// The colour the App Store icon's transparent parts are laid over: "#RRGGBB" (white when missing).
extern const QString AppStoreBackgroundKey;

constexpr int MinLaunchPoints = 1;
constexpr int MaxLaunchPoints = 1000;

struct TSetupChoices {
  QString BaseName;  // as the Setup tab shows it: a stored relative name in full
  bool Android = true;
  bool iPhone = true;
  bool iPad = true;
  bool Optsets = true;
  bool Smooth = false;
  bool AppStoreIcon = false;
  bool RelativePaths = false;
  TFileSet FileSet = TFileSet::Classic;
  int LaunchPoints = DefaultLaunchPoints;
  QRgb AppStoreBackground = DefaultAppStoreBackground;
  bool DarkLaunchScreen = false;  // a dark launch-screen picture is set in "images"
};

// The text a check box is stored as: "1" checked, "0" not.
QString checkedText(bool checked);

// The full path a base file name names: a relative one with a folder part (icons/MyApp.png) taken
// beside the settings file. A name without a folder part (MyApp.png) stays as it is, for the check
// of the setup to refuse it: it names no folder of its own.
QString resolvedBaseName(const QString& name, const TSettingsStore& settings);
// The stored base file name, as resolvedBaseName gives it.
QString restoreBaseName(TSettingsStore& settings);
// The text to store for the base file name as shown, in the form the relative-paths choice asks
// for: when relative is true and the name lies under the settings file's folder, relative to it,
// with a folder part ("./MyApp.png") for a file directly beside it so that it is read back as the
// same full path; otherwise the full path. A name without a folder part is stored as it is.
QString baseNameToStore(const QString& name, bool relative, const TSettingsStore& settings);
// Reads the check boxes' keys in turn into choices (each read kept when a later one fails; errors
// of the settings file are raised).
void restoreCheckBoxes(TSetupChoices& choices, TSettingsStore& settings);

// The stored texts of the file choices, read: nullopt for a text that names none (an empty text
// gives the default).
std::optional<TFileSet> fileSetFromText(const QString& text);
std::optional<int> launchPointsFromText(const QString& text);
std::optional<QRgb> colourFromText(const QString& text);
// The text the file set is stored as.
QString fileSetText(TFileSet set);
// The text a colour is stored and shown as: "#RRGGBB" (its alpha left out).
QString colourText(QRgb colour);
// Reads the file set, the launch screen's points, the App Store icon's background and whether a
// dark launch-screen picture is set into choices. A stored value that names none raises
// EConvertError with a message naming the key, the value and what it may be; the values read
// before it are kept.
void restoreFileChoices(TSetupChoices& choices, TSettingsStore& settings);

// The choices of a run: the devices and options, and the folder and stem of the base file name (as
// resolvedBaseName gives it).
TRunChoices runChoicesOf(const TSetupChoices& setup, const TSettingsStore& settings);
