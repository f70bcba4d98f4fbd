#include "model/OutputPlan.h"

#include "platform/PathRules.h"

#include <algorithm>

QString outputFileName(const QString& stem, int width, int height) {
  // One substitution pass: a "%1" or "%2" inside the stem is part of the name, not a placeholder.
  return QStringLiteral("%1%2x%3.png").arg(stem, QString::number(width), QString::number(height));
}

QString outputFileName(const QString& stem, const QString& word, int width, int height) {
  return outputFileName(stem + word, width, height);
}

bool servesChoices(const TSetEntry& e, const TRunChoices& choices) {
  if (e.Dark && !choices.DarkLaunchScreen)
    return false;
  const bool iOS = choices.iPhone || choices.iPad;
  return (choices.Android && !e.AndroidNames.isEmpty()) || (choices.iPhone && !e.iPhoneNames.isEmpty()) ||
         (choices.iPad && !e.iPadNames.isEmpty()) || (iOS && !e.iOSNames.isEmpty());
}

namespace {

// A file of the plan without property names: its group, size, name and path.
TPlannedOutput outputOf(const TRunChoices& choices, int group, int width, int height, bool dark) {
  TPlannedOutput o;
  o.Group = group;
  o.Width = width;
  o.Height = height;
  o.Dark = dark;
  const QString word = groupInfo(group).Word + (dark ? QStringLiteral("Dark") : QString());
  o.FileName = outputFileName(choices.Stem, word, width, height);
  o.Path = joinPath(choices.Folder, o.FileName);
  return o;
}

// The set's entry as the file it makes for these choices, named for the chosen devices.
TPlannedOutput outputOf(const TRunChoices& choices, const TSetEntry& e) {
  const int scale = groupInfo(e.Group).InPoints ? choices.LaunchPoints : 1;
  TPlannedOutput o = outputOf(choices, e.Group, e.Width * scale, e.Height * scale, e.Dark);
  if (choices.Android)
    o.AndroidNames = e.AndroidNames;
  if (choices.iPhone)
    o.iPhoneNames = e.iPhoneNames;
  if (choices.iPad)
    o.iPadNames = e.iPadNames;
  if (choices.iPhone || choices.iPad)
    o.iOSNames = e.iOSNames;
  o.AppStoreIcon = e.AppStoreIcon;
  return o;
}

// The App Store icon a set that does not name it makes when the check box asks for it: after the
// 1:1 group's own files, named in no option set.
bool makesOptInAppStoreIcon(const TRunChoices& choices) {
  return choices.AppStoreIcon && (choices.iPhone || choices.iPad) && !namesAppStoreIcon(choices.FileSet);
}

}  // namespace

TOutputPlan planOutputs(const TRunChoices& choices) {
  TOutputPlan plan;
  plan.Choices = choices;
  const QList<TSetEntry>& entries = setEntries(choices.FileSet);
  for (int i = 0; i < entries.size(); ++i) {
    const TSetEntry& e = entries[i];
    if (servesChoices(e, choices))
      plan.Pngs.append(outputOf(choices, e));
    const bool groupEnds = i + 1 == entries.size() || entries[i + 1].Group != e.Group;
    if (groupEnds && e.Group == sizetables::SquareGroup && makesOptInAppStoreIcon(choices)) {
      TPlannedOutput icon = outputOf(choices, e.Group, AppStoreIconSize, AppStoreIconSize, false);
      icon.AppStoreIcon = true;
      plan.Pngs.append(icon);
    }
  }
  const bool iOS = choices.iPhone || choices.iPad;
  if (choices.Optsets && choices.Android)
    plan.AndroidOptset = joinPath(choices.Folder, choices.Stem + QStringLiteral(".android.optset"));
  if (choices.Optsets && iOS)
    plan.iOSOptset = joinPath(choices.Folder, choices.Stem + QStringLiteral(".ios.optset"));
  return plan;
}

QList<int> groupsOfRun(const TOutputPlan& plan) {
  if (plan.Choices.FileSet == TFileSet::Classic)
    return groupsOfSet(TFileSet::Classic);
  QList<int> groups = plan.GroupsUsed();
  std::sort(groups.begin(), groups.end());
  return groups;
}

QList<TPlannedOutput> TOutputPlan::OfGroup(int group) const {
  QList<TPlannedOutput> outputs;
  for (const TPlannedOutput& o : Pngs)
    if (o.Group == group)
      outputs.append(o);
  return outputs;
}

QList<int> TOutputPlan::GroupsUsed() const {
  QList<int> groups;
  for (const TPlannedOutput& o : Pngs)
    if (!groups.contains(o.Group))
      groups.append(o.Group);
  return groups;
}

QStringList TOutputPlan::PngPaths() const {
  QStringList paths;
  for (const TPlannedOutput& o : Pngs)
    paths << o.Path;
  return paths;
}

QStringList TOutputPlan::OptsetPaths() const {
  QStringList paths;
  if (!AndroidOptset.isEmpty())
    paths << AndroidOptset;
  if (!iOSOptset.isEmpty())
    paths << iOSOptset;
  return paths;
}
