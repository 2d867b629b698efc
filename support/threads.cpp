#include "support/threads.h"

#include <deque>
#include <system_error>
#include <thread>
#include <vector>

#include "support/errors.h"
#include "support/platform.h"

namespace veloran {

// Threads wait for tasks handed to them; `Free` counts the threads not
// running one (waiting, or just started), so that a task is handed over
// only where a thread will take it at once.
// Threads wait for tasks handed to them; `Free` counts the threads not
// running one (waiting, or just started), so that a task is handed over
// only where a thread will take it at once.
struct TExecutor::TImpl {
  struct TTask {
    std::function<void()> Run, Then;
  };
  std::mutex Mutex;
  std::condition_variable Handed;
  std::deque<TTask> Tasks;
  std::vector<std::thread> Threads;
  unsigned Free = 0;
  bool Stopping = false;
  std::string StartFailure;  // why the last thread could not start

  void Loop() {
    std::unique_lock lock(Mutex);
    for (;;) {
      Handed.wait(lock, [this] { return !Tasks.empty() || Stopping; });
      if (Tasks.empty()) return;
      TTask task = std::move(Tasks.front());
      Tasks.pop_front();
      --Free;
      lock.unlock();
      task.Run();
      task.Run = nullptr;  // what it holds goes before the thread is free again
      lock.lock();
      // Free before the task is told ended: whoever waited for it finds
      // the thread free.
      ++Free;
      if (task.Then) {
        lock.unlock();
        task.Then();
        lock.lock();
      }
    }
  }
};

TExecutor::TExecutor(unsigned threads) : Threads(threads), Impl(std::make_unique<TImpl>()) {}

TExecutor::~TExecutor() {
  {
    std::lock_guard lock(Impl->Mutex);
    Impl->Stopping = true;
  }
  Impl->Handed.notify_all();
  for (std::thread& thread : Impl->Threads) thread.join();
}

bool TExecutor::TryRun(std::function<void()> task, std::function<void()> then) {
  {
    std::lock_guard lock(Impl->Mutex);
    if (Impl->Free <= Impl->Tasks.size()) {
      if (Impl->Threads.size() >= Threads) return false;
      try {
        Impl->Threads.emplace_back([impl = Impl.get()] { impl->Loop(); });
      } catch (const std::system_error& e) {
        // No thread to be had (memory or a process limit).
        Impl->StartFailure = e.code().message();
        return false;
      }
      ++Impl->Free;
    }
    Impl->Tasks.push_back({std::move(task), std::move(then)});
  }
  Impl->Handed.notify_one();
  return true;
}

void TExecutor::Run(std::function<void()> task, std::function<void()> then) {
  if (TryRun(std::move(task), std::move(then))) return;
  std::lock_guard lock(Impl->Mutex);
  Fail(TErrorKind::OutOfMemory, Impl->StartFailure.empty() ? std::string("every thread is busy") : Impl->StartFailure);
}

bool TTaskGroup::Launch(const std::function<void()>& task, bool must) {
  {
    std::lock_guard lock(Mutex);
    ++Running;
  }
  // The group may go as soon as it is told: it is touched under its lock only.
  auto ended = [this] {
    std::lock_guard lock(Mutex);
    if (--Running == 0) Ended.notify_all();
  };
  bool ran = false;
  try {
    if (must) {
      if (!Executor) Fail(TErrorKind::OutOfMemory, "there are no threads");
      Executor->Run(task, ended);
      ran = true;
    } else {
      ran = Executor && Executor->TryRun(task, ended);
    }
  } catch (...) {
    std::lock_guard lock(Mutex);
    --Running;
    throw;
  }
  if (!ran) {
    std::lock_guard lock(Mutex);
    --Running;
  }
  return ran;
}

unsigned TTaskGroup::Start(unsigned count, const std::function<void()>& task) {
  unsigned started = 0;
  while (started < count && Launch(task, false)) ++started;
  return started;
}

void TTaskGroup::Run(const std::function<void()>& task) { Launch(task, true); }

void TTaskGroup::Wait() {
  std::unique_lock lock(Mutex);
  Ended.wait(lock, [this] { return Running == 0; });
}

unsigned Processors() {
  if (const unsigned usable = PlatformProcessors()) return usable;
  const unsigned all = std::thread::hardware_concurrency();
  return all > 0 ? all : 1;
}

}  // namespace veloran
