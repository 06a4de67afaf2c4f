// The page runner behind DLLEdDev: one page at a time, modal, on the caller's thread.
#include <memory>
#include <utility>

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

namespace {

template <class Page>
std::unique_ptr<ui::TForm> MakePage() {
  return std::make_unique<Page>();
}

}  // namespace

void RunWizardPage(int page) {
  WizardGlobals& w = Wizard();
  // A display lost on the way ends the wizard as the close box does: nothing more is written, and
  // the changed flag keeps what the run has done so far.
  if (!ui::Available()) {
    w.NextPage = 0;
    return;
  }
  using Make = std::unique_ptr<ui::TForm> (*)();
  static const std::pair<int, Make> kPages[] = {
      {wizard::kPageStart, &MakePage<wizard::TStartFrm>},
      {wizard::kPageStep1, &MakePage<wizard::TStep1Frm>},
      {wizard::kPageStep2, &MakePage<wizard::TStep2Frm>},
      {wizard::kPageStep11, &MakePage<wizard::TStep11Frm>},
      {wizard::kPageStep12, &MakePage<wizard::TStep12Frm>},
      {wizard::kPageStep4, &MakePage<wizard::TStep4Frm>},
      {wizard::kPageStep5, &MakePage<wizard::TStep5Frm>},
      {wizard::kPageFinish, &MakePage<wizard::TEndFrm>},
  };
  std::unique_ptr<ui::TForm> form;
  for (const auto& [number, make] : kPages)
    if (number == page) form = make();
  if (!form) {
    w.NextPage = wizard::kPageEnd;
    return;
  }
  form->ShowModal();
}

}  // namespace korvel
