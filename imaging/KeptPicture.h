#pragma once

#include "imaging/Bitmap.h"
#include "platform/Errors.h"
#include "platform/Types.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

// A picture as a frame keeps it while it shows it: a copy reduced to the size of the preview, the
// picture's own size, a map of its pixels that are not opaque (OpacityMap.h) and the stamp of its
// file (identity, size, modification time), not the picture itself. Thirteen frames of 8192 x 8192
// pictures thus keep a few megabytes, not 3 GB. Whatever needs the whole picture (the run, the
// preview window, the selection editor) asks for it with Whole, which decodes the file again, and
// only once the file is found to be still the one that was loaded. So that the common case (one
// picture of 4096 x 4096 or less in the frames) is not decoded twice, the whole picture is kept
// as well while all the pictures kept so take at most KeptWholeBudget bytes together: what is
// kept stays bounded whatever the number of frames.
//
// Copies share everything; a kept picture never changes.
class TKeptPicture {
public:
  TKeptPicture() = default;  // no picture
  // A picture held whole in memory, read from no file (made by the program or a test): Whole gives
  // it as it is.
  TKeptPicture(const TBitmap& picture);  // NOLINT: a bitmap is a picture to keep
  // Decodes the file (decodePicture, with its errors) and keeps what is described above, the copy
  // fitted into previewBound (never enlarged: a picture that fits is kept whole and is its own
  // copy; an empty bound keeps no copy). The decoded picture is let go. The same unchanged file
  // loaded again for the same bound while it is kept, or loaded by a running TKeptPrefetch, is not
  // decoded again.
  static TKeptPicture Load(const QString& fileName, QSize previewBound);

  bool IsEmpty() const { return Width() == 0 || Height() == 0; }
  // The picture's size in pixels (as decoded: at most MaxPictureSide a side); 0 x 0 without one.
  int Width() const;
  int Height() const;
  // The reduced copy the frame shows (empty without a picture).
  const TBitmap& Preview() const;
  // Whether a pixel of the picture that the region (fractions of the picture) touches is not
  // fully opaque (TOpacityMap::AnyTranslucentIn).
  bool AnyTranslucentIn(const TRectF& normalized) const;
  // The file the picture was loaded from; empty for a picture in memory.
  QString FileName() const;
  // Whether the file is still the one that was loaded (same identity, size and modification time);
  // always true for a picture in memory and without a picture.
  bool FileUnchanged() const;
  // The whole picture, for reading its pixels: the one held, or the file decoded again. A file that
  // is no longer the one loaded, or that now decodes to another size, raises EPictureChanged
  // (pictureChangedMessage); a file that fails to decode raises its load error. Empty without a
  // picture.
  TBitmap Whole() const;
  // The same kept picture: copies of one another, or the same unchanged file loaded for the same
  // bound while it was kept.
  friend bool operator==(const TKeptPicture& a, const TKeptPicture& b) { return a.FData == b.FData; }

  struct Data;  // what is kept, shared by the copies

private:
  std::shared_ptr<const Data> FData;
};

// "Picture changed on disk since it was loaded: <file name>"
QString pictureChangedMessage(const QString& fileName);
class EPictureChanged : public Exception {
  using Exception::Exception;
};

// Loads the named files' kept pictures (TKeptPicture::Load) ahead of their use, on at most two of
// the machine's cores, so that no more than two whole pictures are decoded at once. Until the
// object is destroyed, TKeptPicture::Load of one of them, unchanged, for the same bound, returns
// the picture loaded here (waiting for it while it is being loaded, or loading it itself when no
// worker runs). A file that fails here is loaded again by Load, which raises its error as usual.
// A worker that cannot be started is done without. The destructor waits for the workers.
class TKeptPrefetch {
public:
  TKeptPrefetch(const QStringList& fileNames, QSize previewBound);
  ~TKeptPrefetch();
  TKeptPrefetch(const TKeptPrefetch&) = delete;
  TKeptPrefetch& operator=(const TKeptPrefetch&) = delete;
  // The number of distinct existing files it loads (none that is kept already).
  int FileCount() const;

private:
  struct Work;
  std::unique_ptr<Work> FWork;
};

// The bytes of whole pictures of files kept beside their copies, for the whole process: two
// 4096 x 4096 pictures, no 8192 x 8192 one.
constexpr qint64 KeptWholeBudget = qint64(128) << 20;
// Tests: another budget for the pictures loaded from now on; returns the budget it replaces.
qint64 setKeptWholeBudget(qint64 bytes);

// The most whole pictures a prefetch decodes at once.
constexpr int MaxPrefetchWorkers = 2;
