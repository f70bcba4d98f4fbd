#include "imaging/RenderAhead.h"

#include "platform/Parallel.h"

#include <algorithm>

RenderAhead::~RenderAhead() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FChanged.notify_all();
  for (std::thread& t : FThreads)
    t.join();
}

int RenderAhead::Add(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth,
                     const TRenderLook& aLook) {
  const int index = int(FItems.size());
  FItems.push_back(std::make_unique<Item>(PngRenderJob(aBitmap, Width, Height, aRect, aSmooth, aLook)));
  Item& item = *FItems.back();
  if (!FArriving && item.job.SourceRows())
    FArriving = item.job.SourceRows();
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

bool RenderAhead::Runnable(const Task& task) const {
  const PngRenderJob& job = FItems[size_t(task.item)]->job;
  return !job.SourceRows() || job.SourceRows()->Ready() >= job.SourceRowsWanted(task.band);
}

void RenderAhead::Work() {
  std::unique_lock<std::mutex> lock(FMutex);
  for (;;) {
    if (FStop)
      return;
    // Bands given up by the loop are dropped; a band that waited for its source's rows and can
    // go on now is taken first, then the next band of the queue within reach.
    std::erase_if(FParked, [&](const Task& t) { return t.item < FWanted; });
    std::optional<Task> next;
    for (auto t = FParked.begin(); t != FParked.end(); ++t)
      if (Runnable(*t)) {
        next = *t;
        FParked.erase(t);
        break;
      }
    if (!next && FNextTask < FTasks.size() && FTasks[FNextTask].item < FWanted + Reach()) {
      next = FTasks[FNextTask++];
      if (next->item < FWanted)
        continue;  // given up by the loop
    }
    if (!next) {
      if (FNextTask == FTasks.size() && FParked.empty())
        return;
      if (FParked.empty()) {
        FChanged.wait(lock);
        continue;
      }
      // Every band at hand waits for source rows: wait for the fewest any of them wants (of the
      // first band's source), a little at a time, since the loop may meanwhile let further
      // images begin.
      const std::shared_ptr<const TPictureRows> rows = FItems[size_t(FParked.front().item)]->job.SourceRows();
      int wanted = rows->Height();
      for (const Task& t : FParked)
        if (const PngRenderJob& job = FItems[size_t(t.item)]->job; job.SourceRows() == rows)
          wanted = std::min(wanted, job.SourceRowsWanted(t.band));
      lock.unlock();
      rows->WaitFor(wanted, 2000);
      lock.lock();
      continue;
    }
    const Task task = *next;
    Item& item = *FItems[size_t(task.item)];
    lock.unlock();
    std::exception_ptr error;
    bool done = true;
    try {
      callWorkerTestHook(WorkerEvent::Task);
      done = item.job.RenderSome(task.band);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    if (!done && !error) {
      FParked.push_back(task);
      continue;
    }
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

int RenderAhead::Reach() const {
  // While a source is still arriving, every image may begin: each band renders what the rows
  // already there allow and waits (holding only its encoder's state) for the rest, so the cores
  // have work all along the decode, not only for the first images, which are small.
  return FArriving && FArriving->Ready() < FArriving->Height() ? int(FItems.size()) : kAhead;
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
