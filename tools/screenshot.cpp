// veloran-screenshot: shows the main window, converts a transfer into it and
// saves a picture of the screen, for looking at the program without a
// desktop (run it under xvfb-run). With "about", "help" or "relief" last,
// the About box, the help window (Help > Contents) or the shaded relief
// (View > Shaded Relief) is open too. With --drop, the paths are dropped
// onto the window and FOLDER is answered in the folder dialog; the picture
// is taken once the batch has ended.
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QUrl>
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
  if (argc >= 5 && std::strcmp(argv[2], "--drop") == 0) {
    veloran::TProgram program;
    veloran::TForm1& form = program.Form;
    form.show();
    QApplication::processEvents();
    QMimeData mime;
    QList<QUrl> urls;
    for (int i = 4; i < argc; ++i) urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &enter);
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&form, &drop);
    // The folder dialog the drop opens, answered.
    QTimer::singleShot(300, [&] {
      form.FolderDialog1->setDirectory(QString::fromLocal8Bit(argv[3]));
      QMetaObject::invokeMethod(form.FolderDialog1, "accept");
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      if (form.BatchRunning() || form.Memo1->toPlainText().isEmpty()) return;
      poll.stop();
      QTimer::singleShot(300, [&] {
        form.screen()->grabWindow(0).save(argv[1]);
        app.quit();
      });
    });
    poll.start(100);
    return app.exec();
  }
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr,
                 "Usage: veloran-screenshot OUT.png CELLFILE DEMFILE [about|help|relief]\n"
                 "       veloran-screenshot OUT.png --drop FOLDER PATH...\n");
    return 2;
  }
  const char* extra = argc == 5 ? argv[4] : "";
  veloran::TProgram program;
  veloran::TForm1& form = program.Form;
  form.show();
  QApplication::processEvents();
  try {
    form.Convert(veloran::LocateTransfer(argv[2]), argv[3], veloran::FormatForName(argv[3], veloran::DemFormat()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "veloran-screenshot: %s\n", e.what());
  }
  // The conversion runs off the window's thread: the extras and the
  // picture come once it has ended.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (form.BatchRunning()) return;
    poll.stop();
    if (std::strcmp(extra, "about") == 0) program.About.show();
    if (std::strcmp(extra, "help") == 0) form.Contents1->trigger();
    if (std::strcmp(extra, "relief") == 0) form.ShadedReliefMnu->trigger();
    QTimer::singleShot(500, [&] {
      form.screen()->grabWindow(0).save(argv[1]);
      app.quit();
    });
  });
  poll.start(50);
  return app.exec();
}
