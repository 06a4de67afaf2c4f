#include "tools/DLLTest.h"

#include <cstdlib>
#include <cstring>

#include "driver/DLLTools.h"
#include "driver/Variant.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "protocol/DLLObj.h"
#include "serial/DLLComm.h"
#include "ui/Backend.h"

namespace korvel {
namespace {

constexpr int kGridRows = 100;

const std::string& NotSupportedText() {
  return GBK("暂时不支持测试功能！");
}

const std::string& PortBusyText() {
  return GBK("串口被其他应用程序占用!");
}

// A NUL-terminated fixed field filled with text (cut to leave room for the NUL), rest zero.
template <size_t N>
void SetField(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), text.size() < N ? text.size() : N - 1);
}

// Takes a host string of the driver's exports (malloc'd, may be null) and frees it.
std::string TakeHostString(char* p) {
  std::string s = p != nullptr ? std::string(p) : std::string();
  std::free(p);
  return s;
}

// Reads the driver acknowledged so far: each read answered counts once, each read timed out
// counts in both totals.
double AcknowledgedReads(const TBaseDLLObject& d) {
  return static_cast<double>(d.ReadCommCount) - d.ReadTimeoutCount;
}

std::string ValueText(const TDLLTag& tag) {
  switch (tag.TagType) {
    case kTypeReal:
      return Variant(tag.Value.toDouble()).toString();
    case kTypeBool:
      return tag.Value.toBool() ? GBK("开") : GBK("关");
    case kTypeString:
      return tag.Value.toString();
    default:
      return "[Other Type]";
  }
}

bool InChains(const std::vector<TCommand*>& list, const TCommand* cmd) {
  for (const TCommand* head : list)
    for (const TCommand* c = head; c != nullptr; c = c->NextCommand)
      if (c == cmd) return true;
  return false;
}

}  // namespace

std::string DefaultTestAddress(const PDB& block) {
  int lowest = -1;
  for (const TDevInfo& d : block.Devices) {
    if (d.DevType != 0 && d.DevType != 1) continue;
    if (d.DevID < 0 || d.DevID >= kMaxDevices) continue;
    if (lowest < 0 || d.DevID < lowest) lowest = d.DevID;
  }
  return "PV" + std::to_string(lowest < 0 ? 0 : lowest) + ":1";
}

TSampleTest::TSampleTest(const PDB& hostBlock) : TForm("TSampleTest"), Sleep(plat::sleep_ms) {
  SetCaption(GBK("设备测试窗口"));
  SetSizeable(false);
  SetClientSize(448, kNormalHeight);
  PlaceGridAndStatus();
  PlaceButtons();
  PlaceDebugPanels();
  // Polling starts only once a driver is initialised.
  Timer1.SetEnabled(false);
  ConnectHandlers();
  Layout(false);
  FormCreate();
  CopyPDB(hostBlock, block_);
}

void TSampleTest::PlaceGridAndStatus() {
  StringGrid1.SetBounds(4, 4, 440, 150);
  StringGrid1.SetColCount(4);
  StringGrid1.SetRowCount(kGridRows);
  StringGrid1.SetFixedRows(1);
  StringGrid1.SetFixedCols(0);
  StringGrid1.SetColWidth(0, 69);
  StringGrid1.SetColWidth(1, 55);
  StringGrid1.SetColWidth(2, 57);
  StringGrid1.SetColWidth(3, 235);
  StringGrid1.SetDefaultRowHeight(16);
  StringGrid1.SetEditing(true);

  Panel1.SetBounds(4, 158, 440, 58);
  Label1.SetBounds(6, 8, 52, 16);
  Label1.SetCaption(GBK("通讯事件"));
  CommMsg.SetBounds(62, 4, 372, 22);
  Label2.SetBounds(6, 34, 52, 16);
  Label2.SetCaption(GBK("系统状态"));
  SysMsg.SetBounds(62, 30, 372, 22);
  for (ui::TEdit* e : {&CommMsg, &SysMsg}) {
    e->SetReadOnly(true);
    e->SetColor(ui::clBtnFace);
  }
}

void TSampleTest::PlaceButtons() {
  PauseBtn.SetBounds(198, 222, 75, 26);
  PauseBtn.SetCaption(GBK("暂停"));
  DebugBtn.SetBounds(279, 222, 84, 26);
  DebugBtn.SetCaption(GBK("高级调试↓"));
  ExitBtn.SetBounds(369, 222, 75, 26);
  ExitBtn.SetCaption(GBK("退出"));
}

// The panels the advanced-debug button unfolds: a raw command, and a tag to read or write.
void TSampleTest::PlaceDebugPanels() {
  Panel2.SetBounds(4, 256, 440, 58);
  Label3.SetBounds(6, 8, 52, 16);
  Label3.SetCaption(GBK("命令串"));
  AskMsg.SetBounds(62, 4, 288, 22);
  AskBtn.SetBounds(356, 3, 78, 24);
  AskBtn.SetCaption(GBK("发送命令"));
  Label4.SetBounds(6, 34, 52, 16);
  Label4.SetCaption(GBK("应答串"));
  AnswerMsg.SetBounds(62, 30, 372, 22);
  AnswerMsg.SetReadOnly(true);
  AnswerMsg.SetColor(ui::clBtnFace);

  DebugPn.SetBounds(4, 318, 440, 140);
  Label5.SetBounds(6, 10, 52, 16);
  Label5.SetCaption(GBK("标签地址"));
  AddrEd.SetBounds(62, 6, 150, 22);
  Label6.SetBounds(230, 10, 44, 16);
  Label6.SetCaption(GBK("写入值"));
  wValueMsg.SetBounds(280, 6, 154, 22);
  TypeGroup.SetBounds(6, 32, 428, 42);
  TypeGroup.SetCaption(GBK("标签类型"));
  TypeGroup.SetItems({GBK("模拟量"), GBK("开关量"), GBK("字符串")});
  TypeGroup.SetColumns(3);
  TypeGroup.SetItemIndex(0);
  ReadCk.SetBounds(8, 80, 80, 20);
  ReadCk.SetCaption(GBK("读操作"));
  WriteCk.SetBounds(100, 80, 80, 20);
  WriteCk.SetCaption(GBK("写操作"));
  Label7.SetBounds(6, 110, 52, 16);
  Label7.SetCaption(GBK("写命令串"));
  wStrMsg.SetBounds(62, 106, 372, 22);
  wStrMsg.SetReadOnly(true);
  wStrMsg.SetColor(ui::clBtnFace);
}

void TSampleTest::ConnectHandlers() {
  Timer1.OnTimer = [this] { Timer1Timer(); };
  ExitBtn.OnClick = [this] { ExitBtnClick(); };
  PauseBtn.OnClick = [this] { PauseBtnClick(); };
  DebugBtn.OnClick = [this] { DebugBtnClick(); };
  AskBtn.OnClick = [this] { AskBtnClick(); };
  ReadCk.OnClick = [this] { ReadCkClick(); };
  WriteCk.OnClick = [this] { WriteCkClick(); };
  AddrEd.OnChange = [this] { AddrEdChange(); };
  wValueMsg.OnChange = [this] { wValueMsgChange(); };
  OnClose = [this] { FormClose(); };
}

TSampleTest::~TSampleTest() = default;

void TSampleTest::FormCreate() {
  StringGrid1.SetCell(0, 0, GBK("标签地址"));
  StringGrid1.SetCell(1, 0, GBK("标签值"));
  StringGrid1.SetCell(2, 0, GBK("标签操作"));
  StringGrid1.SetCell(3, 0, GBK("主机命令"));
}

void TSampleTest::Layout(bool advanced) {
  SetHeight(advanced ? kDebugHeight : kNormalHeight);
  Panel2.SetVisible(advanced);
  DebugPn.SetVisible(advanced);
}

void TSampleTest::MakeDefaultTag() {
  buffer_[0] = nullptr;
  default_tag_.reset();
  try {
    auto tag = std::make_unique<TTagInfo>();
    std::memset(tag.get(), 0, sizeof(TTagInfo));
    tag->TagID = 0;
    SetField(tag->TagName, "AI");
    // "AI" names no address kind of these modules; the PV of a configured module is something
    // the driver really asks for, so a read can be acknowledged.
    SetField(tag->TagAddr, DefaultTestAddress(block_));
    tag->TagType = kTypeReal;
    tag->ScanPeriod = 500;
    tag->Value.vt = VT_EMPTY;
    default_tag_ = std::move(tag);
    buffer_[0] = default_tag_.get();
  } catch (...) {
    buffer_[0] = nullptr;
  }
}

bool TSampleTest::InitDriver() {
  driver_ready_ = false;
  char* msg = nullptr;
  const bool ok = IniDriver(1, buffer_, &block_, &msg) != 0;
  last_text_ = TakeHostString(msg);
  // A new initialisation replaced the thread's instance (the one before is stopped and gone).
  driver_ = ThreadInstance();
  last_shown_ = nullptr;
  driver_ready_ = ok && driver_ != nullptr;
  return driver_ready_;
}

bool TSampleTest::DriverEnabled() const {
  if (driver_ == nullptr || !driver_->CommEnabled) return false;
  const auto* proto = dynamic_cast<const TCustomDLLObject*>(driver_);
  return proto == nullptr || proto->LineOpen();
}

void TSampleTest::ShowInitResult() {
  if (DriverEnabled())
    SysMsg.SetText(last_text_);
  else
    ui::ShowMessage(PortBusyText());
}

bool TSampleTest::Open(bool show) {
  MakeDefaultTag();
  if (buffer_[0] == nullptr)
    ui::MessageBox(NotSupportedText(), {}, ui::MsgIcon::Question, ui::MsgButtons::Ok, this);

  // The block copy was made when the window was built.
  if (!InitDriver()) return false;
  if (driver_ == nullptr) return false;
  if (driver_->TagCount < 1 || driver_->TagList.empty()) {
    ui::MessageBox(NotSupportedText(), {}, ui::MsgIcon::Question, ui::MsgButtons::Ok, this);
    return false;
  }

  Layout(false);
  driver_ready_ = false;
  const TDLLTag& first = *driver_->TagList.front();
  AddrEd.SetText(first.TagAddr);
  TypeGroup.SetItemIndex(first.TagType <= kTypeString ? int{first.TagType} : int{kTypeReal});

  Timer1.SetInterval(driver_->ScanTime);
  Timer1.SetEnabled(true);
  driver_ready_ = true;
  SysMsg.SetText(last_text_);

  if (show)
    ShowModal();
  else
    SilentCheck();
  return read_succeeded_;
}

bool TSampleTest::SilentCheck() {
  uint64_t noted = plat::tick_ms();
  for (int attempt = 0; attempt < kSilentCheckAttempts; ++attempt) {
    // More than one answer time-out after the previous attempt, so that an answer on its way
    // is collected (or the request times out) before the next poll.
    for (;;) {
      const int32_t commTimeOut = driver_ != nullptr ? driver_->CommTimeOut : 1000;
      const uint64_t timeout = commTimeOut > 0 ? static_cast<uint64_t>(commTimeOut) : 0;
      const uint64_t passed = plat::tick_ms() - noted;
      if (passed > timeout) break;
      const auto ms = static_cast<uint32_t>(timeout - passed + 1);
      if (Sleep)
        Sleep(ms);
      else
        plat::sleep_ms(ms);
    }
    noted = plat::tick_ms();
    attempt_ticks_.push_back(noted);
    if (ReadOnce()) return true;
  }
  return false;
}

bool TSampleTest::ReadOnce() {
  if (driver_ == nullptr) return false;
  // A poll that runs without error proves nothing about the module: only a read answered and
  // accepted during this poll counts.
  const double before = AcknowledgedReads(*driver_);
  if (!driver_->ReadExecute()) return false;
  if (AcknowledgedReads(*driver_) <= before) return false;
  read_succeeded_ = true;
  return true;
}

TCommand* TSampleTest::ShownCommand() {
  if (driver_ == nullptr) return nullptr;
  if (driver_->CurCommand != nullptr) return last_shown_ = driver_->CurCommand;
  // Between exchanges nothing is on the line; a read command stays in CommandList with its last
  // frames, so it can still be shown. Commands that are released after use are never kept.
  if (last_shown_ != nullptr && !InChains(driver_->CommandList, last_shown_)) last_shown_ = nullptr;
  return last_shown_;
}

void TSampleTest::Timer1Timer() {
  if (driver_ == nullptr || !driver_ready_) return;
  last_text_ = driver_->sErrEvent;
  CommMsg.SetText(last_text_);
  driver_->WriteCommEvent(std::string());

  for (int row = 1; row < StringGrid1.RowCount(); ++row) StringGrid1.ClearRow(row);
  if (driver_->TagCount <= 0) return;
  const int tags = static_cast<int>(driver_->TagList.size());
  for (int i = 0; i < tags && i < driver_->TagCount; ++i) {
    const TDLLTag& tag = *driver_->TagList[static_cast<size_t>(i)];
    StringGrid1.SetCell(0, i + 1, tag.TagAddr);
    StringGrid1.SetCell(1, i + 1, ValueText(tag));
  }
  for (size_t k = 0; k < driver_->CommandList.size(); ++k) {
    if (const TCommand* c = driver_->CommandList[k])
      StringGrid1.SetCell(3, static_cast<int>(k) + 2, c->AskStr);
  }
  if (const TCommand* c = ShownCommand()) {
    if (c->IsWrite) {
      StringGrid1.SetCell(2, 1, GBK("写标签"));
      wStrMsg.SetText(c->AskStr);
    } else {
      StringGrid1.SetCell(2, 1, GBK("读标签"));
    }
    StringGrid1.SetCell(3, 1, c->AskStr);
    AnswerMsg.SetText(c->AnswerStr);
  }
  ReadOnce();
}

void TSampleTest::ExitBtnClick() {
  Close();
}

void TSampleTest::PauseBtnClick() {
  Timer1.SetEnabled(!Timer1.Enabled());
  PauseBtn.SetCaption(Timer1.Enabled() ? GBK("暂停") : GBK("继续"));
}

void TSampleTest::DebugBtnClick() {
  if (driver_ == nullptr) return;
  advanced_debug_ = !advanced_debug_;
  PauseBtn.SetEnabled(!advanced_debug_);
  PauseBtn.SetCaption(GBK("暂停"));
  Timer1.SetEnabled(true);
  if (advanced_debug_) {
    DebugBtn.SetCaption(GBK("自动检测↑"));
    Layout(true);
  } else {
    DebugBtn.SetCaption(GBK("高级调试↓"));
    Layout(false);
    MakeDefaultTag();
    InitDriver();
    ShowInitResult();
  }
  ReadCk.SetChecked(false);
}

void TSampleTest::AskBtnClick() {
  if (driver_ == nullptr) return;
  ReadCk.SetChecked(false);
  WriteCk.SetChecked(false);
  if (driver_ == nullptr) return;
  // Unchecking may have started a new driver, which has nothing on the line yet: its read
  // command is the one that goes out next.
  TCommand* target = driver_->CurCommand;
  if (target == nullptr && !driver_->CommandList.empty()) target = driver_->CommandList.front();
  if (target == nullptr) return;
  std::string text = AskMsg.Text() + "\r";
  if (text.size() > 255) text.resize(255);
  target->AskStr = text;
}

void TSampleTest::ReadCkClick() {
  std::vector<char> addr(AddrEd.Text().begin(), AddrEd.Text().end());
  addr.push_back('\0');
  char* io = addr.data();
  char* msg = nullptr;
  TagEdAddr(&block_, &io, 0, &msg);
  std::free(msg);
  // The driver hands back a new copy (null for an empty text); ours stays ours.
  const std::string normal = io != addr.data() ? TakeHostString(io) : std::string(addr.data());
  AddrEd.SetText(normal);

  if (ReadCk.Checked()) {
    if (!test_tag_) {
      test_tag_ = std::make_unique<TTagInfo>();
      std::memset(test_tag_.get(), 0, sizeof(TTagInfo));
    }
    TTagInfo& tag = *test_tag_;
    tag.TagID = 0;
    SetField(tag.TagName, "Y0.0");
    SetField(tag.TagAddr, AddrEd.Text());
    tag.ScanPeriod = 500;
    std::memset(&tag.Value, 0, sizeof tag.Value);
    switch (TypeGroup.ItemIndex()) {
      case 0:
        tag.TagType = kTypeReal;
        tag.Value.vt = VT_I4;
        tag.Value.lVal = -1;
        break;
      case 1:
        tag.TagType = kTypeBool;
        tag.Value.vt = VT_BOOL;
        tag.Value.boolVal = 0;
        break;
      default:
        tag.TagType = kTypeString;
        tag.Value.vt = VT_LPSTR;
        tag.Value.pszVal = "";
        break;
    }
    buffer_[0] = test_tag_.get();
  }

  if (InitDriver()) WriteCk.SetEnabled(true);
  ShowInitResult();
}

void TSampleTest::WriteCkClick() {
  // No command has to be on the line: a write-only tag (the only kind that accepts writes) never
  // has one until its first write is queued.
  if (driver_ == nullptr || !WriteCk.Checked()) return;
  try {
    ReadCk.SetChecked(true);
    if (driver_ == nullptr) return;
    const std::string text = wValueMsg.Text();
    const std::string upper = GbkUpper(text);
    Variant value;
    if (upper == "TRUE") {
      value = Variant(true);
    } else if (upper == "FALSE") {
      value = Variant(false);
    } else {
      bool ok = false;
      const double number = Variant(text).toDouble(&ok);
      value = Variant(ok ? number : 0.0);
    }
    driver_->WriteExecute(driver_->TagCount - 1, value);
  } catch (...) {
    // A failed write leaves the window as it was; the driver logs its own refusals.
  }
}

void TSampleTest::AddrEdChange() {
  ReadCk.SetChecked(false);
  WriteCk.SetChecked(false);
  WriteCk.SetEnabled(false);
}

void TSampleTest::wValueMsgChange() {
  WriteCk.SetChecked(false);
}

void TSampleTest::FormClose() {
  SetModalResult(read_succeeded_ ? ui::mrOk : ui::mrNo);
  Timer1.SetEnabled(false);
  if (driver_ != nullptr) driver_->Stop();
}

bool RunDeviceTest(PDB& block, bool show) {
  try {
    // Without a display there is nothing to show; the host gets "no successful read" at once.
    if (show && !ui::Available()) return false;
    TSampleTest window(block);
    return window.Open(show);
  } catch (...) {
    return false;
  }
}

}  // namespace korvel
