#pragma once

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// A decoded picture whose rows are still being written.
//
// A decoder that has read and checked everything that could make the picture fail may hand the
// picture over before all of its rows are written (decodePicture does so only where
// setEarlyPictures allowed it): the rest of the work runs on a thread of its own, writing the rows
// from top to bottom, and whoever reads the pixels asks first how far they are written. The
// renderers (PngRenderJob) read each row as soon as it is there; everything else that reads
// pixels waits for the whole picture (waitForPicture). A picture whose rows are all written, or
// that never was in progress, needs no waiting: pictureRowsInProgress gives null for it.
class TPictureRows {
public:
  explicit TPictureRows(int height) : FHeight(height) {}
  int Height() const { return FHeight; }
  // The rows written so far, from the top.
  int Ready() const { return FReady.load(std::memory_order_acquire); }
  // Waits until at least `rows` rows (at most the height) are written.
  void WaitFor(int rows) const;
  // As WaitFor, giving up after `microseconds`; whether they are there.
  bool WaitFor(int rows, int microseconds) const;
  // The decoder: rows 0 to rows - 1 are written.
  void Publish(int rows);

private:
  const int FHeight;
  std::atomic<int> FReady{0};
  mutable std::mutex FMutex;
  mutable std::condition_variable FChanged;
};

// The rows of a picture that is still being written, or null when all its rows are there.
std::shared_ptr<const TPictureRows> pictureRowsInProgress(const QImage& image);
// Waits until every row of the picture is written (at once for a finished one).
void waitForPicture(const QImage& image);

// The decoder's side: runs `work` on a thread of its own, which writes the rows of `image` and
// publishes them through the TPictureRows it is given; the picture counts as in progress until
// `work` returns (its last rows are published then, whatever it published itself). `work` must
// not fail: everything that could make the picture fail is checked before. Without a thread to
// be had, `work` runs here, before this returns. The process waits for these threads at exit.
void finishPictureRowsInBackground(const QImage& image, std::function<void(TPictureRows&)> work);

// Whether decodePicture may return pictures still in progress (off unless a caller that reads
// pixels only through the renderers or waitForPicture turns it on); returns the previous value.
bool setEarlyPictures(bool allowed);
bool earlyPicturesAllowed();
