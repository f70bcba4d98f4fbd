// The generation run: every catalogue entry that serves a checked device becomes a PNG beside the
// base file name, is named in the option-set documents, and the documents are saved at the end.
#include "app/VellumarkMain.h"

#include "app/RenderImage.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "platform/Dialogs.h"
#include "platform/PathRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>

namespace {

// The PNG file of an entry: stem, width "x" height, ".png", in the folder.
QString pngPathOf(const QString& folder, const QString& stem, const TSizeInfo& e) {
  // One substitution pass: a "%1" or "%2" inside the stem is part of the name, not a placeholder.
  return joinPath(folder,
                  QStringLiteral("%1%2x%3.png").arg(stem, QString::number(e.Width), QString::number(e.Height)));
}

}  // namespace

void TfrmVellumark::NewOptsets() {
  AndroidOptions = NewAndroidOptsetWithHeader();
  iOSOptions = NewiOSOptsetWithHeader();
}

void TfrmVellumark::GenerateImage(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect,
                                  const QString& aFilename) {
  renderImageFile(aBitmap, Width, Height, aRect, aFilename);
}

QStringList TfrmVellumark::OutputPngPaths() const {
  const bool android = IsChecked(lbiAndroid);
  const bool iPhone = IsChecked(lbiiPhone);
  const bool iPad = IsChecked(lbiiPad);
  const QString baseName = ceBaseName->currentText();
  const QString folder = folderOf(baseName);
  const QString stem = stemOf(baseName);
  QStringList paths;
  for (int g = 0; g < SizeGroupCount; ++g)
    for (const TSizeInfo& e : SizeGroups[g])
      if ((android && !e.AndroidName.isEmpty()) || (iPhone && !e.iPhoneName.isEmpty()) ||
          (iPad && !e.iPadName.isEmpty()))
        paths << pngPathOf(folder, stem, e);
  return paths;
}

void TfrmVellumark::GenerateImages() {
  NewOptsets();
  Log(QStringLiteral("Generating images..."));
  // The last answer to the overwrite question; it lives for this run only.
  int remembered = mrYes;

  const bool android = IsChecked(lbiAndroid);
  const bool iPhone = IsChecked(lbiiPhone);
  const bool iPad = IsChecked(lbiiPad);
  const QString baseName = ceBaseName->currentText();
  const QString folder = folderOf(baseName);
  const QString stem = stemOf(baseName);
  const QString skipping = QStringLiteral("      %1 exists.  Skipping.");
  // Entries done of the entries to make, for the progress bar.
  const int total = int(OutputPngPaths().size());
  int done = 0;

  for (int g = 0; g < SizeGroupCount; ++g) {
    TRatioFrame* frame = FindRatioFrame(g);
    Log(QStringLiteral("   Generating %1 images...").arg(frame->Caption()));
    for (const TSizeInfo& e : SizeGroups[g]) {
      const bool forAndroid = android && !e.AndroidName.isEmpty();
      const bool forIPhone = iPhone && !e.iPhoneName.isEmpty();
      const bool forIPad = iPad && !e.iPadName.isEmpty();
      if (!forAndroid && !forIPhone && !forIPad)
        continue;
      ShowProgress(done++, total);
      const QString path = pngPathOf(folder, stem, e);

      // Named before the existence test: a file that is then skipped is still in the option sets.
      if (forAndroid)
        AndroidOptions->PropertyGroup()->SetChildText(e.AndroidName, path);
      if (forIPhone)
        iOSOptions->PropertyGroup()->SetChildText(e.iPhoneName, path);
      if (forIPad)
        iOSOptions->PropertyGroup()->SetChildText(e.iPadName, path);

      // A folder of that name is no file: nothing to ask, the render reports that it cannot create it.
      const QFileInfo existing(path);
      if (existing.exists() && !existing.isDir()) {
        if (remembered == mrNoToAll) {
          Log(skipping.arg(path));
          continue;
        }
        if (remembered != mrYesToAll) {
          remembered = Dialogs().MessageDlg(QStringLiteral("%1 exists.  Overwrite?").arg(path), TMsgDlgType::mtWarning,
                                            mbYes | mbNo | mbCancel | mbNoToAll | mbYesToAll, 0);
          if (remembered == mrCancel)
            return;
          if (remembered == mrNo || remembered == mrNoToAll) {
            Log(skipping.arg(path));
            continue;
          }
        }
      }
      Log(QStringLiteral("      ") + path);
      GenerateImage(frame->Bitmap(), e.Width, e.Height, frame->ZoomRect(), path);
    }
  }

  ShowProgress(done, total);

  if (cbOptset->isChecked()) {
    if (android)
      AndroidOptions->OwnerDocument()->SaveToFile(joinPath(folder, stem + QStringLiteral(".android.optset")));
    if (iPhone || iPad)
      iOSOptions->OwnerDocument()->SaveToFile(joinPath(folder, stem + QStringLiteral(".ios.optset")));
  }
  Log(QStringLiteral("Operation complete."));
}
