// veloran-screenshot: shows the main window, converts a transfer into it and
// saves a picture of the screen, for looking at the program without a
// desktop (run it under xvfb-run). With "about", "help" or "relief" last,
// the About box, the help window (Help > Contents) or the shaded relief
// (View > Shaded Relief) is open too.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <exception>

#include "convert/driver.h"
#include "app/program.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "Usage: veloran-screenshot OUT.png CELLFILE DEMFILE [about|help|relief]\n");
    return 2;
  }
  const char* extra = argc == 5 ? argv[4] : "";
  veloran::TProgram program;
  veloran::TForm1& form = program.Form;
  form.show();
  QApplication::processEvents();
  try {
    form.Convert(argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veloran-screenshot: %s\n", e.what());
  }
  if (std::strcmp(extra, "about") == 0) program.About.show();
  if (std::strcmp(extra, "help") == 0) form.Contents1->trigger();
  if (std::strcmp(extra, "relief") == 0) form.ShadedReliefMnu->trigger();
  QTimer::singleShot(500, [&] {
    form.screen()->grabWindow(0).save(argv[1]);
    app.quit();
  });
  return app.exec();
}
