// Keys and clicks that a user, an automation or a remote-desktop tool sends (xdotool on a virtual X
// server: real X input events), reaching the wizard of a host process through Qt's X11 platform.
#include <gtest/gtest.h>

#if defined(KORVEL_ED_HOST) && defined(KORVEL_QT_BACKEND_FILE)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/common/skip.h"
#include "tests/common/window_scenarios.h"
#include "tests/wizard/wizard_fixture.h"
#include "tools/DLLDebug.h"
#include "wizard/DLLStep1.h"
#include "wizard/DLLStep11.h"
#include "wizard/DLLStep12.h"
#include "wizard/DLLStep2.h"
#include "wizard/DLLStep4.h"
#include "wizard/DLLStep5.h"
#include "wizard/DLLStepEnd.h"
#include "wizard/DLLStepStart.h"
#include "wizard/WizardPage.h"

namespace korvel::test {

void PrintTo(const HostModule& m, std::ostream* os) {
  *os << "{entry " << m.entry << ", station " << m.id << ", type " << int(m.type) << "}";
}
void PrintTo(const WindowScenario& s, std::ostream* os) {
  *os << s.name;
}

namespace {

// Output of a shell command (stdout, trailing blanks cut).
std::string Shell(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

bool HaveProgram(const std::string& name) {
  return Shell("command -v " + name + " 2>/dev/null") != "";
}

// A virtual X server on a free display, ended with the test.
class XServer {
 public:
  XServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it accepts clients, and the newline in a write of
    // its own: read up to the newline, or a server that finds the pipe closed dies.
    std::string answer;
    char c = 0;
    while (pid_ > 0) {
      const ssize_t n = read(fds[0], &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || c == '\n') break;
      answer.push_back(c);
    }
    close(fds[0]);
    if (c == '\n' && !answer.empty()) display_ = ":" + answer;
  }
  ~XServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& display() const { return display_; }
  // The display is usable once a client gets its geometry; false when none did within 5 s.
  bool TakesClients() const {
    for (int i = 0; i < 50; ++i) {
      if (Shell("DISPLAY=" + display_ + " xdotool getdisplaygeometry 2>/dev/null") != "") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

class KeysOnX : public WizardTest {};

// The picture: a host block with modules 7 and 12, one Return key sent to the start page's
// window, then one to the second page. Each moves exactly one page; the wizard is then cancelled and
// the host's block comes back untouched.
TEST_F(KeysOnX, OneReturnKeyFromAnAutomationToolMovesOnePage) {
  if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) KORVEL_SKIP_MISSING("Xvfb or xdotool");
  XServer x;
  ASSERT_NE(x.display(), "") << "Xvfb did not start";
  ASSERT_TRUE(x.TakesClients()) << "the display " << x.display() << " takes no clients";
  PutDevice(host, 7, 7, 1);
  PutDevice(host, 12, 12, 1);
  const std::string file = tmp_ + "/host.pdb";
  ASSERT_TRUE(plat::write_file(file, std::string(reinterpret_cast<const char*>(&host), sizeof host)));

  // Captions as the X server shows them (UTF-8).
  const std::string device = plat::gbk_to_utf8(wizard::DeviceName());
  const std::string start = device + "向导：选择执行的操作方式";
  const std::string method = device + "向导：选择创建设备的方式";
  const std::string single = device + "向导：创建单个" + plat::gbk_to_utf8(wizard::DevWord());
  PrepareWork(host);
  wizard::TStep11Frm singlePage;  // where its Cancel button sits
  const int cancelX = singlePage.CancelBtn.Left() + singlePage.CancelBtn.Width() / 2;
  const int cancelY = singlePage.CancelBtn.Top() + singlePage.CancelBtn.Height() / 2;

  const std::string env = "DISPLAY=" + x.display() + " ";
  std::string hostOut;
  std::thread hostProcess([&] {
    hostOut = Shell(env +
                    "QT_QPA_PLATFORM=xcb KORVEL_QT_BACKEND=" KORVEL_QT_BACKEND_FILE " " KORVEL_ED_HOST
                    " " KORVEL_LIBRARY_FILE " '" +
                    file + "' 2>/dev/null");
  });
  auto windowOf = [&](const std::string& name) {
    return Shell(env + "timeout 20 xdotool search --sync --onlyvisible --name '^" + name +
                 "$' 2>/dev/null | head -1");
  };
  auto shown = [&] {
    return Shell(env + "xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null");
  };
  // Longer than the display's key repeat delay: a key left down would have walked on meanwhile.
  auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1500)); };

  const std::string w1 = windowOf(start);
  EXPECT_NE(w1, "");
  Shell(env + "xdotool key --window " + w1 + " Return 2>/dev/null");
  settle();
  EXPECT_EQ(shown(), method);
  const std::string w2 = windowOf(method);
  EXPECT_NE(w2, "");
  Shell(env + "xdotool key --window " + w2 + " Return 2>/dev/null");
  settle();
  EXPECT_EQ(shown(), single);
  const std::string w3 = windowOf(single);
  if (!w3.empty())
    Shell(env + "xdotool mousemove --window " + w3 + " " + std::to_string(cancelX) + " " +
          std::to_string(cancelY) + " click 1 2>/dev/null");
  hostProcess.join();

  // Cancel after New: nothing changed, nothing written.
  EXPECT_EQ(hostOut, "2");
  std::string after;
  ASSERT_TRUE(plat::read_file(file, after));
  ASSERT_EQ(after.size(), sizeof(PDB));
  PDB back{};
  std::memcpy(&back, after.data(), sizeof back);
  EXPECT_EQ(back.Devices[7].DevType, 1);
  EXPECT_EQ(back.Devices[12].DevType, 1);
  EXPECT_EQ(std::memcmp(&back, &host, sizeof(PDB)), 0);
}

// ---------------------------------------------------------------- the shared scenario table on Qt

// A point of a control of a page, in the page's client coordinates (as the X window has them).
struct Spot {
  int x = -1, y = -1;
};

Spot SpotOf(const std::string& page, const std::string& control) {
  static PDB work = SavedDefaults();
  static const std::map<std::string, std::function<std::unique_ptr<ui::TForm>()>> kPages = {
      {"TStartFrm", [] { return std::make_unique<wizard::TStartFrm>(); }},
      {"TStep1Frm", [] { return std::make_unique<wizard::TStep1Frm>(); }},
      {"TStep11Frm", [] { return std::make_unique<wizard::TStep11Frm>(); }},
      {"TStep2Frm", [] { return std::make_unique<wizard::TStep2Frm>(); }},
      {"TStep12Frm", [] { return std::make_unique<wizard::TStep12Frm>(); }},
      {"TStep4Frm", [] { return std::make_unique<wizard::TStep4Frm>(); }},
      {"TStep5Frm", [] { return std::make_unique<wizard::TStep5Frm>(); }},
      {"TEndFrm", [] { return std::make_unique<wizard::TEndFrm>(); }},
      {"TDebugFrm", [] { return std::make_unique<TDebugFrm>(work); }},
  };
  auto maker = kPages.find(page);
  if (maker == kPages.end()) return {};
  const std::unique_ptr<ui::TForm> form = maker->second();
  const auto* c = dynamic_cast<const ui::TControl*>(form->FindComponent(control));
  if (!c || c->Width() <= 0) return {};
  // Near the left edge: an option takes clicks only on its mark and text.
  Spot s{c->Left() + std::min(c->Width() / 2, 10), c->Top() + c->Height() / 2};
  for (const ui::TControl* p = c->Parent(); p && p != form.get(); p = p->Parent()) {
    s.x += p->Left();
    s.y += p->Top();
  }
  return s;
}

// The host in a box (ed_host) on the display, in a directory of its own (where its log goes).
class HostProcess {
 public:
  HostProcess(const std::string& display, const std::string& dir, const std::string& block) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("DISPLAY", display.c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      setenv("KORVEL_QT_BACKEND", KORVEL_QT_BACKEND_FILE, 1);
      unsetenv("ORVANE_PATH");
      execl(KORVEL_ED_HOST, KORVEL_ED_HOST, KORVEL_LIBRARY_FILE, block.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }
  ~HostProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // What the host printed (DLLEdDev's result), once it ended; "" when it had not ended within 30 s,
  // and it is ended then.
  std::string Result() {
    for (int i = 0; i < 300 && pid_ > 0; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pid_ > 0) return "";
    std::string text;
    char buf[64];
    ssize_t n;
    while ((n = read(out_, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

// Plays the table's steps with xdotool; the first step that cannot be done ends the play.
class XUser {
 public:
  explicit XUser(const std::string& display) : env_("DISPLAY=" + display + " ") {}

  // "" when done, else what went wrong.
  std::string Do(const UserStep& step) {
    switch (step.act) {
      case UserAct::Page: {
        const char* tail = PageCaptionTail(step.arg);
        if (!tail) return std::string("no caption known for ") + step.arg;
        page_ = step.arg;
        return Await(tail) ? "" : std::string("the page ") + step.arg + " was not shown";
      }
      case UserAct::Message:
        page_.clear();
        return Await(std::string("^") + step.arg + "$") ? "" : std::string("no message box ") + step.arg;
      case UserAct::Keys:
        Xdo("key --delay 150 " + std::string(step.arg));
        return "";
      case UserAct::Click:
      case UserAct::Focus: {
        const Spot s = SpotOf(page_, step.arg);
        if (s.x < 0) return "no control " + std::string(step.arg) + " on " + page_;
        const std::string at =
            "mousemove --window " + window_ + " " + std::to_string(s.x) + " " + std::to_string(s.y);
        Xdo(step.act == UserAct::Click
                ? at + " click 1"
                : at + " mousedown 1 mousemove --window " + window_ + " 1 1 mouseup 1");
        return "";
      }
    }
    return "unknown step";
  }

 private:
  bool Await(const std::string& name) {
    window_ = Shell(env_ + "timeout 20 xdotool search --sync --onlyvisible --name '" + name +
                    "' 2>/dev/null | tail -1");
    if (window_.empty()) return false;
    Shell(env_ + "timeout 5 xdotool windowfocus --sync " + window_ + " 2>/dev/null");
    Settle();
    return true;
  }
  void Xdo(const std::string& args) {
    Shell(env_ + "xdotool " + args + " 2>/dev/null");
    Settle();
  }
  // Lets the window act on what it got before the next step looks at the screen.
  static void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(400)); }

  std::string env_, page_, window_;
};

class WindowScenarioOnX : public WizardTest, public ::testing::WithParamInterface<WindowScenario> {};

TEST_P(WindowScenarioOnX, GivesTheIntendedResultAndBlock) {
  const WindowScenario& row = GetParam();
  if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) KORVEL_SKIP_MISSING("Xvfb or xdotool");
  XServer x;
  ASSERT_NE(x.display(), "") << "Xvfb did not start";
  ASSERT_TRUE(x.TakesClients()) << "the display " << x.display() << " takes no clients";
  // The host's block after a save: the row's modules and nothing else.
  for (TDevInfo& d : host.Devices) d.DevType = 2;
  for (const HostModule& m : row.modules) PutDevice(host, m.entry, m.id, m.type);
  host.DebugLog = row.debug_log ? 1 : 0;
  const PDB edited = host;
  CopyPDB(edited, host);
  const std::string file = tmp_ + "/host.pdb";
  ASSERT_TRUE(plat::write_file(file, std::string(reinterpret_cast<const char*>(&host), sizeof host)));
  ASSERT_TRUE(plat::create_directories(tmp_ + "/Debug"));

  HostProcess hostProcess(x.display(), tmp_, file);
  XUser user(x.display());
  std::string failed;
  for (size_t i = 0; i < row.steps.size() && failed.empty(); ++i) {
    failed = user.Do(row.steps[i]);
    if (!failed.empty()) failed = "step " + std::to_string(i + 1) + ": " + failed;
  }
  EXPECT_EQ(failed, "");
  EXPECT_EQ(hostProcess.Result(), std::to_string(row.result))
      << "DLLEdDev's result (\"\": the wizard never ended)";

  std::string after;
  ASSERT_TRUE(plat::read_file(file, after));
  ASSERT_EQ(after.size(), sizeof(PDB));
  PDB back{};
  std::memcpy(&back, after.data(), sizeof back);
  std::vector<HostModule> modules;
  for (int i = 0; i < kMaxDevices; ++i)
    if (back.Devices[i].DevType != 2) modules.push_back({i, back.Devices[i].DevID, back.Devices[i].DevType});
  EXPECT_EQ(modules, row.after);
  if (row.untouched) {
    EXPECT_EQ(std::memcmp(&back, &host, sizeof(PDB)), 0) << "the host's block changed";
  }
  if (row.log_lacks) {
    std::string log;
    ASSERT_TRUE(plat::read_file(tmp_ + "/Debug/KorvelPLNK.Log", log)) << "the log was not saved";
    EXPECT_EQ(log.find(row.log_lacks), std::string::npos) << log;
  }
}

std::string ScenarioName(const ::testing::TestParamInfo<WindowScenario>& row) {
  return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(Qt, WindowScenarioOnX, ::testing::ValuesIn(WindowScenarios()), ScenarioName);

}  // namespace
}  // namespace korvel::test
#endif
