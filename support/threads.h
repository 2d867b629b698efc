// One budget of threads for the whole process: the conversions of a batch
// and the work inside each (a GeoTIFF's compression, a DEM's writing
// thread) ask it before starting a thread, so that the process never runs
// more threads than the budget and a few of its own.
#pragma once

#include <mutex>

namespace veloran {

class TThreadBudget {
 public:
  // `spare` threads may run beside those already running.
  explicit TThreadBudget(unsigned spare) : Spare(spare) {}
  TThreadBudget(const TThreadBudget&) = delete;
  TThreadBudget& operator=(const TThreadBudget&) = delete;

  // Up to `wanted` more threads: as many as are spare now, maybe none.
  unsigned Borrow(unsigned wanted) {
    std::lock_guard lock(Mutex);
    const unsigned granted = wanted < Spare ? wanted : Spare;
    Spare -= granted;
    return granted;
  }
  void Return(unsigned count) {
    std::lock_guard lock(Mutex);
    Spare += count;
  }

 private:
  std::mutex Mutex;
  unsigned Spare;
};

// Threads borrowed for a scope, returned on every path.
class TBorrowedThreads {
 public:
  TBorrowedThreads(TThreadBudget* budget, unsigned wanted)
      : Budget(budget), Count_(budget ? budget->Borrow(wanted) : 0) {}
  ~TBorrowedThreads() {
    if (Budget) Budget->Return(Count_);
  }
  TBorrowedThreads(const TBorrowedThreads&) = delete;
  TBorrowedThreads& operator=(const TBorrowedThreads&) = delete;
  unsigned Count() const { return Count_; }

 private:
  TThreadBudget* Budget;
  unsigned Count_;
};

// The processors this process may use (at least 1).
unsigned Processors();

}  // namespace veloran
