// The page runner behind DLLEdDev: one page at a time, modal, on the caller's thread.
#include <memory>

#include "driver/DLLTools.h"
#include "ui/Backend.h"
#include "wizard/DLLStep1.h"
#include "wizard/DLLStep11.h"
#include "wizard/DLLStep12.h"
#include "wizard/DLLStep2.h"
#include "wizard/DLLStep4.h"
#include "wizard/DLLStep5.h"
#include "wizard/DLLStepEnd.h"
#include "wizard/DLLStepStart.h"

namespace korvel {

bool WizardCanShow() {
  return ui::Available();
}

void RunWizardPage(int page) {
  WizardGlobals& w = Wizard();
  // A display lost on the way ends the wizard as the close box does: nothing more is written, and
  // the changed flag keeps what the run has done so far.
  if (!ui::Available()) {
    w.NextPage = 0;
    return;
  }
  std::unique_ptr<ui::TForm> form;
  switch (page) {
    case wizard::kPageStart:
      form = std::make_unique<wizard::TStartFrm>();
      break;
    case wizard::kPageStep1:
      form = std::make_unique<wizard::TStep1Frm>();
      break;
    case wizard::kPageStep2:
      form = std::make_unique<wizard::TStep2Frm>();
      break;
    case wizard::kPageStep11:
      form = std::make_unique<wizard::TStep11Frm>();
      break;
    case wizard::kPageStep12:
      form = std::make_unique<wizard::TStep12Frm>();
      break;
    case wizard::kPageStep4:
      form = std::make_unique<wizard::TStep4Frm>();
      break;
    case wizard::kPageStep5:
      form = std::make_unique<wizard::TStep5Frm>();
      break;
    case wizard::kPageFinish:
      form = std::make_unique<wizard::TEndFrm>();
      break;
    default:
      w.NextPage = wizard::kPageEnd;
      return;
  }
  form->ShowModal();
}

}  // namespace korvel
