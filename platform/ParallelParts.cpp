#include "platform/ParallelParts.h"

#include <exception>
#include <thread>
#include <vector>

void runInParts(int parts, const std::function<void(int part)>& work) {
  if (parts <= 0)
    return;
  std::vector<std::exception_ptr> errors(static_cast<size_t>(parts));
  auto part = [&](int p) {
    try {
      work(p);
    } catch (...) {
      errors[static_cast<size_t>(p)] = std::current_exception();
    }
  };
  std::vector<std::thread> workers;
  int started = 1;
  try {
    workers.reserve(static_cast<size_t>(parts));
    for (; started < parts; ++started)
      workers.emplace_back(part, started);
  } catch (...) {
    // No more threads: the remaining parts run here.
  }
  for (int p = started; p < parts; ++p)
    part(p);
  part(0);
  for (std::thread& w : workers)
    w.join();
  for (const std::exception_ptr& e : errors)
    if (e)
      std::rethrow_exception(e);
}
