#include "imaging/PictureRows.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

void TPictureRows::WaitFor(int rows) const {
  rows = std::min(rows, FHeight);
  if (Ready() >= rows)
    return;
  std::unique_lock lock(FMutex);
  FChanged.wait(lock, [&] { return Ready() >= rows; });
}

bool TPictureRows::WaitFor(int rows, int microseconds) const {
  rows = std::min(rows, FHeight);
  if (Ready() >= rows)
    return true;
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, std::chrono::microseconds(microseconds), [&] { return Ready() >= rows; });
}

void TPictureRows::Publish(int rows) {
  {
    std::lock_guard lock(FMutex);
    FReady.store(std::min(rows, FHeight), std::memory_order_release);
  }
  FChanged.notify_all();
}

namespace {

struct InProgress {
  const uchar* bits;
  std::shared_ptr<TPictureRows> rows;
};

// The pictures in progress, by the address of their pixels (which the picture's own thread keeps
// alive until it is done), and the threads to wait for at exit.
struct Registry {
  std::mutex mutex;
  std::vector<InProgress> pictures;
  std::vector<std::thread> threads;
  std::vector<std::thread::id> finished;
  std::atomic<bool> early{false};

  ~Registry() { joinAll(); }
  void joinAll() {
    std::vector<std::thread> running;
    {
      std::lock_guard lock(mutex);
      running.swap(threads);
      finished.clear();
    }
    for (std::thread& t : running)
      t.join();
  }
  // Joins the threads that have finished their picture (called with the lock held).
  void joinFinished() {
    for (const std::thread::id id : finished) {
      const auto t = std::find_if(threads.begin(), threads.end(), [id](const std::thread& x) { return x.get_id() == id; });
      if (t != threads.end()) {
        t->join();
        threads.erase(t);
      }
    }
    finished.clear();
  }
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

std::shared_ptr<const TPictureRows> pictureRowsInProgress(const QImage& image) {
  if (image.isNull())
    return nullptr;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.pictures.empty())
    return nullptr;
  const uchar* bits = image.constBits();
  for (const InProgress& p : r.pictures)
    if (p.bits == bits)
      return p.rows->Ready() >= p.rows->Height() ? nullptr : p.rows;
  return nullptr;
}

void waitForPicture(const QImage& image) {
  if (const auto rows = pictureRowsInProgress(image))
    rows->WaitFor(rows->Height());
}

void finishPictureRowsInBackground(const QImage& image, std::function<void(TPictureRows&)> work) {
  auto rows = std::make_shared<TPictureRows>(image.height());
  Registry& r = registry();
  const uchar* bits = image.constBits();
  auto run = [&r, rows, bits, picture = image, work = std::move(work)](bool ownThread) mutable {
    work(*rows);
    rows->Publish(rows->Height());
    std::lock_guard lock(r.mutex);
    std::erase_if(r.pictures, [bits](const InProgress& p) { return p.bits == bits; });
    if (ownThread)
      r.finished.push_back(std::this_thread::get_id());
    // The pixels are let go (if nobody else holds them) before another picture could take
    // their address.
    picture = QImage();
  };
  std::unique_lock lock(r.mutex);
  r.joinFinished();
  // Room made here, so that a thread that is done has nothing left to allocate.
  r.finished.reserve(r.threads.size() + 1);
  r.pictures.push_back({bits, rows});
  try {
    r.threads.emplace_back(run, true);
  } catch (...) {
    // No thread to be had: the rows are written here.
    lock.unlock();
    run(false);
  }
}

bool setEarlyPictures(bool allowed) { return registry().early.exchange(allowed); }

bool earlyPicturesAllowed() { return registry().early.load(); }
