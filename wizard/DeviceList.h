// The device-list page, shown as TStep2Frm (from Modify) and TStep12Frm (several devices): a tree
// of the devices on an RS485/RS422 bus with Add, Modify and Delete, written back on Next.
#pragma once
#include <vector>

#include "wizard/WizardPage.h"

namespace korvel::wizard {

class TDeviceListFrm : public TWizardPage {
 public:
  void FormCreate();
  void FormClose() { Records.clear(); }
  void NextBtnClick();
  void LastBtnClick() { GoBack(); }
  void CancelBtnClick() { CancelWizard(); }
  void AddBtnClick();
  void ModiBtnClick();
  void DelBtnClick();
  void DeviceTreeClick();
  void DeviceTreeKeyUp(int& key);
  void IDEdChange();
  void IDEdKeyPress(char& key) { DigitsOnly(key); }
  void SlotEdKeyPress(char& key) { DigitsOnly(key); }
  void AtMasterCpuCBClick();

  // The page's own list, in the order of the tree's top-level nodes.
  std::vector<TDevInfo> Records;

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3");
  ui::TTreeView& DeviceTree = Add<ui::TTreeView>("DeviceTree");
  ui::TGroupBox& GroupBox2 = Add<ui::TGroupBox>("GroupBox2");
  ui::TLabel& Label9 = Add<ui::TLabel>("Label9", &GroupBox2);
  ui::TComboBox& DevTypeEd = Add<ui::TComboBox>("DevTypeEd", &GroupBox2);
  ui::TLabel& Label10 = Add<ui::TLabel>("Label10", &GroupBox2);
  ui::TEdit& IDEd = Add<ui::TEdit>("IDEd", &GroupBox2);
  ui::TCheckBox& AtMasterCpuCB = Add<ui::TCheckBox>("AtMasterCpuCB", &GroupBox2);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &GroupBox2);
  ui::TEdit& SlotEd = Add<ui::TEdit>("SlotEd", &GroupBox2);
  ui::TButton& AddBtn = Add<ui::TButton>("AddBtn");
  ui::TButton& ModiBtn = Add<ui::TButton>("ModiBtn");
  ui::TButton& DelBtn = Add<ui::TButton>("DelBtn");
  ui::TButton& LastBtn = Add<ui::TButton>("LastBtn");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");

 protected:
  TDeviceListFrm(std::string className, int number);
  // TStep12Frm lets the list go as soon as it is stored; TStep2Frm keeps it until the page closes.
  virtual bool FreeListOnNext() const = 0;

 private:
  // A record from the controls; false (input refused) when the numbers are out of range.
  bool BuildRecord(TDevInfo& rec) const;
  // Checks rec against the list and inserts it at its sorted place; shows the clash under caption.
  bool AddRecord(const TDevInfo& rec, const std::string& caption);
  void InsertAt(size_t index, const TDevInfo& rec);
  void RemoveAt(size_t index);
  int SelectedIndex() const;
  void Refused(const std::string& caption, const std::string& text);
  void AddFromControls();
  void ModifyFromControls();
};

}  // namespace korvel::wizard
