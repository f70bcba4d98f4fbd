#include "imaging/RenderAhead.h"

#include "platform/Parallel.h"

RenderAhead::~RenderAhead() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FChanged.notify_all();
  for (std::thread& t : FThreads)
    t.join();
}

int RenderAhead::Add(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth) {
  const int index = int(FItems.size());
  FItems.push_back(std::make_unique<Item>(PngRenderJob(aBitmap, Width, Height, aRect, aSmooth)));
  Item& item = *FItems.back();
  for (int b = 0; b < item.job.BandCount(); ++b)
    FTasks.push_back({index, b});
  if (item.job.BandCount() == 0) {
    // Nothing to render: the result (an error for an image without pixels) is known now.
    try {
      item.png = item.job.TakePng();
    } catch (...) {
      item.error = std::current_exception();
    }
    item.ready = true;
  }
  return index;
}

void RenderAhead::Start() {
  returnLargeBuffersToTheSystem();
  const int threads = workerThreadCount();
  try {
    FThreads.reserve(size_t(threads));
    for (int t = 0; t < threads; ++t) {
      callWorkerTestHook(WorkerEvent::ThreadStart);
      FThreads.emplace_back(&RenderAhead::Work, this);
    }
  } catch (...) {
    // No further thread to be had: those started do the work, or Take does it.
  }
}

void RenderAhead::Work() {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    FChanged.wait(lock, [&] {
      return FStop || FNextTask == FTasks.size() || FTasks[FNextTask].item < FWanted + kAhead;
    });
    if (FStop || FNextTask == FTasks.size())
      return;
    const Task task = FTasks[FNextTask++];
    if (task.item < FWanted)
      continue;  // given up by the loop
    Item& item = *FItems[size_t(task.item)];
    lock.unlock();
    std::exception_ptr error;
    try {
      callWorkerTestHook(WorkerEvent::Task);
      item.job.RenderBand(task.band);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (error && !item.error)
      item.error = error;
    if (++item.bandsDone < item.job.BandCount())
      continue;
    lock.unlock();
    QByteArray png;
    if (!item.error) {
      try {
        png = item.job.TakePng();
      } catch (...) {
        error = std::current_exception();
      }
    }
    lock.lock();
    if (error && !item.error)
      item.error = error;
    item.png = std::move(png);
    item.ready = true;
    FChanged.notify_all();
  }
}

QByteArray RenderAhead::Take(int index) {
  if (FThreads.empty()) {
    // No thread renders ahead: the image is rendered here, now.
    Item& item = *FItems.at(size_t(index));
    if (!item.ready) {
      for (int b = 0; b < item.job.BandCount(); ++b)
        item.job.RenderBand(b);
      item.png = item.job.TakePng();
      item.ready = true;
    }
    if (item.error)
      std::rethrow_exception(item.error);
    return std::move(item.png);
  }
  std::unique_lock<std::mutex> lock(FMutex);
  FWanted = index;
  FChanged.notify_all();
  Item& item = *FItems.at(size_t(index));
  FChanged.wait(lock, [&] { return item.ready; });
  FWanted = index + 1;
  FChanged.notify_all();
  if (item.error)
    std::rethrow_exception(item.error);
  return std::move(item.png);
}
