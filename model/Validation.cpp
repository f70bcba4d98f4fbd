#include "model/Validation.h"

#include "model/GenerateRun.h"
#include "model/RatioGroup.h"
#include "model/SelectionGeometry.h"
#include "platform/PathRules.h"

const QString NoDeviceMessage = QStringLiteral("An output device must be checked");
const QString SetupErrorsMessage = QStringLiteral("Errors were found in setup.  Please correct.");
const QString ReadyMessage = QStringLiteral("Ready to generate images");
const QString NotificationPlainSquareMessage =
    QStringLiteral("The notification icon will be a plain square: use a picture with transparent parts.");

TGroupCheck groupCheckOf(const TRatioGroup& group, bool alphaOnly) {
  TGroupCheck check{group.Caption(), !group.Picture.IsEmpty(), group.SelectRect, group.ImageRect()};
  check.AlphaOnly = alphaOnly;
  if (alphaOnly && check.HasPicture)
    check.HasTransparency = group.Picture.AnyTranslucentIn(group.ZoomRect());
  return check;
}

namespace {

// The lines of one group's check; false when it fails.
bool checkGroup(const TGroupCheck& group, QStringList& log) {
  bool result = true;
  log << QStringLiteral("   Validating ") + group.Caption + QStringLiteral("...");
  if (!group.HasPicture) {
    result = false;
    log << QStringLiteral("      INVALID Bitmap (Empty)");
  } else {
    log << QStringLiteral("      Bitmap Ok");
  }
  // A coordinate that is not a number makes the rectangle empty as well.
  if (group.SelectRect.IsEmpty()) {
    result = false;
    log << QStringLiteral("      INVALID Selection rectangle (Empty)");
  } else if (group.HasPicture && isOutside(group.SelectRect, group.ImageRect)) {
    // It would make every output of the group fully transparent.
    result = false;
    log << QStringLiteral("      INVALID Selection rectangle (outside the picture)");
  } else {
    log << QStringLiteral("      Selection rectangle Ok");
  }
  if (group.AlphaOnly && group.HasPicture && !group.HasTransparency)
    log << QStringLiteral("      WARNING ") + NotificationPlainSquareMessage;
  return result;
}

}  // namespace

TSetupVerdict checkSetup(const TSetupCheck& setup) {
  TSetupVerdict verdict;
  if (!setup.iPhone && !setup.iPad && !setup.Android) {
    verdict.NoDevice = true;
    return verdict;
  }
  bool result = true;
  QStringList& log = verdict.Lines;

  log << QStringLiteral("Validating Ratio Inputs...");
  for (const TGroupCheck& group : setup.Groups)
    result = checkGroup(group, log) && result;

  log << QStringLiteral("Validating Outputs...");
  const QString& baseName = setup.BaseName;
  if (!isValidPath(baseName)) {
    result = false;
    log << QStringLiteral("   Incorrect path for base name: ") + baseName;
  } else if (folderOf(baseName).isEmpty()) {
    result = false;
    log << QStringLiteral("   No directory found at specified path for base name: ") + baseName;
  } else if (const QStringList sources = setup.SourcesInTheWay ? setup.SourcesInTheWay() : QStringList();
             !sources.isEmpty()) {
    result = false;
    for (const QString& source : sources)
      log << QStringLiteral("   INVALID ") + overwritesSourceMessage(source);
  }
  verdict.Ok = result;
  return verdict;
}
