// What a user does with the wizard's windows by keyboard and mouse, and what the host must get back:
// one table for every window backend. Each backend's test plays the rows with real input events on
// its own display (Qt: xdotool on Xvfb; Win32: input under Wine) through a small driver that knows how
// to find a page, press keys and click a control by its component name.
//
// Plain data and the standard library only, so the Windows test host compiles it as it is.
// Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvel::test {

enum class UserAct {
  // Waits until the page of this class is the shown, active window; later steps act on it.
  Page,
  // Waits until a message box with this caption is the active window; later steps act on it.
  Message,
  // Presses and lets go of each key in turn (blank-separated X key names: Return, Escape, Tab,
  // shift+Tab, Down, Delete, space, a letter), as the keyboard delivers them to the focused control.
  Keys,
  // A left click on the named control of the current window (on its mark and text for an option).
  Click,
  // The mouse pressed on the named control, moved off it to the window's top-left corner and let go
  // there: the control takes the focus and nothing is clicked.
  Focus,
};

struct UserStep {
  UserAct act;
  const char* arg;  // page class, message caption, keys or component name
};

// A module of the host's block: table entry, station number, type (0 "PLNE", 1 "PLNK").
struct HostModule {
  int entry;
  int32_t id;
  uint8_t type;
  bool operator==(const HostModule&) const = default;
};

struct WindowScenario {
  const char* name;  // a test name: letters and digits
  std::vector<HostModule> modules;
  bool debug_log;  // the block's debug switch when the wizard starts
  std::vector<UserStep> steps;
  int result;                       // what DLLEdDev returns
  std::vector<HostModule> after;    // the modules of the host's block afterwards
  bool untouched;                   // the host's block is byte for byte what it was
  const char* log_lacks = nullptr;  // text the log file must not hold afterwards (when set)
};

// The caption tail (after the device name) by which a page class is found on the screen.
inline const char* PageCaptionTail(const std::string& page) {
  struct Row {
    const char* page;
    const char* tail;
  };
  static const Row kRows[] = {
      {"TStartFrm", "向导：选择执行的操作方式"},
      {"TStep1Frm", "向导：选择创建设备的方式"},
      {"TStep11Frm", "向导：创建单个"},
      {"TStep2Frm", "向导：创建多个"},
      {"TStep12Frm", "向导：创建多个"},
      {"TStep4Frm", "向导：修改计算机串行口通讯参数"},
      {"TStep5Frm", "向导：其它高级参数及Modem参数设置"},
      {"TEndFrm", "向导：向导退出前的确认"},
      {"TDebugFrm", "向导：设置调试选项"},
  };
  for (const Row& r : kRows)
    if (page == r.page) return r.tail;
  return nullptr;
}

// Every fault of the keyboard path gets a row; a row fails when the fault is back.
inline const std::vector<WindowScenario>& WindowScenarios() {
  using A = UserAct;
  using Steps = std::vector<UserStep>;
  const std::vector<HostModule> two = {{3, 3, 1}, {9, 9, 1}};
  const auto then = [](Steps a, const Steps& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  // The ways to the pages, with the mouse: New and a single module; on to the summary; Modify to the
  // device list; from the list to Finish; the debug window.
  const Steps toSingle = {{A::Page, "TStartFrm"},
                          {A::Click, "NextBtn"},
                          {A::Page, "TStep1Frm"},
                          {A::Click, "NextBtn"},
                          {A::Page, "TStep11Frm"}};
  const Steps toSummary = then(
      toSingle, {{A::Click, "NextBtn"}, {A::Page, "TStep4Frm"}, {A::Click, "NextBtn"}, {A::Page, "TEndFrm"}});
  const Steps toList = {
      {A::Page, "TStartFrm"}, {A::Click, "ModifyOp"}, {A::Click, "NextBtn"}, {A::Page, "TStep2Frm"}};
  const Steps listToFinish = {{A::Click, "NextBtn"},
                              {A::Page, "TStep4Frm"},
                              {A::Click, "NextBtn"},
                              {A::Page, "TEndFrm"},
                              {A::Click, "FinishBtn"}};
  const Steps toDebug = {{A::Page, "TStartFrm"}, {A::Click, "DebugBtn"}, {A::Page, "TDebugFrm"}};
  const Steps escapeTheStart = {{A::Page, "TStartFrm"}, {A::Keys, "Escape"}};
  static const std::vector<WindowScenario> rows = {
      // Return acts on the focused button; with no button focused, on the default one.
      {"ReturnOnTheFocusedCancelOfTheSummaryCancels", two, false,
       then(toSummary, {{A::Focus, "CancelBtn"}, {A::Keys, "Return"}}), 2, two, true},
      {"ReturnOnTheFocusedCancelOfTheStartPageEnds",
       two,
       false,
       {{A::Page, "TStartFrm"}, {A::Focus, "CancelBtn"}, {A::Keys, "Return"}},
       2,
       two,
       true},
      {"ReturnWithTheFocusOffTheButtonsFinishes",
       two,
       false,
       then(toSummary, {{A::Focus, "DeviceTree"}, {A::Keys, "Return"}}),
       1,
       {{0, 0, 0}},
       false},
      // Escape is the close box on every window, in a memo inside a group box too. Closing a page
      // keeps the changed flag that New set, and writes nothing.
      {"EscapeOnTheStartPageEnds", two, false, escapeTheStart, 2, two, true},
      {"EscapeInAMemoInAGroupBoxEndsThePage", two, false,
       then(toSingle, {{A::Focus, "Memo2"}, {A::Keys, "Escape"}}), 1, two, true},
      {"EscapeClosesTheDebugWindowThenTheStartPage", two, false,
       then(then(toDebug, {{A::Keys, "Escape"}}), escapeTheStart), 2, two, true},
      // Tab leaves memos: a read-only one for the page's buttons, the log without a tab in its text.
      {"TabLeavesAReadOnlyMemoForTheButtons", two, false,
       then(
           toSingle,
           {{A::Focus, "TagTypeMemo"}, {A::Keys, "Tab Return"}, {A::Page, "TStep1Frm"}, {A::Keys, "Escape"}}),
       1, two, true},
      {"TabLeavesTheLogMemoAndSavesNoTab", two, true,
       then(then(toDebug, {{A::Focus, "LogMemo"},
                           {A::Keys, "Tab Tab"},
                           {A::Click, "SpeedButton1"},
                           {A::Keys, "Escape"}}),
            escapeTheStart),
       2, two, true, "\t"},
      // The device list acts only on the node it shows selected. Next stores the list from entry 0
      // on; the serial page's settings count as a change.
      {"DeleteWithNoVisibleSelectionDeletesNothing",
       two,
       false,
       then(then(toList, {{A::Click, "DelBtn"}}), listToFinish),
       1,
       {{0, 3, 1}, {1, 9, 1}},
       false},
      {"ModifyWithNoVisibleSelectionAsksForOne", two, false,
       then(toList, {{A::Click, "ModiBtn"},
                     {A::Message, "提示"},
                     {A::Keys, "Return"},
                     {A::Page, "TStep2Frm"},
                     {A::Click, "CancelBtn"}}),
       2, two, true},
      {"TheFirstArrowKeySelectsTheFirstModuleForDelete",
       two,
       false,
       then(then(toList, {{A::Focus, "DeviceTree"}, {A::Keys, "Down Delete"}}), listToFinish),
       1,
       {{0, 9, 1}},
       false},
  };
  return rows;
}

}  // namespace korvel::test
