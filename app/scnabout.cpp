#include "app/scnabout.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

#include "support/textutil.h"

namespace veloran {

QString VersionText(const std::tm& date) {
  const QString year = QString::number(date.tm_year + 1900);
  return "Version 1." + year.mid(2) + "." + QString::number(date.tm_mon + 1) + "." + QString::number(date.tm_mday);
}

QString CopyrightText(const std::tm& date) { return "Copyright \u00A9 " + QString::number(date.tm_year + 1900); }

namespace {

// The program's picture: a ridge of peaks under a sky, drawn once.
QPixmap ProgramPicture() {
  QPixmap picture(127, 100);
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 100);
  sky.setColorAt(0, QColor(40, 90, 170));
  sky.setColorAt(1, QColor(190, 215, 240));
  p.fillRect(picture.rect(), sky);
  QPainterPath far;
  far.moveTo(0, 100);
  for (const QPointF& pt : {QPointF(0, 62), QPointF(22, 44), QPointF(40, 58), QPointF(66, 30), QPointF(88, 52),
                            QPointF(106, 40), QPointF(127, 56), QPointF(127, 100)})
    far.lineTo(pt);
  p.fillPath(far, QColor(90, 110, 130));
  QPainterPath near;
  near.moveTo(0, 100);
  for (const QPointF& pt : {QPointF(0, 80), QPointF(30, 60), QPointF(52, 74), QPointF(80, 50), QPointF(104, 72),
                            QPointF(127, 66), QPointF(127, 100)})
    near.lineTo(pt);
  p.fillPath(near, QColor(40, 95, 60));
  // Snow on the highest peak.
  QPainterPath snow;
  snow.moveTo(66, 30);
  snow.lineTo(74, 37);
  snow.lineTo(68, 36);
  snow.lineTo(62, 39);
  snow.lineTo(59, 36);
  snow.closeSubpath();
  p.fillPath(snow, Qt::white);
  return picture;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  QFont font("Sans Serif", 8, QFont::Bold);
  font.setStyleHint(QFont::SansSerif);
  label->setFont(font);
  label->setStyleSheet("color: lime; background: transparent;");
  label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  return label;
}

}  // namespace

TAboutDlg::TAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutDlg");
  setWindowTitle("About Veloran");
  setFixedSize(298, 188);  // fixed border: not resizable
  setAutoFillBackground(true);
  QPalette silver = palette();
  silver.setColor(QPalette::Window, QColor(192, 192, 192));
  setPalette(silver);

  auto* panel = new QFrame(this);
  panel->setObjectName("Panel1");
  panel->setGeometry(8, 8, 281, 137);
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(2);
  panel->setStyleSheet("#Panel1 { background: black; border: 2px outset gray; }");

  ProgramIcon = new QLabel(panel);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setGeometry(8, 8, 80, 80);
  ProgramIcon->setScaledContents(true);  // the 127 x 100 picture stretched to 80 x 80
  ProgramIcon->setPixmap(ProgramPicture());

  ProductName = new QLabel("Veloran", panel);
  ProductName->setObjectName("ProductName");
  ProductName->setGeometry(96, 14, 177, 40);
  QFont serif("Serif", 24, QFont::Bold);
  serif.setStyleHint(QFont::Serif);
  ProductName->setFont(serif);
  ProductName->setStyleSheet("color: red; background: transparent;");

  Comments = MakeLabel(panel, "Comments", "Veloran", QRect(96, 58, 177, 14));
  VersionLabel = MakeLabel(panel, "VersionLabel", QString(), QRect(96, 74, 177, 14));
  CopyRightLabel = MakeLabel(panel, "CopyRightLabel", QString(), QRect(8, 96, 265, 12));
  Copyright = MakeLabel(panel, "Copyright", "Belvaret", QRect(8, 108, 265, 12));
  Label1 = MakeLabel(panel, "Label1", "Belvaret, Bellingham, Washington", QRect(8, 120, 265, 12));

  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setGeometry((298 - 77) / 2, 153, 77, 27);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutDlg::FormCreate() {
  std::tm date{};
  try {
    date = FileDate(QApplication::applicationFilePath().toStdString());
  } catch (const std::exception&) {
    return;  // without a program file there is no date to show
  }
  VersionLabel->setText(VersionText(date));
  CopyRightLabel->setText(CopyrightText(date));
  if (const QScreen* screen = QApplication::primaryScreen())
    move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
}

}  // namespace veloran
