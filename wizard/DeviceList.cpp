#include "wizard/DeviceList.h"

#include <cstring>

#include "platform/text.h"
#include "ui/Backend.h"

namespace korvel::wizard {
namespace {

std::string RecordText(const TDevInfo& r) {
  return DeviceText(r.DevID, r.DevTypeName.str(), r.AtMasterCpu == 1, r.Slot);
}

bool OnMaster(const TDevInfo& r) {
  return r.AtMasterCpu == 1;
}

const std::string& SameStationText() {
  return GBK("设备列表中已经有这个站号的设备！");
}
const std::string& SameSlotText() {
  return GBK("两个站号相同的设备，它们的槽号必须不一样！");
}
const std::string& BadInputText() {
  return GBK("请输入合法信息！");
}

}  // namespace

TDeviceListFrm::TDeviceListFrm(std::string className, int number)
    : TWizardPage(std::move(className), number) {
  SetClientSize(480, 380);
  Label2.SetBounds(16, 40, 450, 18);
  Label3.SetBounds(16, 64, 200, 18);
  DeviceTree.SetBounds(16, 84, 200, 240);
  GroupBox2.SetBounds(228, 64, 236, 150);
  Label9.SetBounds(12, 24, 80, 18);
  DevTypeEd.SetBounds(100, 22, 120, 22);
  Label10.SetBounds(12, 56, 80, 18);
  IDEd.SetBounds(100, 54, 120, 22);
  AtMasterCpuCB.SetBounds(12, 88, 100, 20);
  Label4.SetBounds(12, 118, 80, 18);
  SlotEd.SetBounds(100, 116, 120, 22);
  AddBtn.SetBounds(228, 226, 110, 28);
  ModiBtn.SetBounds(354, 226, 110, 28);
  DelBtn.SetBounds(228, 262, 110, 28);
  PlaceButtons(LastBtn, NextBtn, CancelBtn, 200, 338, GBK("下一步"));
}

void TDeviceListFrm::FormCreate() {
  FramePage(GBK("向导：创建多个") + DevWord());
  DevTypeEd.SetStyle(ui::TComboBox::Style::DropDownList);
  DevTypeEd.SetItems({DevTypeNameOf(0), DevTypeNameOf(1)});
  DevTypeEd.SetItemIndex(0);
  IDEd.SetText("0");
  Label2.SetCaption(GBK("执行添加、删除、修改") + DevWord() + GBK("操作后，单击下一步按钮"));
  Label3.SetCaption(GBK("设备配置图："));
  Label9.SetCaption(DevWord() + GBK("类型"));
  Label10.SetCaption(DevIDName());
  GroupBox2.SetCaption(DevWord() + GBK("类型及参数"));
  AtMasterCpuCB.SetCaption(GBK("在主单元上"));
  Label4.SetCaption(GBK("槽号"));
  AddBtn.SetCaption(GBK("添加") + DevWord());
  DelBtn.SetCaption(GBK("删除") + DevWord());
  ModiBtn.SetCaption(GBK("修改") + DevWord());

  DeviceTree.Clear();
  Records.clear();
  for (const TDevInfo& entry : Work().Devices) {
    if (entry.DevType == 2) continue;
    DeviceTree.AddChild(nullptr, RecordText(entry));
    Records.push_back(entry);
  }
  DeviceTree.FullExpand();
  SlotEd.Hide();
  SlotEd.SetEnabled(false);
  Label4.Hide();
  Label4.SetEnabled(false);

  NextBtn.OnClick = [this] { NextBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  AddBtn.OnClick = [this] { AddBtnClick(); };
  ModiBtn.OnClick = [this] { ModiBtnClick(); };
  DelBtn.OnClick = [this] { DelBtnClick(); };
  DeviceTree.OnClick = [this] { DeviceTreeClick(); };
  DeviceTree.OnKeyUp = [this](int& key) { DeviceTreeKeyUp(key); };
  IDEd.OnChange = [this] { IDEdChange(); };
  IDEd.OnKeyPress = [this](char& key) { IDEdKeyPress(key); };
  SlotEd.OnKeyPress = [this](char& key) { SlotEdKeyPress(key); };
  AtMasterCpuCB.OnClick = [this] { AtMasterCpuCBClick(); };
  OnClose = [this] { FormClose(); };
}

// Only the user's own edits are clamped; the advance after Add may pass 99 and Add refuses it.
void TDeviceListFrm::IDEdChange() {
  if (!IDEd.Modified()) return;
  const std::string clamped = std::to_string(Clamp(ReadInt(IDEd.Text(), 0), 0, kMaxDevices - 1));
  if (clamped != IDEd.Text()) IDEd.SetText(clamped);
}

void TDeviceListFrm::AtMasterCpuCBClick() {
  const bool on = AtMasterCpuCB.Checked();
  SlotEd.SetVisible(on);
  Label4.SetVisible(on);
  SlotEd.SetEnabled(on);
  Label4.SetEnabled(on);
}

int TDeviceListFrm::SelectedIndex() const {
  const ui::TTreeNode* node = DeviceTree.Selected();
  if (node == nullptr || node->Parent() != nullptr) return -1;
  const int i = node->Index();
  return i >= 0 && i < static_cast<int>(Records.size()) ? i : -1;
}

void TDeviceListFrm::DeviceTreeClick() {
  const int i = SelectedIndex();
  if (i < 0) return;
  const TDevInfo& r = Records[static_cast<size_t>(i)];
  IDEd.SetText(std::to_string(r.DevID));
  DevTypeEd.SetItemIndex(r.DevType <= 1 ? r.DevType : -1);
  AtMasterCpuCB.SetChecked(OnMaster(r));
  SlotEd.SetText(std::to_string(r.Slot));
}

void TDeviceListFrm::DeviceTreeKeyUp(int& key) {
  if (key == ui::vkDelete)
    DelBtnClick();
  else
    DeviceTreeClick();
}

bool TDeviceListFrm::BuildRecord(TDevInfo& rec) const {
  // Bytes the page does not edit get the values of a fresh table, never leftovers.
  std::memset(&rec, 0, sizeof rec);
  rec.Param254 = 80;
  rec.Param256 = 32;
  rec.Param258 = 8;
  rec.Param260 = 49;
  const int32_t id = ReadInt(IDEd.Text(), 0);
  const uint8_t type = DevTypeFromListIndex(DevTypeEd.ItemIndex());
  rec.DevID = id;
  rec.DevType = type;
  rec.DevTypeName.set(DevTypeNameOf(type));
  int32_t slot = 0;
  if (AtMasterCpuCB.Checked()) {
    rec.AtMasterCpu = 1;
    slot = ReadInt(SlotEd.Text(), 0);
  }
  // Stations are 0..99 (the table's size); a slot is one byte; a device needs a type.
  if (id < 0 || id >= kMaxDevices || slot < 0 || slot > 255 || type > 1) return false;
  rec.Slot = static_cast<uint8_t>(slot);
  return true;
}

void TDeviceListFrm::Refused(const std::string& caption, const std::string& text) {
  ui::MessageBox(text, caption, ui::MsgIcon::Information, ui::MsgButtons::Ok, this);
}

void TDeviceListFrm::InsertAt(size_t index, const TDevInfo& rec) {
  ui::TTreeNode* before = index < Records.size() ? DeviceTree.TopItem(static_cast<int>(index)) : nullptr;
  DeviceTree.Insert(before, RecordText(rec));
  Records.insert(Records.begin() + static_cast<std::ptrdiff_t>(index), rec);
}

void TDeviceListFrm::RemoveAt(size_t index) {
  DeviceTree.Delete(DeviceTree.TopItem(static_cast<int>(index)));
  Records.erase(Records.begin() + static_cast<std::ptrdiff_t>(index));
}

bool TDeviceListFrm::AddRecord(const TDevInfo& rec, const std::string& caption) {
  for (const TDevInfo& r : Records) {
    if (r.DevID != rec.DevID) continue;
    if (!OnMaster(r) || !OnMaster(rec)) {
      Refused(caption, SameStationText());
      return false;
    }
    if (r.Slot == rec.Slot) {
      Refused(caption, SameSlotText());
      return false;
    }
  }
  // The table holds 100 entries; master-unit devices sharing stations could otherwise outgrow it.
  if (Records.size() >= static_cast<size_t>(kMaxDevices)) {
    Refused(caption, BadInputText());
    return false;
  }
  size_t at = Records.size();
  for (size_t i = 0; i < Records.size(); ++i) {
    const TDevInfo& r = Records[i];
    if (r.DevID > rec.DevID || (OnMaster(rec) && r.DevID == rec.DevID && r.Slot > rec.Slot)) {
      at = i;
      break;
    }
  }
  InsertAt(at, rec);
  DeviceTree.FullExpand();
  return true;
}

void TDeviceListFrm::AddBtnClick() {
  try {
    AddFromControls();
  } catch (...) {
    Refused(GBK("添加失败"), BadInputText());
  }
}

void TDeviceListFrm::AddFromControls() {
  TDevInfo rec;
  if (!BuildRecord(rec)) {
    Refused(GBK("添加失败"), BadInputText());
    return;
  }
  if (!AddRecord(rec, GBK("添加失败"))) return;
  SetChanged();
  ui::TEdit& next = AtMasterCpuCB.Checked() ? SlotEd : IDEd;
  const int32_t n = ReadInt(next.Text(), INT32_MIN);
  if (n != INT32_MIN && n < INT32_MAX) next.SetText(std::to_string(n + 1));
}

void TDeviceListFrm::ModiBtnClick() {
  try {
    ModifyFromControls();
  } catch (...) {
    // A failed change leaves the list as it was; no message of its own.
  }
}

void TDeviceListFrm::ModifyFromControls() {
  const int sel = SelectedIndex();
  if (sel < 0) {
    Refused(GBK("提示"), GBK("请在列表中选择要修改的设备！"));
    return;
  }
  TDevInfo rec;
  if (!BuildRecord(rec)) {
    Refused(GBK("修改失败"), BadInputText());
    return;
  }
  const TDevInfo old = Records[static_cast<size_t>(sel)];
  if (rec.DevID != old.DevID) {
    for (const TDevInfo& r : Records) {
      if (r.DevID != rec.DevID) continue;
      if (!OnMaster(r) || !OnMaster(rec)) {
        Refused(GBK("修改失败"), SameStationText());
        return;
      }
      if (r.Slot == rec.Slot) {
        Refused(GBK("修改失败"), SameSlotText());
        return;
      }
    }
  } else if (OnMaster(old)) {
    for (size_t i = 0; i < Records.size(); ++i) {
      const TDevInfo& r = Records[i];
      if (static_cast<int>(i) == sel || r.DevID != rec.DevID) continue;
      if (!OnMaster(rec)) {
        Refused(GBK("槽号冲突"), GBK("要修改该设备的槽号属性首先要删除其它站号相同的设备！"));
        return;
      }
      if (r.Slot == rec.Slot) {
        Refused(GBK("槽号冲突"), GBK("这个站号槽号的设备已经存在！"));
        return;
      }
    }
  }
  RemoveAt(static_cast<size_t>(sel));
  if (AddRecord(rec, GBK("添加失败"))) {
    SetChanged();
  } else {
    // A clash found only by the add step must not cost the user the device being modified.
    InsertAt(static_cast<size_t>(sel), old);
  }
}

void TDeviceListFrm::DelBtnClick() {
  const int sel = SelectedIndex();
  if (sel < 0) return;
  RemoveAt(static_cast<size_t>(sel));
  SetChanged();
}

void TDeviceListFrm::NextBtnClick() {
  PDB& work = Work();
  for (TDevInfo& entry : work.Devices) entry.DevType = 2;
  for (size_t i = 0; i < Records.size() && i < static_cast<size_t>(kMaxDevices); ++i)
    work.Devices[i] = Records[i];
  if (FreeListOnNext()) Records.clear();
  GoNext(kPageStep12, kPageStep4);
}

}  // namespace korvel::wizard
