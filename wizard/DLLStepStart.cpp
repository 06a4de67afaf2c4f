#include "wizard/DLLStepStart.h"

#include "driver/getfileinfo.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/DLLDebug.h"
#include "ui/Backend.h"

namespace korvel::wizard {
namespace {

HelpLauncher& Launcher() {
  static HelpLauncher launcher;
  return launcher;
}

// The driver file's name up to its first ".".
constexpr const char* kDriverBaseName = "KorvelPLNK";
constexpr const char* kDownloadPage = "https://www.korvel.example/driver/download";

}  // namespace

void SetHelpLauncher(HelpLauncher launcher) {
  Launcher() = std::move(launcher);
}

std::string FindHelpFile() {
  const std::string dir = Vocabulary()[fiHostDir] + "help\\";
  for (const std::string& base : {DeviceName(), std::string(kDriverBaseName)}) {
    const std::string path = plat::native_path(dir + base + ".chm");
    if (plat::file_exists(path)) return path;
  }
  return {};
}

TStartFrm::TStartFrm() : TWizardPage("TStartFrm", kPageStart) {
  SetClientSize(480, 340);
  Label2.SetBounds(16, 40, 450, 18);
  GroupBox1.SetBounds(16, 64, 448, 200);
  NewOp.SetBounds(16, 18, 200, 20);
  Label3.SetBounds(36, 40, 400, 18);
  Label6.SetBounds(36, 58, 400, 18);
  ModifyOp.SetBounds(16, 86, 200, 20);
  Label4.SetBounds(36, 108, 400, 18);
  BrowseOp.SetBounds(16, 136, 200, 20);
  Label5.SetBounds(36, 158, 400, 18);
  DebugBtn.SetBounds(16, 290, 90, 28);
  VersionBtn.SetBounds(112, 290, 90, 28);
  DownloadBtn.SetBounds(208, 290, 100, 28);
  NextBtn.SetBounds(292, 290, 80, 28);
  CancelBtn.SetBounds(384, 290, 80, 28);
  NextBtn.SetDefault(true);
  FormCreate();
}

void TStartFrm::FormCreate() {
  FramePage(GBK("向导：选择执行的操作方式"));
  Label2.SetCaption(GBK("请选择下面的操作选项，然后用鼠标单击下一步或完成按钮："));
  NewOp.SetCaption(GBK("新建设备"));
  NewOp.SetChecked(true);
  Label3.SetCaption(GBK("提供简单到复杂的应用创建向导，可以集中创建一个或多个"));
  Label6.SetCaption(DevWord() + GBK("。"));
  ModifyOp.SetCaption(GBK("修改设备"));
  Label4.SetCaption(GBK("修改原有的设备配置。"));
  BrowseOp.SetCaption(GBK("察看设备"));
  Label5.SetCaption(GBK("浏览已设定好的设备配置。"));
  DebugBtn.SetCaption(GBK("调试设置"));
  VersionBtn.SetCaption(GBK("帮助信息"));
  DownloadBtn.SetCaption(GBK("下载最新驱动"));
  DownloadBtn.Hide();
  NextBtn.SetCaption(GBK("下一步"));
  CancelBtn.SetCaption(GBK("取消"));

  NextBtn.OnClick = [this] { NextBtnClick(); };
  CancelBtn.OnClick = [this] { CancelBtnClick(); };
  VersionBtn.OnClick = [this] { VersionBtnClick(); };
  DebugBtn.OnClick = [this] { DebugBtnClick(); };
  DownloadBtn.OnClick = [this] { DownloadBtnClick(); };
  for (ui::TRadioButton* op : {&NewOp, &ModifyOp, &BrowseOp}) op->OnDblClick = [this] { NextBtnClick(); };
}

void TStartFrm::NextBtnClick() {
  if (ModifyOp.Checked()) {
    GoNext(kPageStart, kPageStep2);
  } else if (BrowseOp.Checked()) {
    GoNext(kPageStart, kPageFinish);
  } else {
    SetChanged();
    GoNext(kPageStart, kPageStep1);
  }
}

// Leaves the changed flag alone: a device voided by the block check is still a change.
void TStartFrm::CancelBtnClick() {
  Wizard().NextPage = kPageEnd;
  Close();
}

void TStartFrm::VersionBtnClick() {
  const TfileInfo& v = Vocabulary();
  Hide();
  ui::MessageBox(
      v[fiInternalName] + "\r\n" + GBK("版本") + v[fiFileVersion] + "\r\n\r\n" + v[fiFileDescription], {},
      ui::MsgIcon::Information, ui::MsgButtons::Ok, this);
  Show();
  const std::string help = FindHelpFile();
  if (help.empty()) return;  // no help installed: nothing more to do
  if (Launcher()) {
    Launcher()(help);
  } else {
    plat::start_program("hh", {help}, true);
  }
}

void TStartFrm::DebugBtnClick() {
  Wizard().NextPage = kPageEnd;
  Hide();
  {
    TDebugFrm debug(Wizard().Work);
    debug.SetOwnerWindow(OwnerWindow());
    debug.ShowModal();
  }
  Show();
}

void TStartFrm::DownloadBtnClick() {
  // The button is hidden; the device name travels percent-encoded (GBK bytes) in the query.
  static const char* const kHex = "0123456789ABCDEF";
  std::string name;
  for (unsigned char c : DeviceName()) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      name.push_back(static_cast<char>(c));
    } else {
      name += '%';
      name += kHex[c >> 4];
      name += kHex[c & 15];
    }
  }
  plat::open_url(std::string(kDownloadPage) + "?name=" + name);
}

}  // namespace korvel::wizard
