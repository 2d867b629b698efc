// The About box, with version and copyright texts from the program file's date.
#pragma once

#include <QDialog>
#include <ctime>

class QLabel;
class QPushButton;

namespace veloran {

// "Version 1." + the year without its first two characters + "." + month +
// "." + day: 19 June 2002 gives Version 1.02.6.19.
QString VersionText(const std::tm& date);
QString CopyrightText(const std::tm& date);

class TAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutDlg(QWidget* parent = nullptr);
  // Runs once, at start-up: the texts from the program file's date.
  void FormCreate();

  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Comments = nullptr;
  QLabel* VersionLabel = nullptr;
  QLabel* CopyRightLabel = nullptr;
  QLabel* Copyright = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* OKButton = nullptr;
};

}  // namespace veloran
