#include "wizard/DLLStep1.h"

#include "platform/text.h"

namespace korvel::wizard {

TStep1Frm::TStep1Frm() : TWizardPage("TStep1Frm", kPageStep1) {
  SetClientSize(480, 340);
  Label2.SetBounds(16, 40, 450, 18);
  GroupBox1.SetBounds(16, 64, 448, 190);
  SingleCreate.SetBounds(16, 18, 400, 20);
  Label4.SetBounds(36, 40, 400, 18);
  MulCreate.SetBounds(16, 70, 400, 20);
  Label6.SetBounds(36, 92, 400, 18);
  Label9.SetBounds(36, 110, 400, 18);
  AutoCreate.SetBounds(16, 140, 400, 20);
  Label7.SetBounds(36, 162, 400, 18);
  Label8.SetBounds(16, 262, 450, 18);
  Label8.SetFont({{}, 9, false, false, ui::clRed});
  PlaceButtons(LastBtn, NextBtn, CancelBtn, 200, 290, GBK("下一步"));
  FormCreate();
}

void TStep1Frm::FormCreate() {
  FramePage(GBK("向导：选择创建设备的方式"));
  Label2.SetCaption(GBK("请选择下面的创建方式，然后用鼠标单击下一步或完成按钮："));
  SingleCreate.SetCaption(GBK("单个") + DevWord() + GBK("创建（RS232方式连接）"));
  SingleCreate.SetChecked(true);
  Label4.SetCaption(GBK("为工程中的任意节点创建单个") + DevWord() + GBK("，可以满足简单的工程应用。"));
  MulCreate.SetCaption(GBK("多个") + DevWord() + GBK("创建（RS485/RS422方式连接）"));
  Label6.SetCaption(GBK("为工程中的任意节点创建多个") + DevWord() + GBK("，可以满足所有工程应用。"));
  Label9.SetCaption(GBK("并提高工程的运行效率。但标签地址的配置不易掌握。"));
  AutoCreate.SetCaption(GBK("自动创建"));
  AutoCreate.Hide();
  Label7.Hide();
  Label8.SetCaption(GBK("本操作将覆盖原有的设备配置，请慎重使用。"));

  NextBtn.OnClick = [this] { NextBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  SingleCreate.OnDblClick = [this] { NextBtnClick(); };
  MulCreate.OnDblClick = [this] { NextBtnClick(); };
  OnDblClick = [this] { NextBtnClick(); };
}

void TStep1Frm::NextBtnClick() {
  if (MulCreate.Checked()) {
    Work().LinkMode = 1;
    GoNext(kPageStep1, kPageStep12);
  } else {
    Work().LinkMode = 0;
    GoNext(kPageStep1, kPageStep11);
  }
}

}  // namespace korvel::wizard
