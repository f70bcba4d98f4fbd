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

int RenderAhead::AddSource(TSourceLoader load) {
  Source source;
  source.load = std::move(load);
  FSources.push_back(std::move(source));
  return int(FSources.size()) - 1;
}

int RenderAhead::Add(const TBitmap& aBitmap, int Width, int Height, const TRectF& aRect, bool aSmooth,
                     const TRenderLook& aLook) {
  Source source;
  source.held = true;
  source.state = Source::Loaded;
  source.bitmap = aBitmap;
  source.rows = pictureRowsInProgress(aBitmap.Image());
  FSources.push_back(std::move(source));
  return Add(int(FSources.size()) - 1, Width, Height, aRect, aSmooth, aLook);
}

int RenderAhead::Add(int source, int Width, int Height, const TRectF& aRect, bool aSmooth, const TRenderLook& aLook) {
  const int index = int(FItems.size());
  auto item = std::make_unique<Item>();
  item->source = source;
  item->width = Width;
  item->height = Height;
  item->rect = aRect;
  item->smooth = aSmooth;
  item->look = aLook;
  item->bandCount = Width > 0 && Height > 0 ? pngBandCount(Width, Height) : 0;
  for (int b = 0; b < item->bandCount; ++b)
    FTasks.push_back({index, b});
  if (item->bandCount == 0) {
    // Nothing to render: the result (an error for an image without pixels) is known now.
    try {
      item->png = PngRenderJob(TBitmap(), Width, Height, aRect, aSmooth, aLook).TakePng();
    } catch (...) {
      item->error = std::current_exception();
    }
    item->ready = true;
  }
  FItems.push_back(std::move(item));
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
  const std::optional<PngRenderJob>& job = FItems[size_t(task.item)]->job;
  return !job || !job->SourceRows() || job->SourceRows()->Ready() >= job->SourceRowsWanted(task.band);
}

bool RenderAhead::SourceFree() const {
  int held = 0;
  for (const Source& s : FSources)
    if (!s.held && (s.state == Source::Loading || s.state == Source::Loaded))
      ++held;
  return held < kSourcesAtOnce;
}

void RenderAhead::LoadSource(Source& source, std::unique_lock<std::mutex>* lock) {
  source.state = Source::Loading;
  if (lock)
    lock->unlock();
  TBitmap bitmap;
  std::exception_ptr error;
  try {
    bitmap = source.load();
  } catch (...) {
    error = std::current_exception();
  }
  if (lock)
    lock->lock();
  source.bitmap = bitmap;
  source.rows = pictureRowsInProgress(bitmap.Image());
  source.error = error;
  source.state = Source::Loaded;
  FChanged.notify_all();
}

RenderAhead::TNext RenderAhead::NextTask(std::unique_lock<std::mutex>& lock) {
  while (FNextTask < FTasks.size() && FTasks[FNextTask].item < FWanted)
    ++FNextTask;  // given up by the loop
  if (FNextTask == FTasks.size() || FTasks[FNextTask].item >= FWanted + Reach())
    return NoTask;
  Source& source = FSources[size_t(FItems[size_t(FTasks[FNextTask].item)]->source)];
  if (source.state == Source::Loaded)
    return TaskReady;
  if (source.state != Source::Unloaded || !SourceFree())
    return NoTask;  // being loaded by another thread, or it waits for a source to be let go
  LoadSource(source, &lock);
  return AskAgain;
}

void RenderAhead::Prepare(Item& item) {
  if (item.job || item.error)
    return;
  const Source& source = FSources[size_t(item.source)];
  if (source.error)
    item.error = source.error;
  else
    item.job.emplace(source.bitmap, item.width, item.height, item.rect, item.smooth, item.look);
}

void RenderAhead::Settle() {
  for (size_t i = 0; i < FItems.size(); ++i) {
    Item& item = *FItems[i];
    if (item.job && item.running == 0 && (item.ready || int(i) < FWanted))
      item.job.reset();
  }
  for (size_t s = 0; s < FSources.size(); ++s) {
    Source& source = FSources[s];
    if (source.held || source.state != Source::Loaded)
      continue;
    const bool needed = std::any_of(FItems.begin(), FItems.end(), [&](const std::unique_ptr<Item>& item) {
      const bool left = !item->ready && (&item - FItems.data()) >= FWanted;
      return item->source == int(s) && (left || item->job);
    });
    if (!needed) {
      source.bitmap = TBitmap();
      source.rows.reset();
      source.state = Source::Released;
    }
  }
  FChanged.notify_all();
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
    if (!next) {
      const TNext step = NextTask(lock);
      if (step == AskAgain)
        continue;
      if (step == TaskReady)
        next = FTasks[FNextTask++];
    }
    if (!next) {
      if (FNextTask == FTasks.size() && FParked.empty())
        return;
      if (FParked.empty()) {
        FChanged.wait(lock);
        continue;
      }
      WaitForRows(lock);
      continue;
    }
    RenderBand(*next, lock);
  }
}

void RenderAhead::WaitForRows(std::unique_lock<std::mutex>& lock) {
  // Every band at hand waits for source rows: wait for the fewest any of them wants (of the first
  // band's source), a little at a time, since the loop may meanwhile let further images begin.
  const std::shared_ptr<const TPictureRows> rows = FItems[size_t(FParked.front().item)]->job->SourceRows();
  int wanted = rows->Height();
  for (const Task& t : FParked)
    if (const std::optional<PngRenderJob>& job = FItems[size_t(t.item)]->job; job->SourceRows() == rows)
      wanted = std::min(wanted, job->SourceRowsWanted(t.band));
  lock.unlock();
  rows->WaitFor(wanted, 2000);
  lock.lock();
}

void RenderAhead::RenderBand(const Task& task, std::unique_lock<std::mutex>& lock) {
  Item& item = *FItems[size_t(task.item)];
  Prepare(item);
  PngRenderJob* job = item.job ? &*item.job : nullptr;
  ++item.running;
  lock.unlock();
  std::exception_ptr error;
  bool done = true;
  try {
    callWorkerTestHook(WorkerEvent::Task);
    if (job)
      done = job->RenderSome(task.band);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  --item.running;
  if (!done && !error) {
    FParked.push_back(task);
    return;
  }
  if (error && !item.error)
    item.error = error;
  if (++item.bandsDone < item.bandCount) {
    Settle();
    return;
  }
  Finish(item, lock);
}

void RenderAhead::Finish(Item& item, std::unique_lock<std::mutex>& lock) {
  ++item.running;
  PngRenderJob* job = !item.error && item.job ? &*item.job : nullptr;
  lock.unlock();
  QByteArray png;
  std::exception_ptr error;
  if (job) {
    try {
      png = job->TakePng();
    } catch (...) {
      error = std::current_exception();
    }
  }
  lock.lock();
  --item.running;
  if (error && !item.error)
    item.error = error;
  item.png = std::move(png);
  item.ready = true;
  Settle();
}

int RenderAhead::Reach() const {
  // While a source is still arriving, every image may begin: each band renders what the rows
  // already there allow and waits (holding only its encoder's state) for the rest, so the cores
  // have work all along the decode, not only for the first images, which are small. Sources are
  // still loaded no more than kSourcesAtOnce at a time.
  for (const Source& s : FSources)
    if (s.state == Source::Loaded && s.rows && s.rows->Ready() < s.rows->Height())
      return int(FItems.size());
  return kAhead;
}

QByteArray RenderAhead::Take(int index) {
  Item& item = *FItems.at(size_t(index));
  if (FThreads.empty()) {
    // No thread renders ahead: the image is rendered here, now.
    if (!item.ready)
      RenderHere(item);
    FWanted = index + 1;
    Settle();
    if (item.error)
      std::rethrow_exception(item.error);
    return std::move(item.png);
  }
  std::unique_lock<std::mutex> lock(FMutex);
  FWanted = index;
  Settle();
  FChanged.wait(lock, [&] { return item.ready; });
  FWanted = index + 1;
  Settle();
  if (item.error)
    std::rethrow_exception(item.error);
  return std::move(item.png);
}

void RenderAhead::RenderHere(Item& item) {
  Source& source = FSources[size_t(item.source)];
  if (source.state == Source::Unloaded)
    LoadSource(source, nullptr);
  Prepare(item);
  item.ready = true;
  if (item.error)
    return;
  for (int b = 0; b < item.bandCount; ++b)
    item.job->RenderBand(b);
  item.png = item.job->TakePng();
}
