#pragma once

#include "model/OutputPlan.h"

#include <QString>

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

struct TSetupChoices {
  QString BaseName;  // as the Setup tab shows it: a stored relative name in full
  bool Android = true;
  bool iPhone = true;
  bool iPad = true;
  bool Optsets = true;
  bool Smooth = false;
  bool AppStoreIcon = false;
  bool RelativePaths = false;
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

// The choices of a run: the devices and options, and the folder and stem of the base file name (as
// resolvedBaseName gives it).
TRunChoices runChoicesOf(const TSetupChoices& setup, const TSettingsStore& settings);
