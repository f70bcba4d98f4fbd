#pragma once

#include "imaging/KeptPicture.h"
#include "model/SelectionEdit.h"
#include "platform/Types.h"

#include <QString>

class TSettingsStore;

// The state of one ratio group, with no widget: its ratio, picture name, picture, and selection, and
// the rules that tie them to the settings file. The ratio frame shows and edits one; a run without
// a window restores the groups itself with the same rules.
//
// Coordinates are the preview's (see SelectionGeometry.h): the preview is PreviewHeight units high
// and Ratio() times that wide, and the picture lies on ImageRect() inside it.
class TRatioGroup {
public:
  static constexpr float PreviewHeight = 122;

  TRatioGroup(int ratioWidth, int ratioHeight);
  // A group whose entries in the settings file are under its own key (launch_screen), named in the
  // log by its label with its ratio ("launch screen (1:1)"), with an optional dark-mode picture
  // under darkKey in "images".
  TRatioGroup(int ratioWidth, int ratioHeight, const QString& key, const QString& label, const QString& darkKey);

  int RatioWidth() const { return FRatioWidth; }
  int RatioHeight() const { return FRatioHeight; }
  void SetRatio(int ratioWidth, int ratioHeight);
  float Ratio() const;
  float PreviewWidth() const;
  // The size key that names the group's entries in the settings file: 180_180, 2688_1242, or the
  // group's own key (launch_screen).
  QString SizeKey() const;
  // The group's caption: the ratio in the user's number format and ":1" (1:1, 2.16:1), after the
  // label of a group that has one ("notification (1:1)").
  QString Caption() const;
  // The key in "images" of its dark-mode picture; empty for a group without one.
  QString DarkKey() const { return FDarkKey; }
  // The words that name a group of the catalogue's own ("launch screen"); empty for a classic group.
  QString Label() const { return FLabel; }

  // The size of the copy of its picture a group keeps for its preview: four device pixels a unit
  // of the widest preview (the 2.16:1 group's, 264 x 122 units).
  static constexpr QSize PreviewCopyBound{1056, 488};

  // The size of the copy this group keeps of its pictures: PreviewCopyBound for a frame, none (an
  // empty size) for a group that is shown nowhere (the command line's).
  QSize CopyBound = PreviewCopyBound;

  QString Filename;      // the picture's full path; empty without a picture
  TKeptPicture Picture;  // the picture as kept (its size, its preview copy); empty without one
  TRectF SelectRect;     // the selection, in preview coordinates
  QString DarkFilename;  // the dark-mode picture's full path and the picture; empty without one
  TKeptPicture DarkPicture;

  // Where the picture lies in the preview (fitted, never enlarged, centred, on whole units).
  TRectF ImageRect() const;
  // The selection as fractions of the picture.
  TRectF ZoomRect() const;
  // The selection as fractions of the dark-mode picture: the same selection, over that picture as
  // the preview would place it.
  TRectF DarkZoomRect() const;
  // The picture's size in pixels (0 x 0 without one).
  TPictureSize PictureSize() const { return {Picture.Width(), Picture.Height()}; }
  // The selection's width over its height in picture pixels, in double precision.
  double PictureRatio() const { return double(FRatioWidth) / double(FRatioHeight); }
  // Select-all: the largest region of the ratio in the picture, centred, measured in picture
  // pixels, in preview coordinates; without a picture the centre point of the preview.
  TRectF DefaultSelection() const;
  // The selection in picture pixels, and a selection in picture pixels made the group's.
  TPictureRect PictureSelection() const;
  TRectF PreviewSelectionOf(const TPictureRect& selection) const;

private:
  // Where a picture of the group lies in its preview.
  TRectF ImageRectOf(const TKeptPicture& picture) const;
  int FRatioWidth;
  int FRatioHeight;
  QString FKey;
  QString FLabel;
  QString FDarkKey;
};

// The group of this index of the catalogue (groupInfo): its ratio, key, label and dark key.
TRatioGroup ratioGroupOf(int group);

// Makes Filename the group's picture: a name with a line break is refused (ELineBreakError), a
// name that is no file raises EFileNotFoundException "File does not exist: <name>", a picture that
// cannot be decoded raises its load error; all three leave the group as it was. An empty name
// leaves the group without a picture. The group keeps the picture as TKeptPicture does, with a
// copy fitted into its CopyBound.
void loadGroupPicture(TRatioGroup& group, const QString& Filename);

// Makes Filename the group's dark-mode picture, by the rules of loadGroupPicture.
void loadGroupDarkPicture(TRatioGroup& group, const QString& Filename);

// Stores the group's picture name under its size key: relative to the settings file when the user
// asked for that, otherwise in full, except that a stored relative name that already names this
// file is left as it was written.
void storeGroupPictureName(const TRatioGroup& group, TSettingsStore& settings);
// Stores the group's dark-mode picture name under its dark key, by the same rule (nothing for a
// group without one).
void storeGroupDarkPictureName(const TRatioGroup& group, TSettingsStore& settings);

// Restores the group from the settings file, as at start-up: the stored picture (a relative name
// taken beside the settings file; the name stored again by the rule above), then the stored
// selection or, when none is stored, the default one. With a picture, a stored selection of the
// ratio in preview units or in picture pixels, inside the picture, is kept as it is; one out of the
// ratio or beyond the picture is brought back into both (restoredSelection), and one that lies
// wholly beside the picture becomes the default selection. The selection is
// written back. A group with a dark key restores its dark-mode picture as well (its stored name is
// left as written). Errors (missing or undecodable picture, unreadable selection, unwritable
// settings file) are raised.
void restoreGroup(TRatioGroup& group, TSettingsStore& settings);

// A group that follows another (the notification group follows the 1:1 group): with a picture of
// its own it is itself; without one it takes the other's picture and selection (brought into its
// own ratio and picture).
TRatioGroup followingGroup(const TRatioGroup& group, const TRatioGroup& followed);

// Restores a group that follows another: with a picture of its own stored it is restored as
// restoreGroup does; without one it is followingGroup of the other, and nothing of it is read or
// written back, so it keeps following.
void restoreFollowingGroup(TRatioGroup& group, const TRatioGroup& followed, TSettingsStore& settings);
