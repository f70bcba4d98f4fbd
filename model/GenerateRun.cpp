#include "model/GenerateRun.h"

#include "imaging/PngWriter.h"
#include "imaging/RenderAhead.h"
#include "platform/AtomicFile.h"
#include "platform/Errors.h"
#include "platform/FileIdentity.h"
#include "platform/WriteRefusal.h"

#include <QFileInfo>

#include <algorithm>
#include <iterator>

namespace {

// Refuses a plan that would write over one of the groups' pictures.
void refuseSourcesInTheWay(const TOutputPlan& plan, const QList<TRunGroup>& groups) {
  QStringList pictures;
  for (const TRunGroup& group : groups)
    pictures << group.Picture << group.DarkPicture;
  if (const QStringList inTheWay = sourcesInTheWay(plan.FilePaths(), pictures); !inTheWay.isEmpty())
    throw EFCreateError(overwritesSourceMessage(inTheWay.first()));
}

// The picture a plan entry is drawn from.
const TKeptPicture& sourceOf(const TPlannedOutput& o, const QList<TRunGroup>& groups) {
  const TRunGroup& group = groups.at(o.Group);
  return o.Dark ? group.DarkSource : group.Source;
}

// Refuses a run of which a picture's file is no longer the one loaded, before anything is written.
void refuseChangedPictures(const TOutputPlan& plan, const QList<TRunGroup>& groups) {
  for (const TPlannedOutput& o : plan.Pngs)
    if (const TKeptPicture& picture = sourceOf(o, groups); !picture.FileUnchanged())
      throw EPictureChanged(pictureChangedMessage(picture.FileName()));
}

// Queues the plan's images on the renderer, in plan order. Each picture is one source, decoded
// when its first file is rendered: a picture that several groups keep (one file shown by several
// frames, a group following another) is decoded once.
void queueImages(RenderAhead& ahead, const TOutputPlan& plan, const QList<TRunGroup>& groups) {
  QList<std::pair<TKeptPicture, int>> sources;
  for (const TPlannedOutput& o : plan.Pngs) {
    const TKeptPicture& picture = sourceOf(o, groups);
    auto known = std::find_if(sources.begin(), sources.end(), [&](const auto& s) { return s.first == picture; });
    if (known == sources.end()) {
      sources.append({picture, ahead.AddSource([picture] { return picture.Whole(); })});
      known = std::prev(sources.end());
    }
    const TRunGroup& group = groups.at(o.Group);
    ahead.Add(known->second, o.Width, o.Height, o.Dark ? group.DarkZoomRect : group.ZoomRect, plan.Choices.Smooth,
              renderLookOf(o, plan.Choices));
  }
}

}  // namespace

TRunGroup runGroupOf(const TRatioGroup& group) {
  return {group.Caption(), group.Picture,     group.ZoomRect(),
          group.Filename,  group.DarkPicture, group.DarkZoomRect(),
          group.DarkFilename};
}

TRenderLook renderLookOf(const TPlannedOutput& output, const TRunChoices& choices) {
  TRenderLook look;
  if (output.AppStoreIcon) {
    look.Kind = TRenderLook::Opaque;
    look.Background = choices.AppStoreBackground;
  } else if (output.Group == NotificationGroup) {
    look.Kind = TRenderLook::Silhouette;
  }
  return look;
}

TOverwriteQuestion::TAnswer TOverwriteQuestion::Ask(const QString& path) {
  // A folder of that name is no file: nothing to ask, the write reports that it cannot create it.
  // A link counts as a file, also one that leads nowhere; the question names where it leads.
  const QFileInfo existing(path);
  if ((!existing.exists() && !existing.isSymLink()) || existing.isDir())
    return Write;
  if (FRemembered == mrNoToAll)
    return Skip;
  if (FRemembered != mrYesToAll) {
    const QString question = existing.isSymLink()
                                 ? QStringLiteral("%1 exists (a link to %2).  Overwrite?").arg(path, existing.symLinkTarget())
                                 : QStringLiteral("%1 exists.  Overwrite?").arg(path);
    FRemembered = FDialogs.MessageDlg(question, TMsgDlgType::mtWarning,
                                      mbYes | mbNo | mbCancel | mbNoToAll | mbYesToAll, 0);
    if (FRemembered == mrCancel)
      return Cancel;
    if (FRemembered == mrNo || FRemembered == mrNoToAll)
      return Skip;
  }
  return Write;
}

bool runGeneration(const TOutputPlan& plan, const QList<TRunGroup>& groups, IDialogService& dialogs,
                   const TLogSink& log, const TProgressSink& progress, TRunDocuments& documents) {
  refuseSourcesInTheWay(plan, groups);
  refuseChangedPictures(plan, groups);
  documents.Android = NewAndroidOptsetWithHeader();
  documents.iOS = NewiOSOptsetWithHeader();
  log(QStringLiteral("Generating images..."));
  // The overwrite question and its last answer live for this run only.
  TOverwriteQuestion overwrite(dialogs);
  const QString skipping = QStringLiteral("      %1 exists.  Skipping.");
  const int total = int(plan.Pngs.size());

  // Every image of the plan is rendered ahead on all cores, in plan order; the loop below still
  // decides, writes and logs one file at a time, also in plan order, so image i of the queue is
  // the file of plan entry i. An image that is skipped is never taken; leaving the run stops the
  // rendering. The groups cannot change during a run (the window locks them), so their pictures
  // and selections are read once, here; each picture is decoded when its group's files begin.
  RenderAhead ahead;
  queueImages(ahead, plan, groups);
  ahead.Start();
  // Temporary files that a killed run left beside the outputs.
  removeLeftoverTemporaryFiles(plan.Choices.Folder);

  int next = 0;  // the plan entry written next
  for (const int g : groupsOfRun(plan)) {
    log(QStringLiteral("   Generating %1 images...").arg(groups.at(g).Caption));
    for (; next < total && plan.Pngs[next].Group == g; ++next) {
      const TPlannedOutput& o = plan.Pngs[next];
      // Named before the existence test: a file that is then skipped is still in the option sets.
      for (const QString& name : o.AndroidNames)
        documents.Android->PropertyGroup()->SetChildText(name, o.Path);
      for (const QString& name : o.iOSOptsetNames())
        documents.iOS->PropertyGroup()->SetChildText(name, o.Path);

      // An existing file is skipped or overwritten by the overwrite question and the remembered
      // answer, then the file is logged and written.
      progress(next, total);
      switch (overwrite.Ask(o.Path)) {
        case TOverwriteQuestion::Cancel:
          return false;
        case TOverwriteQuestion::Skip:
          log(skipping.arg(o.Path));
          continue;
        case TOverwriteQuestion::Write:
          break;
      }
      log(QStringLiteral("      ") + o.Path);
      savePngBytes(ahead.Take(next), o.Path);
    }
  }

  progress(total, total);

  if (!plan.AndroidOptset.isEmpty())
    documents.Android->OwnerDocument()->SaveToFile(plan.AndroidOptset);
  if (!plan.iOSOptset.isEmpty())
    documents.iOS->OwnerDocument()->SaveToFile(plan.iOSOptset);
  log(QStringLiteral("Operation complete."));
  return true;
}

QStringList sourcesInTheWay(const QStringList& outputPaths, const QStringList& sourcePaths) {
  // Only a file that is there can be written over; a path that leads nowhere has no identity.
  QList<TFileIdentity> outputs;
  for (const QString& path : outputPaths)
    if (const std::optional<TFileIdentity> file = fileIdentity(path))
      outputs << *file;
  QStringList sources;
  for (const QString& source : sourcePaths) {
    if (source.isEmpty() || sources.contains(source))
      continue;
    if (const std::optional<TFileIdentity> file = fileIdentity(source); file && outputs.contains(*file))
      sources << source;
  }
  return sources;
}

QString overwritesSourceMessage(const QString& picture) {
  return QStringLiteral("Output would overwrite the source picture ") + picture;
}

QString plannedWriteError(const QString& path, bool optset) {
  const AtomicWriteFailure refusal = atomicWriteRefusal(path);
  if (!refusal)
    return {};
  // Named as the PNG writer and the option-set document name the file they cannot create.
  return cannotCreateFileMessage(optset ? path : QFileInfo(path).absoluteFilePath(), refusal.reason);
}
