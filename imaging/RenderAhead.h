#pragma once

#include "imaging/RenderImage.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Renders the PNGs of a generation run ahead of the loop that writes them, on every core.
//
// The images are queued in the order the loop will ask for them (Add), then Start starts one
// thread per core. The threads take bands (PngRenderJob) in queue order: a small image is one
// band, so each core does whole small images, while a large one is split over the cores. They
// stay at most kAhead images ahead of the one the loop waits for, so little memory is held.
// Take(i) waits for image i and hands over its bytes; the loop writes the file, so files are
// still written (and logged) one by one in queue order, and an image the loop skips is simply
// never taken. Everything runs until the object is destroyed, which stops work not yet begun
// and waits for the bands in progress.
//
// Errors: an error while rendering an image (an allocation failure, say) is raised by Take for
// that image, on the caller's thread. No error escapes a thread. A thread that the system will not
// start means fewer threads; with none at all, Take renders each image on the caller's thread.
class RenderAhead {
public:
  static constexpr int kAhead = 4;

  RenderAhead() = default;
  ~RenderAhead();
  RenderAhead(const RenderAhead&) = delete;
  RenderAhead& operator=(const RenderAhead&) = delete;

  // Queues an image; returns its index (0, 1, ... in the order of the calls). Before Start only.
  int Add(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth = false,
          const TRenderLook& aLook = {});
  void Start();
  // The PNG of image `index`: waits for it, then hands over its bytes (once). Images before it
  // that were not taken are given up. Indices must increase from one call to the next.
  QByteArray Take(int index);

private:
  struct Item {
    explicit Item(PngRenderJob j) : job(std::move(j)) {}
    PngRenderJob job;
    int bandsDone = 0;
    bool ready = false;
    QByteArray png;
    std::exception_ptr error;
  };
  struct Task {
    int item, band;
  };
  void Work();
  bool Runnable(const Task& task) const;
  int Reach() const;

  std::vector<std::unique_ptr<Item>> FItems;
  std::vector<Task> FTasks;
  size_t FNextTask = 0;
  std::deque<Task> FParked;  // bands begun that wait for their source's rows
  std::shared_ptr<const TPictureRows> FArriving;  // a source still arriving when the images were queued
  int FWanted = 0;  // the image the loop waits for or will ask for next
  bool FStop = false;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::thread> FThreads;
};
