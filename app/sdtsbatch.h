// The batch observer of the main window: the batch's events, queued to the
// window's thread.
#pragma once

#include "app/sdtsmain.h"
#include "convert/batch.h"

namespace veloran {

class TForm1::TWindowObserver final : public IBatchObserver {
 public:
  // A single conversion's gauge ends where its conversion left it.
  TWindowObserver(TForm1& form, bool single) : Form(form), Single(single) {}
  bool Finished(const TBatchItem& item, size_t) override {
    Ended = true;
    QMetaObject::invokeMethod(&Form, [form = &Form, item] { form->BatchFinished(item); }, Qt::QueuedConnection);
    return true;
  }
  void Progress(int percent, size_t, size_t, const std::string&) override {
    if (percent == Shown || (Single && Ended)) return;
    Shown = percent;
    QMetaObject::invokeMethod(&Form, [form = &Form, percent] { form->SetProgress(percent); }, Qt::QueuedConnection);
  }

 private:
  TForm1& Form;
  const bool Single;
  bool Ended = false;
  int Shown = -1;
};

}  // namespace veloran
