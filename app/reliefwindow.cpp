#include "app/reliefwindow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "support/numfmt.h"

namespace veloran {

namespace {

// An elevation as the pane shows reals: the user's decimal separator, no
// decimals for a whole value.
QString Real(double value) { return QString::fromStdString(FormatGeneralReal(value)); }

}  // namespace

std::shared_ptr<const TReliefSnapshot> TReliefSnapshot::Take(const TReliefGrid& grid, const QString& demName) {
  auto s = std::make_shared<TReliefSnapshot>();
  static_cast<TReliefGrid&>(*s) = grid;
  s->DemName = demName;
  s->Image = RenderShadedRelief(grid);
  return s;
}

QString TReliefSnapshot::CellText(int column, int row) const {
  if (column < 0 || row < 0 || column >= ColCount || row >= RowCount) return {};
  const uint16_t cell = Cells[static_cast<size_t>(row) * static_cast<size_t>(ColCount) + static_cast<size_t>(column)];
  const QString elevation =
      cell == 0 ? QString("no elevation")
                : QString("elevation %1 %2").arg(Real(static_cast<double>(cell - kCellOffset) / VerticalScale)).arg(Feet ? "ft" : "m");
  return QString("Column %1, row %2: easting %3, northing %4, %5")
      .arg(column + 1)
      .arg(row + 1)
      .arg(QString::fromStdString(FormatGeneralReal(UpperLeftX + column * SpacingX)))
      .arg(QString::fromStdString(FormatGeneralReal(UpperLeftY - row * SpacingY)))
      .arg(elevation);
}

TReliefView::TReliefView(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setMinimumSize(120, 120);
}

void TReliefView::SetImage(const QImage& image) {
  Image = image;
  update();
}

QRect TReliefView::PictureRect() const {
  if (Image.isNull()) return {};
  const QSize size = Image.size().scaled(this->size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

QPoint TReliefView::CellAt(const QPoint& point) const {
  const QRect r = PictureRect();
  if (r.isEmpty() || !r.contains(point)) return {-1, -1};
  const int column = static_cast<int>(int64_t{point.x() - r.left()} * Image.width() / r.width());
  const int row = static_cast<int>(int64_t{point.y() - r.top()} * Image.height() / r.height());
  return {std::min(column, Image.width() - 1), std::min(row, Image.height() - 1)};
}

void TReliefView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  if (Image.isNull()) return;
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(PictureRect(), Image);
}

void TReliefView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint cell = CellAt(event->position().toPoint());
  emit CellHovered(cell.x(), cell.y());
}

void TReliefView::leaveEvent(QEvent*) { emit CellHovered(-1, -1); }

namespace {

// The ramp as a small horizontal bar for the legend.
QPixmap RampBar() {
  QImage bar(120, 10, QImage::Format_RGB32);
  for (int x = 0; x < bar.width(); ++x) {
    const TRgb c = ReliefRamp(double(x) / (bar.width() - 1));
    for (int y = 0; y < bar.height(); ++y) bar.setPixel(x, y, qRgb(c[0], c[1], c[2]));
  }
  return QPixmap::fromImage(bar);
}

}  // namespace

TReliefWindow::TReliefWindow(std::shared_ptr<const TReliefSnapshot> snapshot, QWidget* parent)
    : QWidget(parent, Qt::Window), Data(std::move(snapshot)) {
  setObjectName("ReliefWindow");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(Data->DemName);
  const TReliefImage& image = Data->Image;
  // The pixels stay in the snapshot; the QImage only refers to them.
  const QImage picture(image.Rgba.data(), image.Width, image.Height, image.Width * 4, QImage::Format_RGBA8888);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  View = new TReliefView(this);
  View->setObjectName("ReliefView");
  View->SetImage(picture);
  layout->addWidget(View, 1);

  auto* legendRow = new QHBoxLayout();
  const QString unit = Data->Feet ? "ft" : "m";
  auto* low = new QLabel(QString("%1 %2").arg(Real(image.Lowest)).arg(unit), this);
  auto* bar = new QLabel(this);
  bar->setPixmap(RampBar());
  auto* high = new QLabel(QString("%1 %2").arg(Real(image.Highest)).arg(unit), this);
  auto* voids = new QLabel("grey: no elevation", this);
  Legend = new QLabel(QString("Elevation %1 to %2 %3").arg(Real(image.Lowest)).arg(Real(image.Highest)).arg(unit), this);
  Legend->setObjectName("Legend");
  Legend->hide();  // the text of the legend, for assistive tools and tests
  legendRow->addWidget(low);
  legendRow->addWidget(bar);
  legendRow->addWidget(high);
  legendRow->addStretch(1);
  legendRow->addWidget(voids);
  layout->addLayout(legendRow);

  Status = new QLabel(" ", this);
  Status->setObjectName("Status");
  layout->addWidget(Status);
  connect(View, &TReliefView::CellHovered, this,
          [this](int column, int row) { Status->setText(Data->CellText(column, row)); });

  // One pixel per cell where the screen allows, at most 800 pixels high.
  const int height = std::clamp(image.Height, 200, 800);
  resize(std::max(240, image.Width * height / std::max(1, image.Height)) + 8, height + 60);
}

}  // namespace veloran
