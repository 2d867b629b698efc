#include "app/program.h"

namespace veloran {

namespace {
THelpManager HelpFor(const char* file) {
  THelpManager help;
  help.HelpFile = file;
  return help;
}
}  // namespace

TProgram::TProgram()
    : Help(HelpFor("VELORAN.chm")),
      Form(&Help),
      About(&Form) {
  About.FormCreate();
  QObject::connect(&Form, &TForm1::About1Click, &About, [this] { About.exec(); });
}

}  // namespace veloran
