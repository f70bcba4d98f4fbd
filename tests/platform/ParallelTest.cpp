#include "platform/Parallel.h"

#include "platform/Errors.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(Parallel, EveryTaskRunsOnceAndTheLowestTasksErrorReachesTheCaller) {
  struct Case {
    const char* what;
    std::vector<int> failing;  // tasks that raise, each with its own number as the message
    const char* raised;        // nullptr: none
  };
  const Case cases[] = {
      {"no error", {}, nullptr},
      {"a later task fails", {2}, "2"},
      {"the first task fails", {0}, "0"},
      {"several fail: the lowest task's error", {3, 1, 5}, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::atomic<int>> runs(6);
    std::atomic<bool> otherThread{false};
    const auto caller = std::this_thread::get_id();
    auto work = [&](int p) {
      ++runs[size_t(p)];
      // Long enough that the threads started for the job take tasks of their own.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (std::this_thread::get_id() != caller)
        otherThread = true;
      for (int f : c.failing)
        if (f == p)
          throw Exception(QString::number(p));
    };
    try {
      runParallel(6, 6, work);
      EXPECT_EQ(c.raised, nullptr) << "nothing raised";
    } catch (const Exception& e) {
      ASSERT_NE(c.raised, nullptr) << e.Message().toStdString();
      EXPECT_EQ(e.Message(), QString::fromLatin1(c.raised));
    }
    // Every task ran exactly once, also those after a failing one.
    for (const auto& r : runs)
      EXPECT_EQ(r.load(), 1);
    EXPECT_TRUE(otherThread.load()) << "the tasks are spread over threads";
  }
}
