// How a conversion reports to the user: the information pane and the
// progress gauge. The desktop program, the command line and the tests each
// implement it.
#pragma once

#include <string>

namespace veloran {

class IProgress {
 public:
  virtual ~IProgress() = default;
  // A whole-number progress from 0 to 100.
  virtual void SetProgress(int value) = 0;
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
