// Keys that automation and remote-desktop tools send (xdotool on a virtual X server), reaching the
// wizard of a host process through Qt's X11 platform.
#include <gtest/gtest.h>

#if defined(KORVEL_ED_HOST) && defined(KORVEL_QT_BACKEND_FILE)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "tests/wizard/wizard_fixture.h"
#include "wizard/DLLStep11.h"
#include "wizard/WizardPage.h"

namespace korvel::test {
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

 private:
  pid_t pid_ = -1;
  std::string display_;
};

class KeysOnX : public WizardTest {};

// The picture: a host block with modules 7 and 12, one Return key sent to the start page's
// window, then one to the second page. Each moves exactly one page; the wizard is then cancelled and
// the host's block comes back untouched.
TEST_F(KeysOnX, OneReturnKeyFromAnAutomationToolMovesOnePage) {
  if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
  XServer x;
  ASSERT_NE(x.display(), "") << "Xvfb did not start";
  // The display is usable once a client gets its geometry.
  std::string geometry;
  for (int i = 0; i < 50 && geometry.empty(); ++i) {
    geometry = Shell("DISPLAY=" + x.display() + " xdotool getdisplaygeometry 2>/dev/null");
    if (geometry.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_NE(geometry, "") << "the display " << x.display() << " takes no clients";
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

}  // namespace
}  // namespace korvel::test
#endif
