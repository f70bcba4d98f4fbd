// The generation run: every catalogue entry that serves a checked device becomes a PNG beside the
// base file name, is named in the option-set documents, and the documents are saved at the end.
#include "app/VellumarkMain.h"

#include "imaging/RenderAhead.h"
#include "imaging/RenderImage.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "platform/PathRules.h"
#include "imaging/PngWriter.h"
#include "settings/StoredPaths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>

QString outputFileName(const QString& stem, int width, int height) {
  // One substitution pass: a "%1" or "%2" inside the stem is part of the name, not a placeholder.
  return QStringLiteral("%1%2x%3.png").arg(stem, QString::number(width), QString::number(height));
}

bool servesCheckedDevice(const TSizeInfo& e, bool android, bool iPhone, bool iPad) {
  return (android && !e.AndroidName.isEmpty()) || (iPhone && !e.iPhoneName.isEmpty()) ||
         (iPad && !e.iPadName.isEmpty());
}

namespace {

// What a run makes, as the Setup tab says when it starts: the devices, the App Store icon, the
// option-set files, and the folder and stem of every file's name.
struct TRunChoices {
  bool android, iPhone, iPad, appStoreIcon, optsets;
  QString folder, stem;

  bool serves(const TSizeInfo& e) const { return servesCheckedDevice(e, android, iPhone, iPad); }
  // The App Store icon follows the 1:1 group's own files.
  bool appStoreIconAfter(int group) const { return group == 0 && appStoreIcon && (iPhone || iPad); }
  QString pngPath(int width, int height) const { return joinPath(folder, outputFileName(stem, width, height)); }
  QString androidOptsetPath() const { return joinPath(folder, stem + QStringLiteral(".android.optset")); }
  QString iOSOptsetPath() const { return joinPath(folder, stem + QStringLiteral(".ios.optset")); }
};

TRunChoices runChoices(const TfrmVellumark& form) {
  // A relative base file name names its place beside the settings file, as a stored one does.
  const QString baseName = resolvedSettingPath(form.ceBaseName->currentText());
  return {TfrmVellumark::IsChecked(form.lbiAndroid), TfrmVellumark::IsChecked(form.lbiiPhone),
          TfrmVellumark::IsChecked(form.lbiiPad),    form.cbAppStoreIcon->isChecked(),
          form.cbOptset->isChecked(),                folderOf(baseName),
          stemOf(baseName)};
}

}  // namespace

void TfrmVellumark::NewOptsets() {
  AndroidOptions = NewAndroidOptsetWithHeader();
  iOSOptions = NewiOSOptsetWithHeader();
}

QStringList TfrmVellumark::OutputPngPaths() const {
  const TRunChoices run = runChoices(*this);
  QStringList paths;
  for (int g = 0; g < SizeGroupCount; ++g) {
    for (const TSizeInfo& e : SizeGroups[g])
      if (run.serves(e))
        paths << run.pngPath(e.Width, e.Height);
    if (run.appStoreIconAfter(g))
      paths << run.pngPath(AppStoreIconSize, AppStoreIconSize);
  }
  return paths;
}

QStringList TfrmVellumark::OutputOptsetPaths() const {
  const TRunChoices run = runChoices(*this);
  QStringList paths;
  if (run.optsets && run.android)
    paths << run.androidOptsetPath();
  if (run.optsets && (run.iPhone || run.iPad))
    paths << run.iOSOptsetPath();
  return paths;
}

QStringList TfrmVellumark::OutputFilePaths() const { return OutputPngPaths() + OutputOptsetPaths(); }

QString TfrmVellumark::OutputFolder() const { return runChoices(*this).folder; }

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
    FRemembered = Dialogs().MessageDlg(question, TMsgDlgType::mtWarning,
                                       mbYes | mbNo | mbCancel | mbNoToAll | mbYesToAll, 0);
    if (FRemembered == mrCancel)
      return Cancel;
    if (FRemembered == mrNo || FRemembered == mrNoToAll)
      return Skip;
  }
  return Write;
}

void TfrmVellumark::GenerateImages() {
  NewOptsets();
  Log(QStringLiteral("Generating images..."));
  // The overwrite question and its last answer live for this run only.
  TOverwriteQuestion overwrite;

  const TRunChoices run = runChoices(*this);
  const bool android = run.android, iPhone = run.iPhone, iPad = run.iPad;
  const QString skipping = QStringLiteral("      %1 exists.  Skipping.");
  const bool smooth = cbSmooth->isChecked();
  // Entries done of the entries to make, for the progress bar.
  const int total = int(OutputPngPaths().size());
  int done = 0;

  // Every image this run may write is rendered ahead on all cores, in the order of the loop
  // below; the loop still decides, writes and logs one file at a time. An image that is skipped
  // is never taken; leaving the run stops the rendering. The frames cannot change during a run
  // (the window locks them), so their pictures and selections are read once, here.
  RenderAhead ahead;
  for (int g = 0; g < SizeGroupCount; ++g) {
    const TRatioFrame* frame = FindRatioFrame(g);
    for (const TSizeInfo& e : SizeGroups[g])
      if (run.serves(e))
        ahead.Add(frame->Bitmap(), e.Width, e.Height, frame->ZoomRect(), smooth);
    if (run.appStoreIconAfter(g))
      ahead.Add(frame->Bitmap(), AppStoreIconSize, AppStoreIconSize, frame->ZoomRect(), smooth);
  }
  ahead.Start();
  // Temporary files that a killed run left beside the outputs.
  removeLeftoverTemporaryFiles(run.folder);
  int rendered = -1;  // the index of the current file in the rendering order

  // One output file, the next in the rendering order: an existing file is skipped or overwritten
  // by the overwrite question and the remembered answer, then the file is logged and written.
  // False when the answer was Cancel.
  auto writeFile = [&](const QString& path) {
    ShowProgress(done++, total);
    ++rendered;
    switch (overwrite.Ask(path)) {
      case TOverwriteQuestion::Cancel:
        return false;
      case TOverwriteQuestion::Skip:
        Log(skipping.arg(path));
        return true;
      case TOverwriteQuestion::Write:
        break;
    }
    Log(QStringLiteral("      ") + path);
    savePngBytes(ahead.Take(rendered), path);
    return true;
  };

  for (int g = 0; g < SizeGroupCount; ++g) {
    TRatioFrame* frame = FindRatioFrame(g);
    Log(QStringLiteral("   Generating %1 images...").arg(frame->Caption()));
    for (const TSizeInfo& e : SizeGroups[g]) {
      const bool forAndroid = android && !e.AndroidName.isEmpty();
      const bool forIPhone = iPhone && !e.iPhoneName.isEmpty();
      const bool forIPad = iPad && !e.iPadName.isEmpty();
      if (!forAndroid && !forIPhone && !forIPad)
        continue;
      const QString path = run.pngPath(e.Width, e.Height);

      // Named before the existence test: a file that is then skipped is still in the option sets.
      if (forAndroid)
        AndroidOptions->PropertyGroup()->SetChildText(e.AndroidName, path);
      if (forIPhone)
        iOSOptions->PropertyGroup()->SetChildText(e.iPhoneName, path);
      if (forIPad)
        iOSOptions->PropertyGroup()->SetChildText(e.iPadName, path);

      if (!writeFile(path))
        return;
    }
    // The App Store icon comes after the 1:1 group's own files; the option sets do not name it.
    if (run.appStoreIconAfter(g)) {
      if (!writeFile(run.pngPath(AppStoreIconSize, AppStoreIconSize)))
        return;
    }
  }

  ShowProgress(done, total);

  if (run.optsets) {
    if (android)
      AndroidOptions->OwnerDocument()->SaveToFile(run.androidOptsetPath());
    if (iPhone || iPad)
      iOSOptions->OwnerDocument()->SaveToFile(run.iOSOptsetPath());
  }
  Log(QStringLiteral("Operation complete."));
}
