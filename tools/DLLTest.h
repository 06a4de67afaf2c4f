// The device test window behind DLLTestDev: a one-tag driver polled on a timer, with the tag's
// value, the frames on the line, hand-written reads, writes and commands, and the silent check.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "ui/Controls.h"

namespace korvel {

class TBaseDLLObject;
struct TCommand;

// Read attempts of the silent check.
inline constexpr int kSilentCheckAttempts = 6;

class TSampleTest : public ui::TForm {
 public:
  // Works on a private copy of hostBlock (the block copy, so module names are consistent).
  explicit TSampleTest(const PDB& hostBlock);
  ~TSampleTest() override;

  // Initialises the driver with the test tag, then shows the window modally (show) or runs the
  // silent check. True when a read was acknowledged by a module.
  bool Open(bool show);
  // Up to six reads, each one more than the communication time-out after the previous one;
  // stops at the first acknowledged read.
  bool SilentCheck();
  // One poll of the driver; true when it completed a read that a module acknowledged.
  bool ReadOnce();

  void FormCreate();
  void Timer1Timer();
  void ExitBtnClick();
  void PauseBtnClick();
  void DebugBtnClick();
  void AskBtnClick();
  void ReadCkClick();
  void WriteCkClick();
  void AddrEdChange();
  void wValueMsgChange();
  void FormClose();

  // The driver instance the window works with (the thread's current one), or null.
  TBaseDLLObject* Driver() const { return driver_; }
  bool DriverReady() const { return driver_ready_; }
  bool ReadSucceeded() const { return read_succeeded_; }
  bool AdvancedDebug() const { return advanced_debug_; }
  const std::string& LastText() const { return last_text_; }
  // The tag the next initialisation hands to the driver (null when none could be made).
  const TTagInfo* BufferTag() const { return buffer_[0]; }
  // Clock readings at which the silent check polled, one per attempt.
  const std::vector<uint64_t>& AttemptTicks() const { return attempt_ticks_; }

  // How the silent check lets time pass; tests replace it with one that moves their clock.
  std::function<void(uint32_t ms)> Sleep;

  static constexpr int kNormalHeight = 256;
  static constexpr int kDebugHeight = 464;

  ui::TStringGrid& StringGrid1 = Add<ui::TStringGrid>("StringGrid1");
  ui::TPanel& Panel1 = Add<ui::TPanel>("Panel1");
  ui::TLabel& Label1 = Add<ui::TLabel>("Label1", &Panel1);
  ui::TEdit& CommMsg = Add<ui::TEdit>("CommMsg", &Panel1);
  ui::TLabel& Label2 = Add<ui::TLabel>("Label2", &Panel1);
  ui::TEdit& SysMsg = Add<ui::TEdit>("SysMsg", &Panel1);
  ui::TButton& PauseBtn = Add<ui::TButton>("PauseBtn");
  ui::TButton& DebugBtn = Add<ui::TButton>("DebugBtn");
  ui::TButton& ExitBtn = Add<ui::TButton>("ExitBtn");
  ui::TPanel& Panel2 = Add<ui::TPanel>("Panel2");
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3", &Panel2);
  ui::TEdit& AskMsg = Add<ui::TEdit>("AskMsg", &Panel2);
  ui::TButton& AskBtn = Add<ui::TButton>("AskBtn", &Panel2);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &Panel2);
  ui::TEdit& AnswerMsg = Add<ui::TEdit>("AnswerMsg", &Panel2);
  ui::TPanel& DebugPn = Add<ui::TPanel>("DebugPn");
  ui::TLabel& Label5 = Add<ui::TLabel>("Label5", &DebugPn);
  ui::TEdit& AddrEd = Add<ui::TEdit>("AddrEd", &DebugPn);
  ui::TLabel& Label6 = Add<ui::TLabel>("Label6", &DebugPn);
  ui::TEdit& wValueMsg = Add<ui::TEdit>("wValueMsg", &DebugPn);
  ui::TRadioGroup& TypeGroup = Add<ui::TRadioGroup>("TypeGroup", &DebugPn);
  ui::TCheckBox& ReadCk = Add<ui::TCheckBox>("ReadCk", &DebugPn);
  ui::TCheckBox& WriteCk = Add<ui::TCheckBox>("WriteCk", &DebugPn);
  ui::TLabel& Label7 = Add<ui::TLabel>("Label7", &DebugPn);
  ui::TEdit& wStrMsg = Add<ui::TEdit>("wStrMsg", &DebugPn);
  ui::TTimer& Timer1 = Add<ui::TTimer>("Timer1");

 private:
  // IniDriver with the one-tag buffer and the block copy; afterwards the window addresses the
  // thread's new instance (the driver entry has already stopped and released the one before).
  bool InitDriver();
  // The driver has its serial port open and communication switched on.
  bool DriverEnabled() const;
  // Puts a new default test tag into the buffer.
  void MakeDefaultTag();
  void ShowInitResult();
  // The command whose frames are shown: the one on the line, else the read command shown last.
  TCommand* ShownCommand();
  // Normal form or advanced debug: the height and the two debug panels.
  void Layout(bool advanced);
  // The constructor's steps: positions and texts of each part, then the handlers.
  void PlaceGridAndStatus();
  void PlaceButtons();
  void PlaceDebugPanels();
  void ConnectHandlers();

  PDB block_{};
  TTagInfo* buffer_[1] = {nullptr};
  std::unique_ptr<TTagInfo> default_tag_;
  std::unique_ptr<TTagInfo> test_tag_;
  TBaseDLLObject* driver_ = nullptr;
  TCommand* last_shown_ = nullptr;
  bool advanced_debug_ = false;
  bool driver_ready_ = false;
  bool read_succeeded_ = false;
  std::string last_text_;
  std::vector<uint64_t> attempt_ticks_;
};

// The default test tag's address for a block: PV of its lowest configured module ("PV0:1" when
// none is configured).
std::string DefaultTestAddress(const PDB& block);

}  // namespace korvel
