// The desktop program's long-lived parts, created in start-up order: the
// help file, the main window with its help component, and the About box
// (hidden). They live until the program ends; each conversion has a state
// of its own.
#pragma once

#include <memory>

#include "app/ChmHelper.h"
#include "app/scnabout.h"
#include "app/sdtsmain.h"

namespace veloran {

struct TProgram {
  TProgram();

  THelpManager Help;
  TForm1 Form;
  TAboutDlg About;
};

}  // namespace veloran
