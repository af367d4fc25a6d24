// The one pool: tasks that wait for tasks of their own never deadlock, on
// one thread or several, and a task's exception reaches the one who waits.
#include "rivulon/executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

namespace rivulon::testing {
namespace {

TEST(Executor, NestedGroupsFinishOnAnyNumberOfThreads) {
  for (int32_t threads : {1, 2, 5}) {
    Executor executor(threads);
    std::atomic<int64_t> sum{0};
    TaskGroup outer(executor);
    for (int task = 0; task < 8; ++task) {
      outer.run([&, task] {
        // Like a stretch waiting for its motif lengths, in order.
        TaskGroup inner(executor);
        const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[50]());
        for (int k = 0; k < 50; ++k) {
          inner.run([&, k] {
            sum += task * 100 + k;
            done[k].store(true);
          });
        }
        for (int k = 0; k < 50; ++k) inner.help_until([&] { return done[k].load(); });
        inner.wait();
      });
    }
    outer.wait();
    int64_t expected = 0;
    for (int task = 0; task < 8; ++task) {
      for (int k = 0; k < 50; ++k) expected += task * 100 + k;
    }
    EXPECT_EQ(sum.load(), expected) << threads << " threads";
    EXPECT_EQ(executor.threads(), threads);
  }
}

TEST(Executor, AThrowingTaskIsReportedAndTheOthersStillEnd) {
  Executor executor(3);
  std::atomic<int> ran{0};
  TaskGroup group(executor);
  for (int k = 0; k < 20; ++k) {
    group.run([&, k] {
      ++ran;
      if (k == 7) throw std::runtime_error("task 7");
    });
  }
  EXPECT_THROW(group.wait(), std::runtime_error);
  EXPECT_TRUE(group.failed());
  EXPECT_EQ(ran.load(), 20);
}

}  // namespace
}  // namespace rivulon::testing
