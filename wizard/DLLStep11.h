// The single-device page: one module on a point-to-point RS232 line.
#pragma once
#include "wizard/WizardPage.h"

namespace korvel::wizard {

class TStep11Frm : public TWizardPage {
 public:
  TStep11Frm();
  void FormCreate();
  void NextBtnClick();
  void LastBtnClick() { GoBack(); }
  void CancelBtnClick() { CancelWizard(); }
  void IDEdChange();
  void IDEdKeyPress(char& key) { DigitsOnly(key); }
  void DevTypeEdChange() { CardScrChange(); }
  void CardScrChange();

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TGroupBox& GroupBox2 = Add<ui::TGroupBox>("GroupBox2");
  ui::TLabel& Label9 = Add<ui::TLabel>("Label9", &GroupBox2);
  ui::TComboBox& DevTypeEd = Add<ui::TComboBox>("DevTypeEd", &GroupBox2);
  ui::TLabel& Label10 = Add<ui::TLabel>("Label10", &GroupBox2);
  ui::TEdit& IDEd = Add<ui::TEdit>("IDEd", &GroupBox2);
  // The single device is never on the master unit: box and slot stay hidden.
  ui::TCheckBox& AtMasterCpuCB = Add<ui::TCheckBox>("AtMasterCpuCB", &GroupBox2);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &GroupBox2);
  ui::TEdit& SlotEd = Add<ui::TEdit>("SlotEd", &GroupBox2);
  ui::TGroupBox& GroupBox3 = Add<ui::TGroupBox>("GroupBox3");
  ui::TMemo& Memo2 = Add<ui::TMemo>("Memo2", &GroupBox3);
  ui::TGroupBox& GroupBox4 = Add<ui::TGroupBox>("GroupBox4");
  ui::TMemo& TagTypeMemo = Add<ui::TMemo>("TagTypeMemo", &GroupBox4);
  ui::TButton& LastBtn = Add<ui::TButton>("LastBtn");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
};

}  // namespace korvel::wizard
