// View > Shaded Relief: the picture of the last DEM written, scaled to the
// window, with the ramp's elevation range and the cell under the mouse.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "preview/relief.h"
#include "sdts/sdtsinfo.h"

class QLabel;

namespace veloran {

// What the window shows of a conversion: its grid, kept apart from the
// conversion state, and the picture rendered from it.
struct TReliefSnapshot : TReliefGrid {
  QString DemName;  // the DEM's file name, the window's title
  TReliefImage Image;

  static std::shared_ptr<const TReliefSnapshot> Take(const TReliefGrid& grid, const QString& demName);
  // "Column C, row R: easting E, northing N, elevation Z m" for the cell at
  // (column, row) counted from 0 at the north-west; "" outside the grid.
  QString CellText(int column, int row) const;
};

// The picture, scaled smoothly into the widget with its proportions kept.
class TReliefView : public QWidget {
  Q_OBJECT

 public:
  explicit TReliefView(QWidget* parent);
  void SetImage(const QImage& image);
  // Where the picture lies in the widget.
  QRect PictureRect() const;
  // The cell under a point of the widget, or (-1, -1).
  QPoint CellAt(const QPoint& point) const;

 signals:
  void CellHovered(int column, int row);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  QImage Image;
};

class TReliefWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TReliefWindow(std::shared_ptr<const TReliefSnapshot> snapshot, QWidget* parent = nullptr);
  const TReliefSnapshot& Snapshot() const { return *Data; }

  TReliefView* View = nullptr;
  QLabel* Legend = nullptr;
  QLabel* Status = nullptr;

 private:
  std::shared_ptr<const TReliefSnapshot> Data;
};

}  // namespace veloran
