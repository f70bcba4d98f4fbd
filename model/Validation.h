#pragma once

#include "platform/Types.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The check of the setup that opening the Generate tab runs (and the command line before a run): a
// pure function from the groups' state and the Setup tab's choices to the lines it logs and its
// verdict.

// What the check reads of one group.
struct TGroupCheck {
  QString Caption;        // "1:1", "2.16:1", ...
  bool HasPicture = false;
  TRectF SelectRect;      // preview coordinates
  TRectF ImageRect;       // where the picture lies in the preview
  // Its files are drawn from the picture's alpha alone (Android notification icons): a selection
  // without a transparent pixel gets NotificationPlainSquareMessage, a warning that fails nothing.
  bool AlphaOnly = false;
  bool HasTransparency = true;  // the selected part of the picture holds a pixel not fully opaque
};

class TRatioGroup;

// What the check reads of a group's state; alphaOnly for a group whose files are drawn from the
// alpha alone (its selection is then looked at for a transparent pixel).
TGroupCheck groupCheckOf(const TRatioGroup& group, bool alphaOnly);

struct TSetupCheck {
  bool Android = true;
  bool iPhone = true;
  bool iPad = true;
  QList<TGroupCheck> Groups;  // the groups the run uses (groupsOfRun), in group order
  QString BaseName;           // as the Setup tab shows it
  // The source pictures that the run would write over; asked only when the base file name is
  // otherwise in order (it looks at the files).
  std::function<QStringList()> SourcesInTheWay;
};

struct TSetupVerdict {
  bool NoDevice = false;  // nothing was checked: NoDeviceMessage, and no lines
  bool Ok = false;        // every check passed
  QStringList Lines;      // the findings, in order, indented as the log shows them
};

TSetupVerdict checkSetup(const TSetupCheck& setup);

// The messages that end a check: no device chosen, a failed check, a clean one.
extern const QString NoDeviceMessage;
extern const QString SetupErrorsMessage;
extern const QString ReadyMessage;
// The warning for a group drawn from its alpha alone whose selection is opaque throughout.
extern const QString NotificationPlainSquareMessage;
