// The summary page: the configuration for confirmation, and Finish.
#pragma once
#include <string>
#include <vector>

#include "wizard/WizardPage.h"

namespace korvel::wizard {

// The three lines of the serial summary for a block.
std::vector<std::string> SerialSummary(const PDB& block);

class TEndFrm : public TWizardPage {
 public:
  TEndFrm();
  void FormCreate();
  void FinishBtnClick();
  void LastBtnClick() { GoBack(); }
  void CancelBtnClick() { CancelWizard(); }
  void PrnBtnClick();

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3");
  ui::TTreeView& DeviceTree = Add<ui::TTreeView>("DeviceTree");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TMemo& ComArgMemo = Add<ui::TMemo>("ComArgMemo", &GroupBox1);
  ui::TGroupBox& GroupBox4 = Add<ui::TGroupBox>("GroupBox4");
  ui::TMemo& Memo5 = Add<ui::TMemo>("Memo5", &GroupBox4);
  ui::TButton& PrnBtn = Add<ui::TButton>("PrnBtn");
  ui::TButton& LastBtn = Add<ui::TButton>("LastBtn");
  ui::TButton& FinishBtn = Add<ui::TButton>("FinishBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
};

}  // namespace korvel::wizard
