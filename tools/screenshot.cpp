// veloran-screenshot: shows the main window, converts a transfer into it and
// saves a picture of the window, for looking at the program without a
// desktop (run it under xvfb-run).
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>

#include "app/driver.h"
#include "app/sdtsmain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "Usage: veloran-screenshot OUT.png CELLFILE DEMFILE\n");
    return 2;
  }
  auto state = std::make_unique<veloran::TConversionState>();
  veloran::TForm1 form(*state);
  form.show();
  QApplication::processEvents();
  try {
    veloran::ConvertSdtsToDem(*state, argv[2], argv[3], false, form);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veloran-screenshot: %s\n", e.what());
  }
  QTimer::singleShot(300, [&] {
    // The whole screen, so that the window manager's frame shows when there is one.
    const QPixmap shot = form.screen()->grabWindow(0);
    shot.save(argv[1]);
    app.quit();
  });
  return app.exec();
}
