// The generation run: every catalogue entry that serves a checked device becomes a PNG beside the
// base file name, is named in the option-set documents, and the documents are saved at the end.
#include "app/VellumarkMain.h"

#include "app/RenderAhead.h"
#include "app/RenderImage.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "platform/Dialogs.h"
#include "platform/PathRules.h"
#include "platform/PngWriter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>

void TfrmVellumark::NewOptsets() {
  AndroidOptions = NewAndroidOptsetWithHeader();
  iOSOptions = NewiOSOptsetWithHeader();
}

void TfrmVellumark::GenerateImage(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect,
                                  const QString& aFilename) {
  renderImageFile(aBitmap, Width, Height, aRect, aFilename);
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
  auto serves = [&](const TSizeInfo& e) {
    return (android && !e.AndroidName.isEmpty()) || (iPhone && !e.iPhoneName.isEmpty()) ||
           (iPad && !e.iPadName.isEmpty());
  };

  // Every image this run may write is rendered ahead on all cores, in the order of the loop
  // below; the loop still decides, writes and logs one file at a time. An image that is skipped
  // is never taken; leaving the run stops the rendering.
  RenderAhead ahead;
  for (int g = 0; g < SizeGroupCount; ++g)
    for (const TSizeInfo& e : SizeGroups[g])
      if (serves(e))
        ahead.Add(FindRatioFrame(g)->Bitmap(), e.Width, e.Height, FindRatioFrame(g)->ZoomRect());
  ahead.Start();
  int rendered = -1;  // the index of the entry in the rendering order

  for (int g = 0; g < SizeGroupCount; ++g) {
    TRatioFrame* frame = FindRatioFrame(g);
    Log(QStringLiteral("   Generating %1 images...").arg(frame->Caption()));
    for (const TSizeInfo& e : SizeGroups[g]) {
      const bool forAndroid = android && !e.AndroidName.isEmpty();
      const bool forIPhone = iPhone && !e.iPhoneName.isEmpty();
      const bool forIPad = iPad && !e.iPadName.isEmpty();
      if (!forAndroid && !forIPhone && !forIPad)
        continue;
      ++rendered;
      // One substitution pass: a "%1" or "%2" inside the stem is part of the name, not a placeholder.
      const QString path = joinPath(
          folder, QStringLiteral("%1%2x%3.png").arg(stem, QString::number(e.Width), QString::number(e.Height)));

      // Named before the existence test: a file that is then skipped is still in the option sets.
      if (forAndroid)
        AndroidOptions->PropertyGroup()->SetChildText(e.AndroidName, path);
      if (forIPhone)
        iOSOptions->PropertyGroup()->SetChildText(e.iPhoneName, path);
      if (forIPad)
        iOSOptions->PropertyGroup()->SetChildText(e.iPadName, path);

      if (QFileInfo::exists(path)) {
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
      savePngBytes(ahead.Take(rendered), path);
    }
  }

  if (cbOptset->isChecked()) {
    if (android)
      AndroidOptions->OwnerDocument()->SaveToFile(joinPath(folder, stem + QStringLiteral(".android.optset")));
    if (iPhone || iPad)
      iOSOptions->OwnerDocument()->SaveToFile(joinPath(folder, stem + QStringLiteral(".ios.optset")));
  }
  Log(QStringLiteral("Operation complete."));
}
