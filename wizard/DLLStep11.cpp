#include "wizard/DLLStep11.h"

#include "platform/text.h"

namespace korvel::wizard {

TStep11Frm::TStep11Frm() : TWizardPage("TStep11Frm", kPageStep11) {
  SetClientSize(480, 360);
  Label2.SetBounds(16, 40, 450, 18);
  GroupBox2.SetBounds(16, 64, 220, 130);
  Label9.SetBounds(12, 22, 80, 18);
  DevTypeEd.SetBounds(96, 20, 110, 22);
  Label10.SetBounds(12, 56, 80, 18);
  IDEd.SetBounds(96, 54, 110, 22);
  AtMasterCpuCB.SetBounds(12, 88, 100, 20);
  Label4.SetBounds(118, 90, 30, 18);
  SlotEd.SetBounds(150, 88, 56, 22);
  GroupBox3.SetBounds(248, 64, 216, 130);
  Memo2.SetBounds(8, 20, 200, 100);
  GroupBox4.SetBounds(16, 200, 448, 70);
  TagTypeMemo.SetBounds(8, 20, 432, 42);
  PlaceButtons(LastBtn, NextBtn, CancelBtn, 200, 310, GBK("下一步"));
  Memo2.SetReadOnly(true);
  TagTypeMemo.SetReadOnly(true);
  FormCreate();
}

void TStep11Frm::FormCreate() {
  FramePage(GBK("向导：创建单个") + DevWord());
  DevTypeEd.SetItems({DevTypeNameOf(0), DevTypeNameOf(1)});
  Label2.SetCaption(GBK("选择下面的") + DevWord() + GBK("类型及其参数") + GBK("，然后用单击下一步按钮："));
  GroupBox2.SetCaption(DevWord() + GBK("类型及参数"));
  Label9.SetCaption(DevWord() + GBK("类型"));
  Label10.SetCaption(DevIDName());
  AtMasterCpuCB.SetCaption(GBK("在主单元上"));
  Label4.SetCaption(GBK("槽号"));
  for (ui::TControl* c : std::initializer_list<ui::TControl*>{&AtMasterCpuCB, &Label4, &SlotEd}) c->Hide();
  GroupBox3.SetCaption(DevIDName() + GBK("说明"));
  Memo2.SetLines({"    " + DeviceName() + GBK("的") + DevIDName() + GBK("的取值范围") + GBK("从") + "0" +
                  GBK("至") + "99"});
  GroupBox4.SetCaption(DevWord() + GBK("支持的标签类型"));

  NextBtn.OnClick = [this] { NextBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  IDEd.OnChange = [this] { IDEdChange(); };
  IDEd.OnKeyPress = [this](char& key) { IDEdKeyPress(key); };
  DevTypeEd.OnChange = [this] { DevTypeEdChange(); };

  // A damaged block may carry any number here; the edit's clamp brings it into the table.
  IDEd.SetText(std::to_string(Work().SingleDevID));
  const int id = Clamp(ReadInt(IDEd.Text(), 0), 0, kMaxDevices - 1);
  const uint8_t type = Work().Devices[id].DevType;
  DevTypeEd.SetItemIndex(type <= 1 ? type : 0);
  CardScrChange();
}

void TStep11Frm::IDEdChange() {
  const std::string clamped = std::to_string(Clamp(ReadInt(IDEd.Text(), 0), 0, kMaxDevices - 1));
  if (clamped != IDEd.Text()) IDEd.SetText(clamped);
}

void TStep11Frm::CardScrChange() {
  const std::string& text = DevTypeDescription(DevTypeFromListIndex(DevTypeEd.ItemIndex()));
  TagTypeMemo.SetLines({"   " + text});
}

void TStep11Frm::NextBtnClick() {
  PDB& work = Work();
  for (int i = 0; i < kMaxDevices; ++i) {
    work.Devices[i].DevID = i;
    work.Devices[i].DevType = 2;
  }
  const int n = Clamp(ReadInt(IDEd.Text(), 0), 0, kMaxDevices - 1);
  work.SingleDevID = n;
  // Typed text that names no type keeps the first type rather than leaving no device at all.
  const int item = DevTypeEd.ItemIndex() >= 0 ? DevTypeEd.ItemIndex() : 0;
  const uint8_t type = DevTypeFromListIndex(item);
  work.Devices[n].DevType = type;
  work.Devices[n].DevTypeName.set(DevTypeNameOf(type));
  work.Devices[n].AtMasterCpu = 0;
  work.Devices[n].Slot = 0;
  GoNext(kPageStep11, kPageStep4);
}

}  // namespace korvel::wizard
