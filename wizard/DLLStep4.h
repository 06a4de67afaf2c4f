// The serial page: the computer's port and line settings.
#pragma once
#include "wizard/WizardPage.h"

namespace korvel::wizard {

class TStep4Frm : public TWizardPage {
 public:
  TStep4Frm();
  void FormCreate();
  void ComEdChange();
  void BautEdChange();
  void DataBitEDClick();
  void StopBitEDClick();
  void ParityEdClick();
  void NextBtnClick();
  void LastBtnClick() { GoBack(); }
  void CancelBtnClick() { CancelWizard(); }

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3", &GroupBox1);
  ui::TComboBox& ComEd = Add<ui::TComboBox>("ComEd", &GroupBox1);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &GroupBox1);
  ui::TComboBox& BautEd = Add<ui::TComboBox>("BautEd", &GroupBox1);
  ui::TRadioGroup& DataBitED = Add<ui::TRadioGroup>("DataBitED", &GroupBox1);
  ui::TRadioGroup& StopBitED = Add<ui::TRadioGroup>("StopBitED", &GroupBox1);
  ui::TRadioGroup& ParityEd = Add<ui::TRadioGroup>("ParityEd", &GroupBox1);
  ui::TCheckBox& PModemCbox = Add<ui::TCheckBox>("PModemCbox", &GroupBox1);
  ui::TGroupBox& GroupBox3 = Add<ui::TGroupBox>("GroupBox3");
  ui::TMemo& Memo2 = Add<ui::TMemo>("Memo2", &GroupBox3);
  ui::TButton& LastBtn = Add<ui::TButton>("LastBtn");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
};

}  // namespace korvel::wizard
