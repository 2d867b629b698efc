// The executor: a task starts only on a free thread, never queued behind
// another, and a group waits for its own tasks.
#include "support/threads.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "support/errors.h"

namespace veloran {
namespace {

TEST(Executor, NoMoreTasksThanThreadsTheCallerDoesTheRest) {
  TExecutor executor(2);
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;
  bool release = false;
  const auto blocking = [&] {
    std::unique_lock lock(mutex);
    ++running;
    changed.notify_all();
    changed.wait(lock, [&] { return release; });
  };
  {
    TTaskGroup group(&executor);
    EXPECT_EQ(group.Start(5, blocking), 2u);
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return running == 2; });
    lock.unlock();
    // Both threads busy: nothing waits in a queue for them.
    EXPECT_FALSE(executor.TryRun([] {}));
    try {
      executor.Run([] {});
      ADD_FAILURE() << "a task ran with every thread busy";
    } catch (const TConvertError& e) {
      EXPECT_EQ(e.Kind(), TErrorKind::OutOfMemory);
    }
    lock.lock();
    release = true;
    changed.notify_all();
  }  // the group waits for its tasks
  EXPECT_EQ(running, 2);
  // Once a group is told its tasks ended, their threads take new ones.
  TTaskGroup again(&executor);
  EXPECT_EQ(again.Start(2, [] {}), 2u);
  // Where there are no threads, nothing starts.
  TExecutor none(0);
  TTaskGroup alone(&none);
  EXPECT_EQ(alone.Start(1, [] {}), 0u);
  EXPECT_EQ(TTaskGroup(nullptr).Start(1, [] {}), 0u);
}

}  // namespace
}  // namespace veloran
