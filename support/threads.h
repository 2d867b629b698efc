// The process's threads: one executor, sized once, runs every task that
// goes beside its caller's own thread (a batch's conversions, a GeoTIFF's
// compression, a file's background writing). A task starts only on a
// thread free now, never queued behind another: where none is free (all
// busy, or an executor of no threads, as where threads cannot be had), the
// caller does the work itself. So tasks that wait for each other never
// wait for a thread, and the process never runs more threads than the
// executor's size beside the callers'.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace veloran {

class TExecutor {
 public:
  // At most `threads` threads, started as tasks need them and kept for
  // the next.
  explicit TExecutor(unsigned threads);
  // Every task must have ended (their groups wait for them).
  ~TExecutor();
  TExecutor(const TExecutor&) = delete;
  TExecutor& operator=(const TExecutor&) = delete;

  // Runs `task` on a free thread, starting one where the size allows, then
  // `then` once the thread is free again; false when there is none (the
  // caller then does the work itself). Tasks let no exception out.
  bool TryRun(std::function<void()> task, std::function<void()> then = nullptr);
  // TryRun, or fails (out of memory) with the system's reason.
  void Run(std::function<void()> task, std::function<void()> then = nullptr);
  unsigned Size() const { return Threads; }

 private:
  struct TImpl;
  const unsigned Threads;
  std::unique_ptr<TImpl> Impl;
};

// Tasks started for a scope on an executor (or none), waited for when the
// scope ends on every path.
class TTaskGroup {
 public:
  explicit TTaskGroup(TExecutor* executor) : Executor(executor) {}
  ~TTaskGroup() { Wait(); }
  TTaskGroup(const TTaskGroup&) = delete;
  TTaskGroup& operator=(const TTaskGroup&) = delete;

  // Up to `count` runs of `task`, each on a free thread; how many started.
  unsigned Start(unsigned count, const std::function<void()>& task);
  // One run of `task`, or fails as TExecutor::Run.
  void Run(const std::function<void()>& task);
  // Until every task started has ended.
  void Wait();

 private:
  bool Launch(const std::function<void()>& task, bool must);
  TExecutor* Executor;
  std::mutex Mutex;
  std::condition_variable Ended;
  unsigned Running = 0;
};

// The processors this process may use (at least 1).
unsigned Processors();

}  // namespace veloran
