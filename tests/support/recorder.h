// Records what a conversion reports to the pane and the gauge.
#pragma once

#include <string>
#include <vector>

#include "support/progress.h"

namespace veloran::testing {

class TRecorder : public IInfoPane {
 public:
  void SetProgress(int value) override { Progress.push_back(value); }
  void ClearPane() override {
    Lines.clear();
    ++Clears;
  }
  void AppendLine(const std::string& line) override { Lines.push_back(line); }

  std::vector<std::string> Lines;
  std::vector<int> Progress;
  int Clears = 0;
};

}  // namespace veloran::testing
