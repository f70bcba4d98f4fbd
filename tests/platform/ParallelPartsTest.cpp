#include "platform/ParallelParts.h"

#include "platform/Errors.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

TEST(ParallelParts, EveryPartRunsOnceAndTheFirstErrorReachesTheCaller) {
  struct Case {
    const char* what;
    std::vector<int> failing;  // parts that raise, each with its own number as the message
    const char* raised;        // nullptr: none
  };
  const Case cases[] = {
      {"no error", {}, nullptr},
      {"a worker thread fails", {2}, "2"},
      {"the calling thread's part fails", {0}, "0"},
      {"several fail: the lowest part's error", {3, 1, 5}, "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::atomic<int>> runs(6);
    std::atomic<bool> otherThread{false};
    const auto caller = std::this_thread::get_id();
    auto work = [&](int p) {
      ++runs[size_t(p)];
      if (std::this_thread::get_id() != caller)
        otherThread = true;
      for (int f : c.failing)
        if (f == p)
          throw Exception(QString::number(p));
    };
    try {
      runInParts(6, work);
      EXPECT_EQ(c.raised, nullptr) << "nothing raised";
    } catch (const Exception& e) {
      ASSERT_NE(c.raised, nullptr) << e.Message().toStdString();
      EXPECT_EQ(e.Message(), QString::fromLatin1(c.raised));
    }
    // Every part ran exactly once, also those after a failing one.
    for (const auto& r : runs)
      EXPECT_EQ(r.load(), 1);
    EXPECT_TRUE(otherThread.load()) << "the parts are spread over threads";
  }
}
