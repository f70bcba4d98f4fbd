#pragma once

#include "imaging/KeptPicture.h"
#include "imaging/RenderImage.h"
#include "model/OutputPlan.h"
#include "model/RatioGroup.h"
#include "optset/AndroidOptset.h"
#include "optset/iOSOptset.h"
#include "platform/Dialogs.h"
#include "platform/Types.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The generation run, without a window: every file of the plan is rendered from its group's
// picture and selection, asked about when it exists, logged and written, and the option-set files
// are saved at the end. The window's Generate action and the command line both run it.

// What the run reads of one group: the caption its log line names, the picture as the group keeps
// it (the run has the whole picture decoded again when it renders the group's files) and the
// selection as fractions of the picture (ZoomRect), and the file the picture was read from (empty
// when none), which the run never writes; the same of its dark-mode picture, for a group that has
// one.
struct TRunGroup {
  QString Caption;
  TKeptPicture Source;
  TRectF ZoomRect;
  QString Picture;
  TKeptPicture DarkSource = {};
  TRectF DarkZoomRect = {};
  QString DarkPicture = {};
};

// What the run reads of a group's state.
TRunGroup runGroupOf(const TRatioGroup& group);

// How the file of a plan entry is finished: the App Store icon opaque over the chosen background,
// a notification icon (drawn by Android from its alpha alone) as a white silhouette, every other
// file as drawn.
TRenderLook renderLookOf(const TPlannedOutput& output, const TRunChoices& choices);

// Where the run's lines go and how it shows progress (entries done of entries to make; called
// before each file and once at the end).
using TLogSink = std::function<void(const QString& line)>;
using TProgressSink = std::function<void(int done, int total)>;

// The option-set documents of a run, held through their roots; the run replaces both at its start.
struct TRunDocuments {
  IXMLAndroidProjectType Android;
  IXMLiOSProjectType iOS;
};

// The overwrite question of one run: asked for each existing output file until an answer "to all"
// is given, which then holds for the rest of the run.
class TOverwriteQuestion {
public:
  enum TAnswer { Write, Skip, Cancel };
  explicit TOverwriteQuestion(IDialogService& dialogs) : FDialogs(dialogs) {}
  // What happens to the output file at that path: one that does not exist (or is a folder) is
  // written without a question.
  TAnswer Ask(const QString& path);

private:
  IDialogService& FDialogs;
  int FRemembered = mrYes;
};

// Runs the plan over the groups (indexed by the plan's group index; every group of groupsOfRun is
// there, and a dark entry is drawn from its group's dark-mode picture). Returns false when an overwrite
// question was answered with Cancel (nothing more is written, no option-set file is saved).
// Errors (a file that cannot be written, say) are raised and end the run. A plan that would write
// over a group's picture is refused before anything is written, as the check of the setup refuses it,
// and so is a run of which a picture's file changed since the picture was loaded (EPictureChanged,
// naming the first such file in plan order): the files are never made from another picture than the
// one the frame shows. The pictures are decoded as their groups' files are rendered, at most two at
// a time (RenderAhead).
bool runGeneration(const TOutputPlan& plan, const QList<TRunGroup>& groups, IDialogService& dialogs,
                   const TLogSink& log, const TProgressSink& progress, TRunDocuments& documents);

// The source pictures (as given, each once) whose files the run would write over: an output path
// that exists and leads to the same file as the picture (platform/FileIdentity), so that another
// spelling, a link, a hard link or a bind mount is no way around it.
QStringList sourcesInTheWay(const QStringList& outputPaths, const QStringList& sourcePaths);

// "Output would overwrite the source picture <path>": the check's finding, and the run's error.
QString overwritesSourceMessage(const QString& picture);

// The error the run would end with on coming to write this file of the plan (a PNG file, or an
// option-set file when optset is true), found without writing anything: a missing folder, a file
// in the folder's place, a folder or a pipe in the file's place, a link to nothing. Empty when the
// write would start.
QString plannedWriteError(const QString& path, bool optset);
