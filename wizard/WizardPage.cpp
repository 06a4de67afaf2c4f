#include "wizard/WizardPage.h"

#include <cctype>
#include <climits>

#include "driver/getfileinfo.h"
#include "platform/text.h"
#include "ui/Backend.h"

namespace korvel::wizard {

const std::string& DeviceName() {
  return Vocabulary()[fiDeviceName];
}
const std::string& DevWord() {
  return Vocabulary()[fiDevTypeName];
}
const std::string& DevIDName() {
  return Vocabulary()[fiDevIDName];
}
std::string TitleLine() {
  return GBK("欢迎使用") + DeviceName() + GBK("配置向导");
}
const std::string& ProductName() {
  return Branding().productText;
}

int32_t ReadInt(const std::string& text, int32_t dflt) {
  size_t i = 0, end = text.size();
  while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == end) return dflt;
  int64_t v = 0;
  for (; i < end; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return dflt;
    if (v <= INT32_MAX) v = v * 10 + (text[i] - '0');
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
  return v < lo ? lo : v > hi ? hi : v;
}

std::string DeviceText(int32_t devID, const std::string& typeName, bool atMasterCpu, int slot) {
  std::string s = std::to_string(devID) + GBK("：") + typeName;
  if (atMasterCpu) s += GBK(" 槽号：") + std::to_string(slot);
  return s;
}

void DigitsOnly(char& key) {
  if (!(key >= '0' && key <= '9') && key != '\b') key = 0;
}

TWizardPage::TWizardPage(std::string className, int number) : TForm(std::move(className)), number_(number) {
  Wizard().NextPage = kPageEnd;
  SetOwnerWindow(static_cast<std::uintptr_t>(Wizard().OwnerWindow));
  Label1.SetCaption(TitleLine());
  Label1.SetBounds(16, 10, 440, 20);
  Label1.SetFont({{}, 11, true, false, ui::clDefault});
}

void TWizardPage::FramePage(const std::string& captionTail) {
  SetCaption(DeviceName() + captionTail);
  const ui::ScreenSize screen = ui::Screen();
  SetLeft((screen.Width - Width()) / 2);
  SetTop((screen.Height - Height()) / 2);
  SetStayOnTop(true);
}

void TWizardPage::PlaceButtons(ui::TButton& back, ui::TButton& forward, ui::TButton& cancel, int left,
                               int top, const std::string& forwardCaption) {
  back.SetBounds(left, top, 80, 28);
  forward.SetBounds(left + 92, top, 80, 28);
  cancel.SetBounds(left + 184, top, 80, 28);
  forward.SetDefault(true);
  back.SetCaption(GBK("上一步"));
  forward.SetCaption(forwardCaption);
  cancel.SetCaption(GBK("取消"));
}

void TWizardPage::GoNext(int historyAs, int next) {
  Wizard().History.push_back(historyAs);
  Wizard().NextPage = next;
  Close();
}

void TWizardPage::GoBack() {
  auto& history = Wizard().History;
  // An empty history (a page opened out of turn) leads back to the start.
  int back = kPageStart;
  if (!history.empty()) {
    back = history.back();
    history.pop_back();
  }
  Wizard().NextPage = back;
  Close();
}

void TWizardPage::CancelWizard() {
  Wizard().NextPage = kPageEnd;
  Wizard().Changed = false;
  Close();
}

}  // namespace korvel::wizard
