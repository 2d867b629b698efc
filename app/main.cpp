// Veloran, the desktop program.
#include <QApplication>

#include "app/program.h"
#include "support/tempfiles.h"
#include "support/textutil.h"

int main(int argc, char** argv) {
  // Start-up, in order: the user's decimal separator, the application, then
  // the program's parts (help file, conversion state, main window with its
  // help component, About box).
  veloran::IndeSystemData();
  veloran::KeepStandardDescriptors();
  veloran::InstallTempFileCleanup();
  QApplication app(argc, argv);
  app.setApplicationName(veloran::ApplicationTitle(QApplication::applicationFilePath()));
  veloran::TProgram program;
  program.Form.show();
  return app.exec();
  // Shut-down: the window's help component closes the help windows.
}
