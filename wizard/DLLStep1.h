// The creation-method page: one device on RS232 or several on RS485/RS422.
#pragma once
#include "wizard/WizardPage.h"

namespace korvel::wizard {

class TStep1Frm : public TWizardPage {
 public:
  TStep1Frm();
  void FormCreate();
  void NextBtnClick();
  void LastBtnClick() { GoBack(); }
  void CancelBtnClick() { CancelWizard(); }

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TRadioButton& SingleCreate = Add<ui::TRadioButton>("SingleCreate", &GroupBox1);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &GroupBox1);
  ui::TRadioButton& MulCreate = Add<ui::TRadioButton>("MulCreate", &GroupBox1);
  ui::TLabel& Label6 = Add<ui::TLabel>("Label6", &GroupBox1);
  ui::TLabel& Label9 = Add<ui::TLabel>("Label9", &GroupBox1);
  // Automatic creation is not offered: option and explanation stay hidden.
  ui::TRadioButton& AutoCreate = Add<ui::TRadioButton>("AutoCreate", &GroupBox1);
  ui::TLabel& Label7 = Add<ui::TLabel>("Label7", &GroupBox1);
  ui::TLabel& Label8 = Add<ui::TLabel>("Label8");
  ui::TButton& LastBtn = Add<ui::TButton>("LastBtn");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
};

}  // namespace korvel::wizard
