// The timing page: answer time-out, write repetitions, write priority (hidden), modem (hidden).
#pragma once
#include "wizard/WizardPage.h"

namespace korvel::wizard {

// The write count last accepted on this page in this process (2 at load).
int& RememberedWriteCount();

class TStep5Frm : public TWizardPage {
 public:
  TStep5Frm();
  void FormCreate();
  void OutTimeEdExit();
  void WCountEdExit();
  void WritePriorityCBoxExit();
  void NextBtnClick() { GoNext(kPageStep5, kPageFinish); }
  void LastBtnClick() { GoBack(); }
  void CancelBtnClick() { CancelWizard(); }

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3", &GroupBox1);
  ui::TEdit& OutTimeEd = Add<ui::TEdit>("OutTimeEd", &GroupBox1);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &GroupBox1);
  ui::TLabel& Label5 = Add<ui::TLabel>("Label5", &GroupBox1);
  ui::TEdit& WCountEd = Add<ui::TEdit>("WCountEd", &GroupBox1);
  ui::TLabel& Label6 = Add<ui::TLabel>("Label6", &GroupBox1);
  ui::TCheckBox& WritePriorityCBox = Add<ui::TCheckBox>("WritePriorityCBox", &GroupBox1);
  ui::TGroupBox& GroupBox3 = Add<ui::TGroupBox>("GroupBox3");
  ui::TMemo& Memo1 = Add<ui::TMemo>("Memo1", &GroupBox3);
  ui::TGroupBox& ModemGp = Add<ui::TGroupBox>("ModemGp");
  ui::TLabel& Label7 = Add<ui::TLabel>("Label7", &ModemGp);
  ui::TEdit& PhoneEd = Add<ui::TEdit>("PhoneEd", &ModemGp);
  ui::TLabel& Label8 = Add<ui::TLabel>("Label8", &ModemGp);
  ui::TEdit& ModemInitEd = Add<ui::TEdit>("ModemInitEd", &ModemGp);
  ui::TButton& LastBtn = Add<ui::TButton>("LastBtn");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
};

}  // namespace korvel::wizard
