#include "model/OutputPlan.h"

#include "catalogue/SizeInfo.h"
#include "platform/PathRules.h"

QString outputFileName(const QString& stem, int width, int height) {
  // One substitution pass: a "%1" or "%2" inside the stem is part of the name, not a placeholder.
  return QStringLiteral("%1%2x%3.png").arg(stem, QString::number(width), QString::number(height));
}

bool servesCheckedDevice(const TSizeInfo& e, bool android, bool iPhone, bool iPad) {
  return (android && !e.AndroidName.isEmpty()) || (iPhone && !e.iPhoneName.isEmpty()) ||
         (iPad && !e.iPadName.isEmpty());
}

TOutputPlan planOutputs(const TRunChoices& choices) {
  TOutputPlan plan;
  plan.Choices = choices;
  const auto output = [&choices](int group, int width, int height) {
    TPlannedOutput o;
    o.Group = group;
    o.Width = width;
    o.Height = height;
    o.FileName = outputFileName(choices.Stem, width, height);
    o.Path = joinPath(choices.Folder, o.FileName);
    return o;
  };
  const bool iOS = choices.iPhone || choices.iPad;
  for (int g = 0; g < SizeGroupCount; ++g) {
    for (const TSizeInfo& e : SizeGroups[g]) {
      if (!servesCheckedDevice(e, choices.Android, choices.iPhone, choices.iPad))
        continue;
      TPlannedOutput o = output(g, e.Width, e.Height);
      if (choices.Android)
        o.AndroidName = e.AndroidName;
      if (choices.iPhone)
        o.iPhoneName = e.iPhoneName;
      if (choices.iPad)
        o.iPadName = e.iPadName;
      plan.Pngs.append(o);
    }
    if (g == 0 && choices.AppStoreIcon && iOS) {
      TPlannedOutput o = output(g, AppStoreIconSize, AppStoreIconSize);
      o.AppStoreIcon = true;
      plan.Pngs.append(o);
    }
  }
  if (choices.Optsets && choices.Android)
    plan.AndroidOptset = joinPath(choices.Folder, choices.Stem + QStringLiteral(".android.optset"));
  if (choices.Optsets && iOS)
    plan.iOSOptset = joinPath(choices.Folder, choices.Stem + QStringLiteral(".ios.optset"));
  return plan;
}

QList<TPlannedOutput> TOutputPlan::OfGroup(int group) const {
  QList<TPlannedOutput> outputs;
  for (const TPlannedOutput& o : Pngs)
    if (o.Group == group)
      outputs.append(o);
  return outputs;
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
