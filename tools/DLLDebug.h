// The debug window: the three log switches of a block, and the log file viewed and edited.
#pragma once
#include "driver/PDB.h"
#include "ui/Controls.h"

namespace korvel {

// Writes the wizard's working copy into the host's block (when a wizard run has one): the block
// copy, plus the master-unit placement, which the block copy leaves out. Used by this window's
// close button and by the wizard's Finish.
void WriteBackWizardCopy();

class TDebugFrm : public ui::TForm {
 public:
  // Edits the switches of work (the wizard's working copy).
  explicit TDebugFrm(PDB& work);
  void FormCreate();
  void EnDebugChkClick();
  void ErrorChkClick();
  void TraceChkClick();
  void ControlShow();
  void Timer1Timer();
  void Timer2Timer();
  void SaveBtnClick();
  void SpeedButton1Click();
  void PrnBtnClick();
  void FinishBtnClick();

  bool WarningShown() const { return warning_shown_; }

  ui::TLabel& Label1 = Add<ui::TLabel>("Label1");
  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TCheckBox& EnDebugChk = Add<ui::TCheckBox>("EnDebugChk");
  ui::TCheckBox& ErrorChk = Add<ui::TCheckBox>("ErrorChk");
  ui::TCheckBox& TraceChk = Add<ui::TCheckBox>("TraceChk");
  ui::TMemo& LogMemo = Add<ui::TMemo>("LogMemo");
  ui::TProgressBar& LoadBar = Add<ui::TProgressBar>("LoadBar");
  ui::TButton& SaveBtn = Add<ui::TButton>("SaveBtn");
  ui::TButton& SpeedButton1 = Add<ui::TButton>("SpeedButton1");
  ui::TButton& PrnBtn = Add<ui::TButton>("PrnBtn");
  ui::TButton& FinishBtn = Add<ui::TButton>("FinishBtn");
  ui::TTimer& Timer1 = Add<ui::TTimer>("Timer1");
  ui::TTimer& Timer2 = Add<ui::TTimer>("Timer2");
  ui::TPrintDialog& PrintDialog1 = Add<ui::TPrintDialog>("PrintDialog1");
  ui::TSaveDialog& SaveDialog1 = Add<ui::TSaveDialog>("SaveDialog1");

 private:
  PDB& work_;
  bool warning_shown_ = false;
};

}  // namespace korvel
