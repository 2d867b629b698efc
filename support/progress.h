// How a conversion reports to the user: the information pane and the
// progress gauge. The desktop program, the command line and the tests each
// implement it.
#pragma once

#include <cstdint>
#include <string>

namespace veloran {

class IProgress {
 public:
  virtual ~IProgress() = default;
  // A whole-number progress from 0 to 100.
  virtual void SetProgress(int value) = 0;
  // `done` of `total` (total > 0), rounded half up: what a part of the work
  // tells, which a TProgressRange places in the whole.
  virtual void SetShare(int64_t done, int64_t total) { SetProgress(static_cast<int>((200 * done + total) / (2 * total))); }
};

// The progress of a part of the work: its 0 to 100 run from `from` to `to`
// of the whole, so that a part never needs to know where it stands.
class TProgressRange final : public IProgress {
 public:
  TProgressRange(IProgress& whole, int from, int to) : Whole(whole), From(from), To(to) {}
  void SetProgress(int value) override { SetShare(value, 100); }
  void SetShare(int64_t done, int64_t total) override {
    Whole.SetProgress(From + static_cast<int>((2 * (To - From) * done + total) / (2 * total)));
  }

 private:
  IProgress& Whole;
  int From, To;
};

class IInfoPane : public IProgress {
 public:
  virtual void ClearPane() = 0;
  virtual void AppendLine(const std::string& line) = 0;
};

// Reports to nowhere: for benchmarks and fuzzing.
class TNullPane final : public IInfoPane {
 public:
  void SetProgress(int) override {}
  void ClearPane() override {}
  void AppendLine(const std::string&) override {}
};

}  // namespace veloran
