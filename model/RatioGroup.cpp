#include "model/RatioGroup.h"

#include "catalogue/SizeInfo.h"
#include "model/SelectionGeometry.h"
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"

#include <QFileInfo>

TRatioGroup::TRatioGroup(int ratioWidth, int ratioHeight) : FRatioWidth(ratioWidth), FRatioHeight(ratioHeight) {}

TRatioGroup::TRatioGroup(int ratioWidth, int ratioHeight, const QString& key, const QString& label,
                         const QString& darkKey)
    : FRatioWidth(ratioWidth), FRatioHeight(ratioHeight), FKey(key), FLabel(label), FDarkKey(darkKey) {}

TRatioGroup ratioGroupOf(int group) {
  const TGroupInfo& info = groupInfo(group);
  // A group with a word of its own is named by its key in words: "launch screen", "notification".
  const QString label = info.Word.isEmpty() ? QString() : QString(info.Key).replace(u'_', u' ');
  return TRatioGroup(info.Width, info.Height, info.Key, label, info.DarkKey);
}

void TRatioGroup::SetRatio(int ratioWidth, int ratioHeight) {
  FRatioWidth = ratioWidth;
  FRatioHeight = ratioHeight;
}

float TRatioGroup::Ratio() const { return static_cast<float>(double(FRatioWidth) / double(FRatioHeight)); }

float TRatioGroup::PreviewWidth() const { return static_cast<float>(double(Ratio()) * double(PreviewHeight)); }

QString TRatioGroup::SizeKey() const {
  if (!FKey.isEmpty())
    return FKey;
  return QString::number(FRatioWidth) + QLatin1Char('_') + QString::number(FRatioHeight);
}

QString TRatioGroup::Caption() const {
  const QString ratio = floatToText(Ratio()) + QStringLiteral(":1");
  return FLabel.isEmpty() ? ratio : QStringLiteral("%1 (%2)").arg(FLabel, ratio);
}

TRectF TRatioGroup::ImageRectOf(const TKeptPicture& picture) const {
  // Measured by the picture's own size, not its preview copy's: the selection, the stored values
  // and the outputs do not depend on the copy.
  return imageRect(picture.Width(), picture.Height(), 1.0f, PreviewWidth(), PreviewHeight);
}

TRectF TRatioGroup::ImageRect() const { return ImageRectOf(Picture); }

TRectF TRatioGroup::ZoomRect() const { return normalizedSelection(SelectRect, ImageRect()); }

TRectF TRatioGroup::DarkZoomRect() const { return normalizedSelection(SelectRect, ImageRectOf(DarkPicture)); }

TRectF TRatioGroup::DefaultSelection() const {
  if (Picture.IsEmpty())
    return defaultSelection(ImageRect(), Ratio());
  return PreviewSelectionOf(largestCentred(PictureSize(), PictureRatio()));
}

TPictureRect TRatioGroup::PictureSelection() const { return pictureRectOf(SelectRect, ImageRect(), PictureSize()); }

TRectF TRatioGroup::PreviewSelectionOf(const TPictureRect& selection) const {
  return previewRectOf(selection, ImageRect(), PictureSize());
}

namespace {

// The picture of that file as a group keeps it; none for an empty name.
TKeptPicture loadPicture(const QString& Filename, QSize copyBound) {
  refuseLineBreak(Filename);  // the settings file could not keep it
  if (!Filename.isEmpty() && !QFileInfo(Filename).isFile())
    throw EFileNotFoundException(QStringLiteral("File does not exist: ") + Filename);
  if (Filename.isEmpty())
    return {};
  return TKeptPicture::Load(Filename, copyBound);
}

// A stored selection brought back to the group's ratio and inside its picture. One made in picture
// pixels (select-all, the editor) is kept as it is, as is one made in preview units (a drag); one
// beside the picture says nothing about it and gives the default selection.
TRectF restoredSelectionOf(const TRatioGroup& group, const TRectF& stored) {
  if (group.Picture.IsEmpty())
    return stored;
  const TRectF ir = group.ImageRect();
  if (inPictureRatio(stored, ir, group.PictureSize(), group.PictureRatio()))
    return stored;
  if (isOutside(stored, ir))
    return group.DefaultSelection();
  return restoredSelection(stored, group.Ratio(), ir);
}

}  // namespace

void loadGroupPicture(TRatioGroup& group, const QString& Filename) {
  // The picture is decoded before anything changes: one that fails leaves the group's name and
  // picture as they were, so that the name always names the picture in use.
  group.Picture = loadPicture(Filename, group.CopyBound);
  group.Filename = Filename;
}

void loadGroupDarkPicture(TRatioGroup& group, const QString& Filename) {
  group.DarkPicture = loadPicture(Filename, group.CopyBound);
  group.DarkFilename = Filename;
}

namespace {
// Stores a picture's name under key in "images", in the form storeGroupPictureName describes.
void storePictureName(const QString& key, const QString& fileName, TSettingsStore& settings) {
  if (settings.RelativePathsWanted()) {
    settings.SetImageSetting(key, settings.PathToStore(fileName, true));
    return;
  }
  // A stored relative name that already names this file is left as it was written.
  const QString stored = settings.ImageSetting(key);
  if (!stored.isEmpty() && stored != fileName && settings.ResolvedPath(stored) == fileName)
    return;
  settings.SetImageSetting(key, fileName);
}
}  // namespace

void storeGroupPictureName(const TRatioGroup& group, TSettingsStore& settings) {
  storePictureName(group.SizeKey(), group.Filename, settings);
}

void storeGroupDarkPictureName(const TRatioGroup& group, TSettingsStore& settings) {
  if (!group.DarkKey().isEmpty())
    storePictureName(group.DarkKey(), group.DarkFilename, settings);
}

void restoreGroup(TRatioGroup& group, TSettingsStore& settings) {
  const QString name = settings.ResolvedPath(settings.ImageSetting(group.SizeKey()));
  loadGroupPicture(group, name);
  if (!name.isEmpty())
    storeGroupPictureName(group, settings);
  // A stored selection out of the ratio would stretch every output, and one beyond the picture
  // would smear its edge over them: with a picture it is brought back to the ratio and inside the
  // picture (and stored so; a read-only store keeps it in memory); without one there is nothing to
  // measure it by.
  const TRectF stored = settings.SelectionSetting(group.SizeKey()).value_or(group.DefaultSelection());
  group.SelectRect = restoredSelectionOf(group, stored);
  settings.SetSelectionSetting(group.SizeKey(), group.SelectRect);
  if (!group.DarkKey().isEmpty()) {
    loadGroupDarkPicture(group, settings.ResolvedPath(settings.ImageSetting(group.DarkKey())));
  }
}

TRatioGroup followingGroup(const TRatioGroup& group, const TRatioGroup& followed) {
  if (!group.Filename.isEmpty())
    return group;
  TRatioGroup following = group;
  following.Filename = followed.Filename;
  following.Picture = followed.Picture;
  // Brought into its own ratio and picture by the rules a stored selection is restored with.
  following.SelectRect = restoredSelectionOf(following, followed.SelectRect);
  return following;
}

void restoreFollowingGroup(TRatioGroup& group, const TRatioGroup& followed, TSettingsStore& settings) {
  if (!settings.ImageSetting(group.SizeKey()).isEmpty()) {
    restoreGroup(group, settings);
    return;
  }
  group = followingGroup(group, followed);
}
