#include "wizard/DLLStepEnd.h"

#include "platform/text.h"
#include "tools/DLLDebug.h"
#include "ui/Backend.h"

namespace korvel::wizard {

std::vector<std::string> SerialSummary(const PDB& block) {
  std::vector<std::string> lines;
  // A port number outside the list still shows which port the block names.
  lines.push_back(GBK("串口") + std::to_string(block.ComPort + 1));

  std::string parity = block.Parity == 1 ? GBK("奇校验") : block.Parity == 2 ? GBK("偶校验") : GBK("无校验");
  if (block.BaudRate < 15) {
    const std::string rate = std::to_string(kBaudRates[block.BaudRate]);
    // Pads the rate to seven columns so the parity text always starts in the same place.
    lines.push_back(GBK("波特率 = ") + rate + std::string(7 - rate.size(), ' ') + parity);
  } else {
    lines.push_back(GBK("波特率 = ") + "9600");
  }

  static const char* const kDataBits[] = {"4位", "5位", "6位", "7位"};
  const std::string data = block.DataBits < 4 ? plat::utf8_to_gbk(kDataBits[block.DataBits]) : GBK("8位");
  const std::string stop = block.StopBits == 1 ? GBK("1位半") : block.StopBits == 2 ? GBK("2位") : GBK("1位");
  lines.push_back(GBK("数据位 = ") + data + GBK("    停止位 = ") + stop);
  return lines;
}

TEndFrm::TEndFrm() : TWizardPage("TEndFrm", kPageFinish) {
  SetClientSize(520, 400);
  Label2.SetBounds(16, 40, 480, 18);
  Label3.SetBounds(16, 64, 200, 18);
  DeviceTree.SetBounds(16, 84, 200, 260);
  GroupBox1.SetBounds(228, 64, 276, 100);
  ComArgMemo.SetBounds(8, 20, 260, 72);
  GroupBox4.SetBounds(228, 172, 276, 172);
  Memo5.SetBounds(8, 20, 260, 144);
  ComArgMemo.SetReadOnly(true);
  Memo5.SetReadOnly(true);
  PrnBtn.SetBounds(16, 358, 90, 28);
  PlaceButtons(LastBtn, FinishBtn, CancelBtn, 240, 358, GBK("完成"));
  FormCreate();
}

void TEndFrm::FormCreate() {
  FramePage(GBK("向导：向导退出前的确认"));
  Label2.SetCaption(GBK("确认后单击完成按钮，或单击上一步按钮修改配置："));
  Label3.SetCaption(GBK("设备配置图："));
  GroupBox1.SetCaption(GBK("串行口参数"));
  GroupBox4.SetCaption(DeviceName() + GBK("使用说明"));
  PrnBtn.SetCaption(GBK("打印配置"));
  PrnBtn.Hide();

  const PDB& work = Work();
  ComArgMemo.SetLines(SerialSummary(work));

  const std::string& product = ProductName();
  const std::string host = product.empty() ? GBK("上位机") : product;
  Memo5.Clear();
  Memo5.Add(GBK("    每个与") + host + GBK("相连的") + DevWord() + GBK("在上位机的设备中都有一个唯一的") +
            DevIDName() + GBK("。"));
  Memo5.Add(GBK("    在") + host + GBK("的新建标签时，需要在标签主地址中指定") + DevIDName() +
            GBK("，从而确定此标签在一个节点设备中") + GBK("属于的哪一个") + DevWord() + GBK("。"));

  DeviceTree.Clear();
  for (const TDevInfo& entry : work.Devices) {
    if (entry.DevType == 2) continue;
    ui::TTreeNode* node = DeviceTree.AddChild(
        nullptr, DeviceText(entry.DevID, DevTypeNameOf(entry.DevType), entry.AtMasterCpu == 1, entry.Slot));
    node->Data = const_cast<TDevInfo*>(&entry);
  }
  DeviceTree.SetReadOnly(true);
  DeviceTree.FullExpand();

  FinishBtn.OnClick = [this] { FinishBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  PrnBtn.OnClick = [this] { PrnBtnClick(); };
}

void TEndFrm::FinishBtnClick() {
  Wizard().NextPage = kPageEnd;
  WriteBackWizardCopy();
  Close();
}

// The button is hidden; the printout carries the page's texts in their order on the page.
void TEndFrm::PrnBtnClick() {
  ui::TPrinter& printer = ui::Printer();
  printer.BeginDoc(Caption());
  printer.Writeln(Label1.Caption());
  printer.Writeln(Label3.Caption());
  for (int i = 0; i < DeviceTree.TopCount(); ++i) printer.Writeln("  " + DeviceTree.TopItem(i)->Text());
  printer.Writeln(GroupBox1.Caption());
  for (const std::string& line : ComArgMemo.Lines()) printer.Writeln("  " + line);
  printer.Writeln(GroupBox4.Caption());
  for (const std::string& line : Memo5.Lines()) printer.Writeln(line);
  if (!printer.EndDoc()) printer.Abort();
}

}  // namespace korvel::wizard
