#include "platform/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
std::function<void(WorkerEvent)>& testHook() {
  static std::function<void(WorkerEvent)> hook;
  return hook;
}
}  // namespace

void setWorkerTestHook(std::function<void(WorkerEvent)> hook) { testHook() = std::move(hook); }

void callWorkerTestHook(WorkerEvent event) {
  if (testHook())
    testHook()(event);
}

void returnLargeBuffersToTheSystem() {
#if defined(__GLIBC__)
  static std::once_flag once;
  std::call_once(once, [] { mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024); });
#endif
}

int workerThreadCount() { return int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)); }

void runParallel(int count, int threads, const std::function<void(int)>& task) {
  if (count <= 0)
    return;
  std::atomic<int> next{0};
  std::vector<std::exception_ptr> errors(static_cast<size_t>(count));
  auto work = [&] {
    for (int i; (i = next.fetch_add(1)) < count;) {
      try {
        callWorkerTestHook(WorkerEvent::Task);
        task(i);
      } catch (...) {
        errors[size_t(i)] = std::current_exception();
      }
    }
  };

  std::vector<std::thread> started;
  const int wanted = std::min(count, std::max(1, threads));
  try {
    started.reserve(size_t(wanted));
    for (int t = 1; t < wanted; ++t) {
      callWorkerTestHook(WorkerEvent::ThreadStart);
      started.emplace_back(work);
    }
  } catch (...) {
    // No further thread to be had: the calling thread and those started do the work.
  }
  work();
  for (std::thread& t : started)
    t.join();
  for (const std::exception_ptr& e : errors)
    if (e)
      std::rethrow_exception(e);
}
