// Veloran, the desktop program.
#include <QApplication>
#include <memory>

#include "app/ChmHelper.h"
#include "app/scnabout.h"
#include "app/sdtsmain.h"
#include "support/textutil.h"

int main(int argc, char** argv) {
  // Start-up, in order: the user's decimal separator, the application, its
  // help file, the conversion state that lives until the program ends, the
  // main window with its help component, the About box (hidden).
  veloran::IndeSystemData();
  QApplication app(argc, argv);
  app.setApplicationName(veloran::ApplicationTitle(QApplication::applicationFilePath()));
  veloran::THelpManager help;
  help.HelpFile = "VELORAN.chm";
  auto state = std::make_unique<veloran::TConversionState>();
  veloran::TForm1 form(*state, &help);
  veloran::TAboutDlg about(&form);
  about.FormCreate();
  QObject::connect(&form, &veloran::TForm1::About1Click, &about, [&about] { about.exec(); });
  form.show();
  return app.exec();
  // Shut-down: the window's help component closes the help windows.
}
