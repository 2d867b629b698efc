// TGauge: the progress gauge, a bar with its percentage, repainted at once
// when the whole percentage changes so that progress stays visible while a
// conversion holds the user-interface thread.
#pragma once

#include <QWidget>

namespace veloran {

class TGauge : public QWidget {
  Q_OBJECT

 public:
  explicit TGauge(QWidget* parent = nullptr);

  int MinValue() const { return Min; }
  int MaxValue() const { return Max; }
  int Progress() const { return Value; }
  // Whole percent done, truncated; 0 when the bounds are equal.
  int PercentDone() const;
  void SetProgress(int value);
  // The bounds; the conversion keeps 0 and 100.
  void SetRange(int minValue, int maxValue);

  // Immediate repaints requested by SetProgress, for tests.
  int ImmediateRepaints() const { return Repaints; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int Min = 0, Max = 100, Value = 0;
  int Repaints = 0;
};

}  // namespace veloran
