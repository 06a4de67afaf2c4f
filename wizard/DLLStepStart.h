// The wizard's start page: new / modify / browse, the debug window and the version and help.
#pragma once
#include <functional>
#include <string>

#include "wizard/WizardPage.h"

namespace korvel::wizard {

// Starts the help viewer with a help file; true when it was started. Tests replace it.
using HelpLauncher = std::function<bool(const std::string& helpFile)>;
void SetHelpLauncher(HelpLauncher launcher);  // empty: the platform's viewer ("hh" + path)
// The help file the start page opens: host directory + "help" + DeviceName or the driver's base
// name + ".chm", the first that exists; "" when neither does.
std::string FindHelpFile();

class TStartFrm : public TWizardPage {
 public:
  TStartFrm();
  void FormCreate();
  void NextBtnClick();
  void CancelBtnClick();
  void VersionBtnClick();
  void DebugBtnClick();
  void DownloadBtnClick();

  ui::TLabel& Label2 = Add<ui::TLabel>("Label2");
  ui::TGroupBox& GroupBox1 = Add<ui::TGroupBox>("GroupBox1");
  ui::TRadioButton& NewOp = Add<ui::TRadioButton>("NewOp", &GroupBox1);
  ui::TLabel& Label3 = Add<ui::TLabel>("Label3", &GroupBox1);
  ui::TLabel& Label6 = Add<ui::TLabel>("Label6", &GroupBox1);
  ui::TRadioButton& ModifyOp = Add<ui::TRadioButton>("ModifyOp", &GroupBox1);
  ui::TLabel& Label4 = Add<ui::TLabel>("Label4", &GroupBox1);
  ui::TRadioButton& BrowseOp = Add<ui::TRadioButton>("BrowseOp", &GroupBox1);
  ui::TLabel& Label5 = Add<ui::TLabel>("Label5", &GroupBox1);
  ui::TButton& DebugBtn = Add<ui::TButton>("DebugBtn");
  ui::TButton& VersionBtn = Add<ui::TButton>("VersionBtn");
  ui::TButton& DownloadBtn = Add<ui::TButton>("DownloadBtn");
  ui::TButton& NextBtn = Add<ui::TButton>("NextBtn");
  ui::TButton& CancelBtn = Add<ui::TButton>("CancelBtn");
};

}  // namespace korvel::wizard
