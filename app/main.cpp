// Veloran, the desktop program.
#include <QApplication>
#include <memory>

#include "app/sdtsmain.h"
#include "support/textutil.h"

int main(int argc, char** argv) {
  // Start-up: the user's decimal separator, the application, the conversion
  // state that lives until the program ends, then the main window.
  veloran::IndeSystemData();
  QApplication app(argc, argv);
  app.setApplicationName(veloran::ApplicationTitle(QApplication::applicationFilePath()));
  auto state = std::make_unique<veloran::TConversionState>();
  veloran::TForm1 form(*state);
  form.show();
  return app.exec();
}
