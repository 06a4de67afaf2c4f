#include "wizard/DLLStep4.h"

#include "platform/text.h"

namespace korvel::wizard {

TStep4Frm::TStep4Frm() : TWizardPage("TStep4Frm", kPageStep4) {
  SetClientSize(520, 380);
  Label2.SetBounds(16, 40, 480, 18);
  GroupBox1.SetBounds(16, 64, 300, 260);
  Label3.SetBounds(12, 26, 60, 18);
  ComEd.SetBounds(76, 22, 90, 22);
  Label4.SetBounds(12, 58, 60, 18);
  BautEd.SetBounds(76, 54, 90, 22);
  DataBitED.SetBounds(180, 18, 108, 70);
  StopBitED.SetBounds(12, 96, 130, 90);
  ParityEd.SetBounds(158, 96, 130, 90);
  PModemCbox.SetBounds(12, 200, 280, 22);
  GroupBox3.SetBounds(328, 64, 176, 260);
  Memo2.SetBounds(8, 20, 160, 230);
  Memo2.SetReadOnly(true);
  PlaceButtons(LastBtn, NextBtn, CancelBtn, 240, 338, GBK("下一步"));
  FormCreate();
}

void TStep4Frm::FormCreate() {
  FramePage(GBK("向导：修改计算机串行口通讯参数"));
  Label2.SetCaption(GBK("请修改串行口参数与") + DevWord() + GBK("一致："));
  GroupBox1.SetCaption(GBK("计算机串行口参数"));
  Label3.SetCaption(GBK("串行口"));
  Label4.SetCaption(GBK("波特率"));
  std::vector<std::string> ports;
  for (int i = 1; i <= 16; ++i) ports.push_back("COM" + std::to_string(i));
  ComEd.SetItems(ports);
  std::vector<std::string> rates;
  for (uint32_t r : kBaudRates) rates.push_back(std::to_string(r));
  BautEd.SetItems(rates);
  DataBitED.SetCaption(GBK("数据位"));
  DataBitED.SetItems({GBK("7位"), GBK("8位")});
  StopBitED.SetCaption(GBK("停止位"));
  StopBitED.SetItems({GBK("1位"), GBK("1位半"), GBK("2位")});
  ParityEd.SetCaption(GBK("校验方式"));
  ParityEd.SetItems({GBK("无校验"), GBK("奇校验"), GBK("偶校验")});
  // The groups come up showing these items; loading a different value below is a click.
  DataBitED.SetItemIndex(0);
  StopBitED.SetItemIndex(2);
  ParityEd.SetItemIndex(2);
  PModemCbox.SetCaption(GBK("高级参数及MODEM通讯参数设置"));
  GroupBox3.SetCaption(GBK("参数说明"));
  Memo2.Clear();
  const std::string& product = ProductName();
  Memo2.Add((product.empty() ? GBK("    在上位机中使用") : GBK("    在") + product + GBK("中使用")) +
            DevWord() + GBK("时必须正确配置串行口参数。"));
  Memo2.Add(GBK("    串行口指定计算机端的通讯口。"));
  Memo2.Add(GBK("    除串口外的其它参数必须与") + DevWord() + GBK("端设定的参数一致。"));

  NextBtn.OnClick = [this] { NextBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  ComEd.OnChange = [this] { ComEdChange(); };
  BautEd.OnChange = [this] { BautEdChange(); };
  DataBitED.OnClick = [this] { DataBitEDClick(); };
  StopBitED.OnClick = [this] { StopBitEDClick(); };
  ParityEd.OnClick = [this] { ParityEdClick(); };

  const PDB& work = Work();
  ComEd.SetItemIndex(work.ComPort < 16 ? work.ComPort : -1);
  BautEd.SetItemIndex(work.BaudRate < 15 ? work.BaudRate : -1);
  DataBitED.SetItemIndex(work.DataBits - 3);
  StopBitED.SetItemIndex(work.StopBits);
  ParityEd.SetItemIndex(work.Parity);
  PModemCbox.SetChecked(false);
}

void TStep4Frm::ComEdChange() {
  const int i = ComEd.ItemIndex();
  Work().ComPort = static_cast<uint8_t>(i >= 0 && i < 16 ? i : 1);
  SetChanged();
}

void TStep4Frm::BautEdChange() {
  const int i = BautEd.ItemIndex();
  Work().BaudRate = static_cast<uint8_t>(i >= 0 && i < 15 ? i : 6);
  SetChanged();
}

// A group showing no item (a damaged block's value) stores nothing.
void TStep4Frm::DataBitEDClick() {
  const int i = DataBitED.ItemIndex();
  if (i < 0 || i > 1) return;
  Work().DataBits = static_cast<uint8_t>(i + 3);
  SetChanged();
}

void TStep4Frm::StopBitEDClick() {
  const int i = StopBitED.ItemIndex();
  if (i < 0 || i > 2) return;
  Work().StopBits = static_cast<uint8_t>(i);
  SetChanged();
}

void TStep4Frm::ParityEdClick() {
  const int i = ParityEd.ItemIndex();
  if (i < 0 || i > 2) return;
  Work().Parity = static_cast<uint8_t>(i);
  SetChanged();
}

void TStep4Frm::NextBtnClick() {
  GoNext(kPageStep4, PModemCbox.Checked() ? kPageStep5 : kPageFinish);
}

}  // namespace korvel::wizard
