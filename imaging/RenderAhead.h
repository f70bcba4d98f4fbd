#pragma once

#include "imaging/RenderImage.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
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
// Sources: an image is drawn from a source picture. A source given as a bitmap is held from the
// start; one given as a loader (AddSource) is loaded when the first band of its images begins and
// let go as soon as each of its images is done or given up, and no more than kSourcesAtOnce of
// these are held at once, so that a run over many large pictures holds one or two of them, not all.
//
// Errors: an error while rendering an image (an allocation failure, say) is raised by Take for
// that image, on the caller's thread; an error of a source's loader is raised by Take for each
// image of that source. No error escapes a thread. A thread that the system will not start means
// fewer threads; with none at all, Take renders each image on the caller's thread.
class RenderAhead {
public:
  static constexpr int kAhead = 4;
  static constexpr int kSourcesAtOnce = 2;
  using TSourceLoader = std::function<TBitmap()>;

  RenderAhead() = default;
  ~RenderAhead();
  RenderAhead(const RenderAhead&) = delete;
  RenderAhead& operator=(const RenderAhead&) = delete;

  // A source loaded when it is first needed; returns its number. Before Start only.
  int AddSource(TSourceLoader load);
  // Queues an image of a source; returns its index (0, 1, ... in the order of the calls). Before
  // Start only.
  int Add(int source, int Width, int Height, const TRectF& aRect, bool aSmooth = false, const TRenderLook& aLook = {});
  // Queues an image of a picture held already.
  int Add(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth = false,
          const TRenderLook& aLook = {});
  void Start();
  // The PNG of image `index`: waits for it, then hands over its bytes (once). Images before it
  // that were not taken are given up. Indices must increase from one call to the next.
  QByteArray Take(int index);

private:
  struct Source {
    TSourceLoader load;
    bool held = false;  // given as a bitmap: never counted nor let go
    enum { Unloaded, Loading, Loaded, Released } state = Unloaded;
    TBitmap bitmap;
    std::shared_ptr<const TPictureRows> rows;  // while the picture is still arriving
    std::exception_ptr error;
  };
  struct Item {
    int source = 0;
    int width = 0, height = 0;
    TRectF rect;
    bool smooth = false;
    TRenderLook look;
    std::optional<PngRenderJob> job;  // made when its first band begins, dropped once it is done
    int bandCount = 0;
    int bandsDone = 0;
    int running = 0;  // bands being rendered now
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
  // Called with the lock held: whether the queue's next task may be taken now (TaskReady), or not
  // (NoTask), or should be asked about again since its source was loaded on this thread (AskAgain).
  enum TNext { NoTask, TaskReady, AskAgain };
  TNext NextTask(std::unique_lock<std::mutex>& lock);
  void WaitForRows(std::unique_lock<std::mutex>& lock);
  // Renders the image on the caller's thread (no thread renders ahead).
  void RenderHere(Item& item);
  void LoadSource(Source& source, std::unique_lock<std::mutex>* lock);
  bool SourceFree() const;
  // Makes the item's job from its source, or gives it its source's error.
  void Prepare(Item& item);
  // Drops the jobs of images done or given up, and lets go of the sources none of whose images is
  // left.
  void Settle();
  void RenderBand(const Task& task, std::unique_lock<std::mutex>& lock);
  void Finish(Item& item, std::unique_lock<std::mutex>& lock);

  std::vector<Source> FSources;
  std::vector<std::unique_ptr<Item>> FItems;
  std::vector<Task> FTasks;
  size_t FNextTask = 0;
  std::deque<Task> FParked;  // bands begun that wait for their source's rows
  int FWanted = 0;  // the image the loop waits for or will ask for next
  bool FStop = false;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::vector<std::thread> FThreads;
};
