#include "wizard/DLLStep5.h"

#include "framework/DLLBase.h"
#include "platform/text.h"

namespace korvel::wizard {

int& RememberedWriteCount() {
  static int count = 2;
  return count;
}

TStep5Frm::TStep5Frm() : TWizardPage("TStep5Frm", kPageStep5) {
  // This page keeps its stored place and caption.
  SetBounds(200, 150, 480, 340);
  Label2.SetBounds(16, 40, 450, 18);
  GroupBox1.SetBounds(16, 64, 260, 140);
  Label3.SetBounds(12, 28, 110, 18);
  OutTimeEd.SetBounds(126, 24, 80, 22);
  Label4.SetBounds(212, 28, 40, 18);
  Label5.SetBounds(12, 62, 130, 18);
  WCountEd.SetBounds(146, 58, 60, 22);
  Label6.SetBounds(212, 62, 40, 18);
  WritePriorityCBox.SetBounds(12, 96, 200, 20);
  GroupBox3.SetBounds(288, 64, 176, 140);
  Memo1.SetBounds(8, 20, 160, 110);
  Memo1.SetReadOnly(true);
  ModemGp.SetBounds(16, 210, 448, 70);
  Label7.SetBounds(12, 24, 60, 18);
  PhoneEd.SetBounds(76, 20, 140, 22);
  Label8.SetBounds(228, 24, 70, 18);
  ModemInitEd.SetBounds(300, 20, 140, 22);
  PlaceButtons(LastBtn, NextBtn, CancelBtn, 200, 298, GBK("下一步"));
  FormCreate();
}

void TStep5Frm::FormCreate() {
  SetCaption(GBK("向导：其它高级参数及Modem参数设置"));
  Label2.SetCaption(GBK("设置通讯控制，根据需要设置相应的参数."));
  GroupBox1.SetCaption(GBK("高级参数设置"));
  Label3.SetCaption(GBK("通讯超时时间："));
  Label4.SetCaption(GBK("毫秒"));
  Label5.SetCaption(GBK("写失败重复执行次数："));
  Label6.SetCaption(GBK("次"));
  WritePriorityCBox.SetCaption(GBK("写操作优先权最高"));
  WritePriorityCBox.Hide();
  GroupBox3.SetCaption(GBK("设置说明"));
  // The note's text, broken where its phrases end so that every line fits the box in a 9-point
  // Chinese font (the three breaks of the old layout split words and overflowed).
  Memo1.SetLines({GBK("  ** 超时时间及"), GBK("写重复执行的次数请"), GBK("根据实际需要进行设置，"),
                  GBK("如无特殊情况"), GBK("保持默认设置。 ")});
  ModemGp.SetCaption(GBK("MODEM参数设置"));
  Label7.SetCaption(GBK("电话号码"));
  Label8.SetCaption(GBK("初始化命令"));
  ModemInitEd.SetText("AT&F&D0&");
  ModemGp.SetEnabled(false);
  ModemGp.SetColor(ui::clBtnFace);
  ModemGp.Hide();

  WritePriorityCBox.SetChecked(DefaultWritePriority());
  // The time-out of the block being edited, as a line started from it would use it.
  OutTimeEd.SetText(std::to_string(Clamp(Work().TimeOut, 10, 60000)));
  WCountEd.SetText(std::to_string(RememberedWriteCount()));

  NextBtn.OnClick = [this] { NextBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  OutTimeEd.OnExit = [this] { OutTimeEdExit(); };
  WCountEd.OnExit = [this] { WCountEdExit(); };
  WritePriorityCBox.OnExit = [this] { WritePriorityCBoxExit(); };
}

void TStep5Frm::OutTimeEdExit() {
  if (!OutTimeEd.Modified()) return;
  const int32_t v = Clamp(ReadInt(OutTimeEd.Text(), 0), 10, 60000);
  OutTimeEd.SetText(std::to_string(v));
  Work().TimeOut = static_cast<uint16_t>(v);
  SetChanged();
}

// Clamped to 0..10 each time: the count may go down as well as up.
void TStep5Frm::WCountEdExit() {
  if (!WCountEd.Modified()) return;
  const int32_t v = Clamp(ReadInt(WCountEd.Text(), 2), 0, 10);
  WCountEd.SetText(std::to_string(v));
  RememberedWriteCount() = v;
  Work().WriteCount = static_cast<uint8_t>(v);
  SetChanged();
}

void TStep5Frm::WritePriorityCBoxExit() {
  SetDefaultWritePriority(WritePriorityCBox.Checked());
}

}  // namespace korvel::wizard
