// The single-device page and the device-list pages: insert order, clashes, clamps, write-back.
#include "platform/text.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/DLLStep11.h"
#include "wizard/DLLStep12.h"
#include "wizard/DLLStep2.h"

namespace korvel::test {
namespace {

class DeviceList : public WizardTest {
 protected:
  // Shows the several-devices page on block and runs script on it.
  void ShowList(const PDB& block, ui::FormScript script) {
    PrepareWork(block);
    ui.Expect("TStep12Frm", std::move(script));
    wizard::TStep12Frm page;
    page.ShowModal();
    EXPECT_EQ(Errors(), "");
  }
  static std::vector<std::string> TreeTexts(ui::ScriptedForm& f) {
    std::vector<std::string> out;
    auto* tree = f.Get<ui::TTreeView>("DeviceTree");
    for (int i = 0; i < tree->TopCount(); ++i) out.push_back(tree->TopItem(i)->Text());
    return out;
  }
  static void AddStation(ui::ScriptedForm& f, const std::string& id) {
    f.Paste("IDEd", id);
    f.Click("AddBtn");
  }
  static void AddMaster(ui::ScriptedForm& f, const std::string& id, const std::string& slot) {
    if (!f.Checked("AtMasterCpuCB")) f.Click("AtMasterCpuCB");
    f.Paste("IDEd", id);
    f.Paste("SlotEd", slot);
    f.Click("AddBtn");
  }
  std::vector<std::pair<std::string, std::string>> Messages() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& m : ui.Messages()) out.emplace_back(m.Caption, m.Text);
    return out;
  }
  static PDB Empty() {
    PDB b = SavedDefaults();
    b.Devices[0].DevType = 2;
    return b;
  }
};

TEST_F(DeviceList, AddedStationsAreSortedAndNextPacksThemFromEntry0) {
  ShowList(Empty(), [](ui::ScriptedForm& f) {
    AddStation(f, "3");
    AddStation(f, "1");
    AddStation(f, "2");
    EXPECT_EQ(TreeTexts(f), (std::vector<std::string>{GBK("1：PLNE"), GBK("2：PLNE"), GBK("3：PLNE")}));
    f.Click("NextBtn");
  });
  const PDB& w = Wizard().Work;
  EXPECT_EQ(w.Devices[0].DevID, 1);
  EXPECT_EQ(w.Devices[1].DevID, 2);
  EXPECT_EQ(w.Devices[2].DevID, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(w.Devices[i].DevTypeName.str(), "PLNE");
  for (int i = 3; i < kMaxDevices; ++i) EXPECT_EQ(w.Devices[i].DevType, 2) << i;
  // Bytes the page does not edit hold the values of a fresh table.
  EXPECT_EQ(w.Devices[0].Param254, 80);
  EXPECT_EQ(w.Devices[0].Param260, 49);
  EXPECT_EQ(Wizard().NextPage, 6);
  EXPECT_EQ(Wizard().History, std::vector<int>{5});
  EXPECT_TRUE(Wizard().Changed);
}

TEST_F(DeviceList, ClashesOnAddAreRefusedUnderTheirCaptionAndLeaveTheListAlone) {
  ShowList(Empty(), [](ui::ScriptedForm& f) {
    AddStation(f, "3");
    AddStation(f, "3");
    f.Select("DevTypeEd", 1);
    AddMaster(f, "4", "2");
    AddMaster(f, "4", "1");
    AddMaster(f, "4", "2");
    AddMaster(f, "3", "5");  // station 3 is listed off the master unit
    EXPECT_EQ(TreeTexts(f),
              (std::vector<std::string>{GBK("3：PLNE"), GBK("4：PLNK 槽号：1"), GBK("4：PLNK 槽号：2")}));
    f.Click("CancelBtn");
  });
  EXPECT_EQ(Messages(), (std::vector<std::pair<std::string, std::string>>{
                            {GBK("添加失败"), GBK("设备列表中已经有这个站号的设备！")},
                            {GBK("添加失败"), GBK("两个站号相同的设备，它们的槽号必须不一样！")},
                            {GBK("添加失败"), GBK("设备列表中已经有这个站号的设备！")}}));
  EXPECT_FALSE(Wizard().Changed);  // Cancel
}

TEST_F(DeviceList, AddAdvancesTheInputAndRefusesStationsBeyond99AndWildSlots) {
  ShowList(Empty(), [](ui::ScriptedForm& f) {
    AddStation(f, "98");
    EXPECT_EQ(f.Text("IDEd"), "99");
    f.Click("AddBtn");
    EXPECT_EQ(f.Text("IDEd"), "100");  // the advance is not clamped ...
    f.Click("AddBtn");                 // ... but Add refuses it
    AddMaster(f, "5", "7");
    EXPECT_EQ(f.Text("SlotEd"), "8");
    EXPECT_EQ(f.Text("IDEd"), "5");
    f.Paste("SlotEd", "300");
    f.Click("AddBtn");
    EXPECT_EQ(TreeTexts(f),
              (std::vector<std::string>{GBK("5：PLNE 槽号：7"), GBK("98：PLNE"), GBK("99：PLNE")}));
    f.Click("CancelBtn");
  });
  EXPECT_EQ(Messages(),
            (std::vector<std::pair<std::string, std::string>>{{GBK("添加失败"), GBK("请输入合法信息！")},
                                                              {GBK("添加失败"), GBK("请输入合法信息！")}}));
}

TEST_F(DeviceList, StationEditTakesDigitsOnlyAndClampsWhatTheUserEnters) {
  ShowList(Empty(), [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("IDEd"), "0");
    f.Paste("IDEd", "");
    f.Type("IDEd", "1a-2");
    EXPECT_EQ(f.Text("IDEd"), "12");
    f.Type("IDEd", "0");
    EXPECT_EQ(f.Text("IDEd"), "99");  // 120
    f.Paste("IDEd", "150");
    EXPECT_EQ(f.Text("IDEd"), "99");
    f.Paste("IDEd", "abc");
    EXPECT_EQ(f.Text("IDEd"), "0");
    f.Paste("IDEd", "99999999999999999999");
    EXPECT_EQ(f.Text("IDEd"), "99");
    f.Paste("IDEd", "-5");
    EXPECT_EQ(f.Text("IDEd"), "0");
    f.Click("AtMasterCpuCB");
    EXPECT_TRUE(f.Visible("SlotEd"));
    f.Type("SlotEd", "x4");
    EXPECT_EQ(f.Text("SlotEd"), "4");
    f.Click("AtMasterCpuCB");
    EXPECT_FALSE(f.Visible("SlotEd"));
    f.Click("CancelBtn");
  });
}

TEST_F(DeviceList, ModifyChecksSelectionStationsAndSlots) {
  PDB block = Empty();
  PutDevice(block, 0, 1, 0);
  PutDevice(block, 1, 2, 1);
  ShowList(block, [](ui::ScriptedForm& f) {
    f.Paste("IDEd", "7");
    f.Click("ModiBtn");  // nothing selected
    ASSERT_TRUE(f.ClickNode("DeviceTree", {GBK("1：PLNE")}));
    EXPECT_EQ(f.Text("IDEd"), "1");
    f.Paste("IDEd", "2");
    f.Click("ModiBtn");  // station 2 is listed
    f.Paste("IDEd", "9");
    f.Select("DevTypeEd", 1);
    f.Click("ModiBtn");
    EXPECT_EQ(TreeTexts(f), (std::vector<std::string>{GBK("2：PLNK"), GBK("9：PLNK")}));
    f.Click("CancelBtn");
  });
  EXPECT_EQ(Messages(), (std::vector<std::pair<std::string, std::string>>{
                            {GBK("提示"), GBK("请在列表中选择要修改的设备！")},
                            {GBK("修改失败"), GBK("设备列表中已经有这个站号的设备！")}}));
}

TEST_F(DeviceList, ModifyOfMasterUnitDevicesReportsSlotConflicts) {
  ShowList(Empty(), [](ui::ScriptedForm& f) {
    AddMaster(f, "3", "1");
    AddMaster(f, "3", "2");
    AddMaster(f, "6", "2");
    ASSERT_TRUE(f.ClickNode("DeviceTree", {GBK("3：PLNE 槽号：1")}));
    f.Paste("SlotEd", "2");
    f.Click("ModiBtn");  // the pair 3/2 exists
    f.Click("AtMasterCpuCB");
    f.Click("ModiBtn");  // another device shares station 3
    ASSERT_TRUE(f.ClickNode("DeviceTree", {GBK("6：PLNE 槽号：2")}));
    f.Paste("IDEd", "3");
    f.Click("ModiBtn");  // station 3 with slot 2 exists
    f.Paste("SlotEd", "0");
    f.Click("ModiBtn");
    EXPECT_EQ(TreeTexts(f), (std::vector<std::string>{GBK("3：PLNE 槽号：0"), GBK("3：PLNE 槽号：1"),
                                                      GBK("3：PLNE 槽号：2")}));
    f.Click("CancelBtn");
  });
  EXPECT_EQ(Messages(), (std::vector<std::pair<std::string, std::string>>{
                            {GBK("槽号冲突"), GBK("这个站号槽号的设备已经存在！")},
                            {GBK("槽号冲突"), GBK("要修改该设备的槽号属性首先要删除其它站号相同的设备！")},
                            {GBK("修改失败"), GBK("两个站号相同的设备，它们的槽号必须不一样！")}}));
}

TEST_F(DeviceList, AFailedModifyKeepsTheDeviceItWasChanging) {
  // A damaged table may list one station twice; the add step then refuses what Modify allowed.
  PDB block = Empty();
  PutDevice(block, 0, 4, 0);
  PutDevice(block, 1, 4, 1);
  ShowList(block, [](ui::ScriptedForm& f) {
    ASSERT_TRUE(f.ClickNode("DeviceTree", {GBK("4：PLNK")}));
    f.Click("AtMasterCpuCB");
    f.Paste("SlotEd", "1");
    f.Click("ModiBtn");
    EXPECT_EQ(TreeTexts(f), (std::vector<std::string>{GBK("4：PLNE"), GBK("4：PLNK")}));
    f.Click("CancelBtn");
  });
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].Text, GBK("设备列表中已经有这个站号的设备！"));
}

TEST_F(DeviceList, DeleteByButtonAndKeyAndTableOrderIsKeptOnLoad) {
  PDB block = Empty();
  PutDevice(block, 0, 5, 0);
  PutDevice(block, 1, 2, 1);
  PutDevice(block, 4, 8, 1);
  ShowList(block, [](ui::ScriptedForm& f) {
    EXPECT_EQ(TreeTexts(f), (std::vector<std::string>{GBK("5：PLNE"), GBK("2：PLNK"), GBK("8：PLNK")}));
    f.Click("DelBtn");  // nothing selected: nothing happens
    ASSERT_TRUE(f.ClickNode("DeviceTree", {GBK("2：PLNK")}));
    f.Click("DelBtn");
    ASSERT_TRUE(f.ClickNode("DeviceTree", {GBK("8：PLNK")}));
    f.KeyUp("DeviceTree", ui::vkDelete);
    EXPECT_EQ(TreeTexts(f), (std::vector<std::string>{GBK("5：PLNE")}));
    f.Click("NextBtn");
  });
  EXPECT_TRUE(Wizard().Changed);
  EXPECT_EQ(Wizard().Work.Devices[0].DevID, 5);
  EXPECT_EQ(Wizard().Work.Devices[1].DevType, 2);
  EXPECT_EQ(Wizard().Work.Devices[4].DevType, 2);
}

TEST_F(DeviceList, TheListHoldsNoMoreThanTheTable) {
  ShowList(Empty(), [](ui::ScriptedForm& f) {
    f.Click("AtMasterCpuCB");
    f.Paste("IDEd", "1");
    f.Paste("SlotEd", "0");
    for (int i = 0; i < 101; ++i) f.Click("AddBtn");
    EXPECT_EQ(f.Get<ui::TTreeView>("DeviceTree")->TopCount(), kMaxDevices);
    f.Click("NextBtn");
  });
  ASSERT_EQ(ui.Messages().size(), 1u);
  EXPECT_EQ(ui.Messages()[0].Text, GBK("请输入合法信息！"));
  EXPECT_EQ(Wizard().Work.Devices[99].Slot, 99);
}

TEST_F(DeviceList, ModifyRunOpensTheSameListAsTStep2Frm) {
  PDB block = Empty();
  PutDevice(block, 0, 3, 1);
  PrepareWork(block);
  ui.Expect("TStep2Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.form().Caption(), GBK("Korvel智能模块向导：创建多个智能模块"));
    EXPECT_EQ(f.Text("AddBtn"), GBK("添加智能模块"));
    EXPECT_EQ(f.Text("Label10"), GBK("设备号"));
    EXPECT_FALSE(f.Visible("SlotEd"));
    AddStation(f, "1");
    f.Click("NextBtn");
  });
  wizard::TStep2Frm page;
  page.ShowModal();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Wizard().History, std::vector<int>{5});
  EXPECT_EQ(Wizard().Work.Devices[0].DevID, 1);
  EXPECT_EQ(Wizard().Work.Devices[1].DevID, 3);
}

TEST_F(DeviceList, SingleDevicePageKeepsOnlyTheChosenEntry) {
  PDB block = SavedDefaults();
  PutDevice(block, 3, 3, 0);
  PrepareWork(block);
  ui.Expect("TStep11Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("IDEd"), "0");
    EXPECT_EQ(f.ItemIndex("DevTypeEd"), 1);  // entry 0 is a PLNK
    EXPECT_EQ(f.Get<ui::TMemo>("TagTypeMemo")->Lines(),
              std::vector<std::string>{"   " + GBK("PLNK系列模块支持PV,PV_ALARM,PARM,AO,SetPassWord标签")});
    EXPECT_EQ(f.Get<ui::TMemo>("Memo2")->Lines(),
              std::vector<std::string>{GBK("    Korvel智能模块的设备号的取值范围从0至99")});
    EXPECT_FALSE(f.Visible("AtMasterCpuCB"));
    f.Paste("IDEd", "150");
    EXPECT_EQ(f.Text("IDEd"), "99");
    f.Paste("IDEd", "x");
    EXPECT_EQ(f.Text("IDEd"), "0");
    f.Paste("IDEd", "7");
    f.Select("DevTypeEd", 0);
    EXPECT_EQ(f.Get<ui::TMemo>("TagTypeMemo")->Lines()[0],
              "   " + GBK("PLNE系列模块支持PV,PV_ALARM,PARM,AO,SetPassWord标签"));
    f.Select("DevTypeEd", 1);
    f.Click("NextBtn");
  });
  wizard::TStep11Frm page;
  page.ShowModal();
  EXPECT_EQ(Errors(), "");
  const PDB& w = Wizard().Work;
  EXPECT_EQ(w.SingleDevID, 7);
  for (int i = 0; i < kMaxDevices; ++i) {
    EXPECT_EQ(w.Devices[i].DevType, i == 7 ? 1 : 2) << i;
    EXPECT_EQ(w.Devices[i].DevID, i);
  }
  EXPECT_EQ(w.Devices[7].DevTypeName.str(), "PLNK");
  EXPECT_FALSE(Wizard().Changed);
}

TEST_F(DeviceList, SingleDevicePageSurvivesADamagedStationAndUnknownTypedType) {
  PDB block = SavedDefaults();
  block.SingleDevID = 5000;
  PrepareWork(block);
  ui.Expect("TStep11Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("IDEd"), "99");
    f.Type("DevTypeEd", "XYZ");
    f.Click("NextBtn");
  });
  wizard::TStep11Frm page;
  page.ShowModal();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(Wizard().Work.SingleDevID, 99);
  EXPECT_EQ(Wizard().Work.Devices[99].DevType, 0);
}

}  // namespace
}  // namespace korvel::test
