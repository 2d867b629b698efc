#include "app/gauge.h"

#include <QPainter>

namespace veloran {

TGauge::TGauge(QWidget* parent) : QWidget(parent) { setObjectName("Gauge1"); }

int TGauge::PercentDone() const {
  if (Max == Min) return 0;
  return static_cast<int>(static_cast<double>(Value - Min) * 100.0 / static_cast<double>(Max - Min));
}

void TGauge::SetProgress(int value) {
  const int before = PercentDone();
  if (value < Min) value = Min;
  if (value > Max) value = Max;
  if (value == Value) return;
  Value = value;
  if (PercentDone() != before) {
    ++Repaints;
    repaint();  // now, not through the event loop
  }
}

void TGauge::SetRange(int minValue, int maxValue) {
  Min = minValue;
  Max = maxValue < minValue ? minValue : maxValue;
  Value = Value < Min ? Min : (Value > Max ? Max : Value);
  update();
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect frame = rect().adjusted(0, 0, -1, -1);
  const QRect bar = rect().adjusted(1, 1, -1, -1);
  const int percent = PercentDone();
  const int filled = bar.width() * percent / 100;
  painter.fillRect(bar, Qt::white);
  painter.fillRect(QRect(bar.left(), bar.top(), filled, bar.height()), Qt::black);
  painter.setPen(Qt::black);
  painter.drawRect(frame);
  // The percentage centred over the bar: white over the black part, black
  // over the white part.
  const QString text = QString::number(percent) + "%";
  painter.setClipRect(QRect(bar.left(), bar.top(), filled, bar.height()));
  painter.setPen(Qt::white);
  painter.drawText(bar, Qt::AlignCenter, text);
  painter.setClipRect(QRect(bar.left() + filled, bar.top(), bar.width() - filled, bar.height()));
  painter.setPen(Qt::black);
  painter.drawText(bar, Qt::AlignCenter, text);
}

}  // namespace veloran
