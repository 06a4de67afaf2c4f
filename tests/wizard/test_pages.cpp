// The serial, timing and summary pages: stored codes, clamps on exit, process-wide values, summary lines.
#include "framework/DLLBase.h"
#include "platform/text.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/DLLStep4.h"
#include "wizard/DLLStep5.h"
#include "wizard/DLLStepEnd.h"

namespace korvel::test {
namespace {

class Pages : public WizardTest {
 protected:
  template <class Page>
  void Show(const PDB& block, const std::string& name, ui::FormScript script) {
    PrepareWork(block);
    ui.Expect(name, std::move(script));
    Page page;
    page.ShowModal();
    EXPECT_EQ(Errors(), "");
  }
  static std::vector<std::string> Lines(ui::ScriptedForm& f, const std::string& memo) {
    return f.Get<ui::TMemo>(memo)->Lines();
  }
};

TEST_F(Pages, SerialPageStoresTheChosenCodes) {
  Show<wizard::TStep4Frm>(SavedDefaults(), "TStep4Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.ItemIndex("ComEd"), 0);
    EXPECT_EQ(f.ItemIndex("BautEd"), 6);
    EXPECT_EQ(f.ItemIndex("DataBitED"), 1);
    f.Select("DataBitED", 0);
    f.Select("DataBitED", 1);
    f.Select("StopBitED", 1);
    f.Select("ParityEd", 2);
    f.Select("ComEd", 2);
    f.Select("BautEd", 14);
    f.Click("NextBtn");
  });
  const PDB& w = Wizard().Work;
  EXPECT_EQ(w.DataBits, 4);
  EXPECT_EQ(w.StopBits, 1);
  EXPECT_EQ(w.Parity, 2);
  EXPECT_EQ(w.ComPort, 2);
  EXPECT_EQ(w.BaudRate, 14);
  EXPECT_EQ(Wizard().NextPage, 8);
}

TEST_F(Pages, TypedPortsAndRatesOutsideTheListsFallBackToCom2And9600) {
  Show<wizard::TStep4Frm>(SavedDefaults(), "TStep4Frm", [](ui::ScriptedForm& f) {
    f.Type("ComEd", "COM20");
    f.Type("BautEd", "12345");
    f.Click("PModemCbox");
    f.Click("NextBtn");
  });
  EXPECT_EQ(Wizard().Work.ComPort, 1);
  EXPECT_EQ(Wizard().Work.BaudRate, 6);
  EXPECT_EQ(Wizard().NextPage, 7);
}

TEST_F(Pages, OpeningTheSerialPageOnDefaultsSetsTheChangedFlagButNotOnItsOwnLayout) {
  Show<wizard::TStep4Frm>(SavedDefaults(), "TStep4Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("Label2"), GBK("请修改串行口参数与智能模块一致："));
    EXPECT_EQ(Lines(f, "Memo2")[0], GBK("    在上位机中使用智能模块时必须正确配置串行口参数。"));
    f.Click("LastBtn");
  });
  EXPECT_TRUE(Wizard().Changed);

  PDB seven = SavedDefaults();
  seven.DataBits = 3;
  seven.StopBits = 2;
  seven.Parity = 2;
  Show<wizard::TStep4Frm>(seven, "TStep4Frm", [](ui::ScriptedForm& f) { f.Click("LastBtn"); });
  EXPECT_FALSE(Wizard().Changed);
}

TEST_F(Pages, SerialPageSurvivesADamagedBlock) {
  PDB wild = SavedDefaults();
  wild.ComPort = 200;
  wild.BaudRate = 99;
  wild.DataBits = 0;
  wild.StopBits = 9;
  wild.Parity = 7;
  Show<wizard::TStep4Frm>(wild, "TStep4Frm", [](ui::ScriptedForm& f) { f.Click("NextBtn"); });
  const PDB& w = Wizard().Work;
  // Nothing shown, nothing stored: the values stay for the driver's own limits.
  EXPECT_EQ(w.DataBits, 0);
  EXPECT_EQ(w.StopBits, 9);
  EXPECT_EQ(w.Parity, 7);
  EXPECT_EQ(w.ComPort, 200);
}

TEST_F(Pages, TimeOutIsClampedOnExitAndBecomesTheProcessValue) {
  auto check = [&](const std::string& typed, const std::string& shown) {
    Show<wizard::TStep5Frm>(SavedDefaults(), "TStep5Frm", [&](ui::ScriptedForm& f) {
      f.Paste("OutTimeEd", typed);
      f.Focus("WCountEd");
      EXPECT_EQ(f.Text("OutTimeEd"), shown) << typed;
      f.Click("NextBtn");
    });
    EXPECT_EQ(std::to_string(Wizard().Work.TimeOut), shown);
    EXPECT_TRUE(Wizard().Changed);
  };
  check("5", "10");
  check("70000", "60000");
  check("abc", "10");
  check("", "10");
  check("123456789012345", "60000");
  check("250", "250");
  // The page shows the time-out of the block it edits (clamped as a line would use it): each line
  // keeps its own, so there is no process value to show.
  PDB slow = SavedDefaults();
  slow.TimeOut = 1500;
  Show<wizard::TStep5Frm>(slow, "TStep5Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("OutTimeEd"), "1500");
    f.Click("NextBtn");
  });
  slow.TimeOut = 5;
  Show<wizard::TStep5Frm>(slow, "TStep5Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("OutTimeEd"), "10");
    f.Click("NextBtn");
  });
  EXPECT_FALSE(Wizard().Changed);  // untouched edits change nothing
}

TEST_F(Pages, WriteCountIsClampedTo0To10WithoutRatchet) {
  auto check = [&](const std::string& typed, int stored) {
    Show<wizard::TStep5Frm>(SavedDefaults(), "TStep5Frm", [&](ui::ScriptedForm& f) {
      f.Paste("WCountEd", typed);
      f.Click("NextBtn");
      EXPECT_EQ(f.Text("WCountEd"), std::to_string(stored)) << typed;
    });
    EXPECT_EQ(Wizard().Work.WriteCount, stored);
    EXPECT_EQ(wizard::RememberedWriteCount(), stored);
  };
  check("15", 10);
  check("1", 1);  // lower than before, still accepted
  check("zz", 2);
  check("-4", 0);
  check("99999999999999", 10);
  Show<wizard::TStep5Frm>(SavedDefaults(), "TStep5Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Text("WCountEd"), "10");
    f.Click("CancelBtn");
  });
}

TEST_F(Pages, TimingPageKeepsItsOwnCaptionAndHidesModemAndPriority) {
  Show<wizard::TStep5Frm>(SavedDefaults(), "TStep5Frm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.form().Caption(), GBK("向导：其它高级参数及Modem参数设置"));
    EXPECT_EQ(f.Text("Label1"), GBK("欢迎使用Korvel智能模块配置向导"));
    EXPECT_EQ(f.Text("OutTimeEd"), "100");  // the default block's
    EXPECT_EQ(f.Text("WCountEd"), "2");
    EXPECT_FALSE(f.Visible("ModemGp"));
    EXPECT_FALSE(f.Enabled("ModemGp"));
    EXPECT_FALSE(f.Visible("WritePriorityCBox"));
    EXPECT_TRUE(f.Checked("WritePriorityCBox"));
    EXPECT_EQ(Lines(f, "Memo1").size(), 5u);
    EXPECT_FALSE(f.form().StayOnTop());
    f.Click("LastBtn");
  });
  EXPECT_EQ(Wizard().NextPage, 1);  // empty history
}

TEST_F(Pages, SummaryLinesPadTheRateAndNameEveryValue) {
  PDB b = SavedDefaults();
  b.ComPort = 0;
  b.BaudRate = 6;
  b.Parity = 0;
  b.DataBits = 4;
  b.StopBits = 0;
  EXPECT_EQ(wizard::SerialSummary(b), (std::vector<std::string>{GBK("串口1"), GBK("波特率 = 9600   无校验"),
                                                                GBK("数据位 = 8位    停止位 = 1位")}));
  b.BaudRate = 12;
  b.Parity = 1;
  EXPECT_EQ(wizard::SerialSummary(b)[1], GBK("波特率 = 115200 奇校验"));
  b.BaudRate = 0;
  b.Parity = 2;
  EXPECT_EQ(wizard::SerialSummary(b)[1], GBK("波特率 = 110    偶校验"));
  b.BaudRate = 8;
  b.Parity = 9;
  EXPECT_EQ(wizard::SerialSummary(b)[1], GBK("波特率 = 19200  无校验"));
  b.BaudRate = 15;
  EXPECT_EQ(wizard::SerialSummary(b)[1], GBK("波特率 = 9600"));
  b.ComPort = 15;
  EXPECT_EQ(wizard::SerialSummary(b)[0], GBK("串口16"));
  b.ComPort = 200;  // outside the list: still names its number
  EXPECT_EQ(wizard::SerialSummary(b)[0], GBK("串口201"));
  b.DataBits = 1;
  b.StopBits = 1;
  EXPECT_EQ(wizard::SerialSummary(b)[2], GBK("数据位 = 5位    停止位 = 1位半"));
  b.DataBits = 3;
  b.StopBits = 2;
  EXPECT_EQ(wizard::SerialSummary(b)[2], GBK("数据位 = 7位    停止位 = 2位"));
  b.DataBits = 77;
  b.StopBits = 5;
  EXPECT_EQ(wizard::SerialSummary(b)[2], GBK("数据位 = 8位    停止位 = 1位"));
}

TEST_F(Pages, SummaryTreeListsTheDevicesInTableOrder) {
  PDB b = SavedDefaults();
  b.Devices[0].DevType = 2;
  Show<wizard::TEndFrm>(b, "TEndFrm", [](ui::ScriptedForm& f) {
    EXPECT_EQ(f.Get<ui::TTreeView>("DeviceTree")->TopCount(), 0);
    EXPECT_EQ(f.form().Caption(), GBK("Korvel智能模块向导：向导退出前的确认"));
    EXPECT_EQ(f.Text("GroupBox4"), GBK("Korvel智能模块使用说明"));
    EXPECT_EQ(
        Lines(f, "Memo5"),
        (std::vector<std::string>{
            GBK("    每个与上位机相连的智能模块在上位机的设备中都有一个唯一的设备号。"),
            GBK("    "
                "在上位机的新建标签时，需要在标签主地址中指定设备号，从而确定此标签在一个节点设备中属于的哪"
                "一个智能模块。")}));
    EXPECT_FALSE(f.Visible("PrnBtn"));
    f.Click("CancelBtn");
  });
  PutDevice(b, 0, 9, 0);
  PutDevice(b, 1, 2, 1);
  b.Devices[1].AtMasterCpu = 1;
  b.Devices[1].Slot = 3;
  Show<wizard::TEndFrm>(b, "TEndFrm", [](ui::ScriptedForm& f) {
    auto* tree = f.Get<ui::TTreeView>("DeviceTree");
    ASSERT_EQ(tree->TopCount(), 2);
    EXPECT_EQ(tree->TopItem(0)->Text(), GBK("9：PLNE"));
    EXPECT_EQ(tree->TopItem(1)->Text(), GBK("2：PLNK 槽号：3"));
    f.Click("FinishBtn");
  });
  // Finish writes the copy back, the master-unit placement included.
  EXPECT_EQ(host.Devices[1].DevID, 2);
  EXPECT_EQ(host.Devices[1].AtMasterCpu, 1);
  EXPECT_EQ(host.Devices[1].Slot, 3);
  EXPECT_EQ(host.Devices[0].DevTypeName.str(), "PLNE");
  EXPECT_EQ(Wizard().NextPage, 9);
}

}  // namespace
}  // namespace korvel::test
