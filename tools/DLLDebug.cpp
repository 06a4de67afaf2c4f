#include "tools/DLLDebug.h"

#include "driver/DLLTools.h"
#include "driver/getfileinfo.h"
#include "framework/DLLBase.h"
#include "platform/files.h"
#include "platform/text.h"
#include "ui/Backend.h"

namespace korvel {
namespace {

const std::string& NormalStatus() {
  return GBK("调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！");
}

const std::string& WarningText() {
  return GBK(
      "！注意：调试对性能将产生不良影响，只有出现故障时才打开调试开关。\r\n"
      "调试和查看完设备运行信息后，请及时关闭调试开关。\r\n\r\n"
      "改动过调试开关后，需要退出向导，单击开发环境的保存工程按钮，调试功能才会生效。\r\n\r\n"
      "您可以编辑窗口中的内容，单击保存修改按钮保存窗口中的内容。\r\n"
      "或者单击另存为按钮，将窗口中的内容保存为文件，便于以后在系统外查看。");
}

}  // namespace

void WriteBackWizardCopy() {
  WizardGlobals& w = Wizard();
  if (w.HostBlock == nullptr) return;
  CopyPDB(w.Work, *w.HostBlock);
  // Devices on the master unit share a station number and differ by slot; without these two
  // bytes a saved list would come back as clashing stations.
  for (int i = 0; i < kMaxDevices; ++i) {
    const bool master = w.Work.Devices[i].AtMasterCpu == 1;
    w.HostBlock->Devices[i].AtMasterCpu = master ? 1 : 0;
    w.HostBlock->Devices[i].Slot = master ? w.Work.Devices[i].Slot : 0;
  }
}

TDebugFrm::TDebugFrm(PDB& work) : TForm("TDebugFrm"), work_(work) {
  SetClientSize(600, 440);
  Label1.SetBounds(16, 10, 560, 20);
  Label1.SetFont({{}, 11, true, false, ui::clDefault});
  Label2.SetBounds(16, 36, 568, 20);
  Label2.SetColor(ui::clWhite);
  Label2.SetTransparent(false);
  EnDebugChk.SetBounds(16, 64, 120, 20);
  ErrorChk.SetBounds(150, 64, 130, 20);
  TraceChk.SetBounds(294, 64, 130, 20);
  LogMemo.SetBounds(16, 92, 568, 290);
  // Log lines run long: they scroll sideways rather than being cut at the edge.
  LogMemo.SetScrollBars(ui::TMemo::ScrollBars::Both);
  LogMemo.SetWordWrap(false);
  LoadBar.SetBounds(16, 390, 200, 18);
  LoadBar.SetRange(0, 10);
  SaveBtn.SetBounds(232, 396, 80, 28);
  SpeedButton1.SetBounds(320, 396, 80, 28);
  SpeedButton1.SetFlat(true);
  PrnBtn.SetBounds(408, 396, 80, 28);
  FinishBtn.SetBounds(496, 396, 88, 28);
  Timer1.SetInterval(500);
  Timer1.SetEnabled(false);
  Timer2.SetInterval(100);
  Timer2.SetEnabled(false);
  SaveDialog1.Filter = GBK("调试日志文件|log");
  SaveDialog1.DefaultExt = "Log";
  FormCreate();
}

void TDebugFrm::FormCreate() {
  const ui::ScreenSize screen = ui::Screen();
  SetLeft((screen.Width - Width()) / 2);
  SetTop((screen.Height - Height()) / 2);
  const std::string& device = Vocabulary()[fiDeviceName];
  SetCaption(device + GBK("向导：设置调试选项"));
  Label1.SetCaption(GBK("欢迎使用") + device + GBK("配置向导"));
  Label2.SetCaption(NormalStatus());
  EnDebugChk.SetCaption(GBK("调试开关"));
  ErrorChk.SetCaption(GBK("输出错误信息"));
  TraceChk.SetCaption(GBK("输出跟踪信息"));
  SaveBtn.SetCaption(GBK("另存为"));
  SpeedButton1.SetCaption(GBK("保存修改"));
  PrnBtn.SetCaption(GBK("打印"));
  FinishBtn.SetCaption(GBK("关闭窗口"));
  warning_shown_ = false;
  Timer1.SetEnabled(false);
  LoadBar.Hide();

  EnDebugChk.OnClick = [this] { EnDebugChkClick(); };
  ErrorChk.OnClick = [this] { ErrorChkClick(); };
  TraceChk.OnClick = [this] { TraceChkClick(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  Timer2.OnTimer = [this] { Timer2Timer(); };
  SaveBtn.OnClick = [this] { SaveBtnClick(); };
  SpeedButton1.OnClick = [this] { SpeedButton1Click(); };
  PrnBtn.OnClick = [this] { PrnBtnClick(); };
  FinishBtn.OnClick = [this] { FinishBtnClick(); };
  OnShow = [this] { FinishBtn.SetFocus(); };

  if (work_.DebugLog) EnDebugChk.SetChecked(true);
  if (work_.ErrorLog) ErrorChk.SetChecked(true);
  if (work_.TraceLog) TraceChk.SetChecked(true);
  ControlShow();
}

void TDebugFrm::EnDebugChkClick() {
  const bool on = EnDebugChk.Checked();
  work_.DebugLog = on ? 1 : 0;
  Timer1.SetEnabled(on);
  if (on) {
    LoadBar.Show();
    Timer2.SetEnabled(true);
    Label2.SetCaption(GBK("正在调入记录文件..."));
    // Not while the window is being built from the block: only the user's switch gets the warning.
    if (!warning_shown_ && Active()) {
      warning_shown_ = true;
      ui::MessageBox(WarningText(), {}, ui::MsgIcon::Information, ui::MsgButtons::Ok, this);
    }
  } else {
    LoadBar.Hide();
    Timer2.SetEnabled(false);
    Label2.SetCaption(GBK("打开调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！"));
  }
  ControlShow();
}

// Error and trace output go only together with the debug switch.
void TDebugFrm::ControlShow() {
  const bool on = EnDebugChk.Checked();
  for (ui::TControl* c :
       std::initializer_list<ui::TControl*>{&LogMemo, &ErrorChk, &TraceChk, &SaveBtn, &PrnBtn, &SpeedButton1})
    c->SetEnabled(on);
  if (on) return;
  work_.ErrorLog = 0;
  work_.TraceLog = 0;
  ErrorChk.SetChecked(false);
  TraceChk.SetChecked(false);
  LogMemo.Clear();
}

void TDebugFrm::ErrorChkClick() {
  work_.ErrorLog = ErrorChk.Checked() ? 1 : 0;
}

void TDebugFrm::TraceChkClick() {
  work_.TraceLog = TraceChk.Checked() ? 1 : 0;
}

void TDebugFrm::Timer1Timer() {
  const std::string path = LogFileName();
  std::string content;
  // A missing or unreadable log leaves the memo as it was.
  if (!path.empty() && plat::file_exists(path) && plat::read_file(path, content)) LogMemo.SetText(content);
  Label2.SetCaption(NormalStatus());
  Timer1.SetEnabled(false);
  Timer2.SetEnabled(false);
  LoadBar.Hide();
}

void TDebugFrm::Timer2Timer() {
  LoadBar.StepBy(1);
  if (LoadBar.Position() >= LoadBar.Max()) LoadBar.SetPosition((LoadBar.Max() - LoadBar.Min()) / 2);
}

void TDebugFrm::SpeedButton1Click() {
  const std::string path = LogFileName();
  if (path.empty()) return;
  plat::write_file(path, LogMemo.Text());
}

void TDebugFrm::SaveBtnClick() {
  if (!SaveDialog1.Execute()) return;
  plat::write_file(SaveDialog1.FileName, LogMemo.Text());
}

void TDebugFrm::PrnBtnClick() {
  if (!PrintDialog1.Execute()) return;
  ui::TPrinter& printer = ui::Printer();
  printer.Font = LogMemo.Font();
  printer.BeginDoc(Caption());
  for (const std::string& line : LogMemo.Lines()) printer.Writeln(line);
  if (!printer.EndDoc()) printer.Abort();
}

void TDebugFrm::FinishBtnClick() {
  Wizard().Changed = true;
  if (&work_ == &Wizard().Work) WriteBackWizardCopy();
  Close();
}

}  // namespace korvel
