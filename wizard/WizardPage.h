// What every wizard page shares: the vocabulary words, number reading, the page frame (title line,
// caption, centring) and the moves of the page chain (Next, Back, Cancel, Finish).
#pragma once
#include <cstdint>
#include <string>

#include "driver/DLLTools.h"
#include "driver/PDB.h"
#include "ui/Controls.h"

namespace korvel::wizard {

// Page numbers of the chain; 0 and 9 end it.
enum : int {
  kPageEnd = 9,
  kPageStart = 1,
  kPageStep1 = 2,
  kPageStep2 = 3,
  kPageStep11 = 4,
  kPageStep12 = 5,
  kPageStep4 = 6,
  kPageStep5 = 7,
  kPageFinish = 8
};

// Words of the naming vocabulary (GBK).
const std::string& DeviceName();  // the driver's device name
const std::string& DevWord();     // the word for one device
const std::string& DevIDName();   // the word for the station number
// "欢迎使用" + DeviceName + "配置向导", the title line of every page.
std::string TitleLine();
// The host product name when the library carries branding, else "".
const std::string& ProductName();

// Reads an integer as the numeric edits do: blanks around it are ignored, an optional sign, then
// decimal digits. Values beyond the int32 range saturate (a long row of digits is a big number, not
// garbage); anything else gives dflt.
int32_t ReadInt(const std::string& text, int32_t dflt);
int32_t Clamp(int32_t v, int32_t lo, int32_t hi);

// A device's line in the device trees: DevID + "：" + type name [+ " 槽号：" + Slot].
std::string DeviceText(int32_t devID, const std::string& typeName, bool atMasterCpu, int slot);

// Key filter of the numeric edits: digits and backspace only.
void DigitsOnly(char& key);

class TWizardPage : public ui::TForm {
 public:
  int Number() const { return number_; }

 protected:
  // Every page, on creation, points the chain at its end (so the close box ends the wizard) and
  // writes its title line.
  TWizardPage(std::string className, int number);
  // Caption DeviceName + tail, centred on the screen, on top of other windows.
  void FramePage(const std::string& captionTail);
  // The row of step buttons every page ends with: back, forward (the default button, captioned
  // forwardCaption) and cancel, 80 x 28 each, 12 apart, the first at (left, top).
  static void PlaceButtons(ui::TButton& back, ui::TButton& forward, ui::TButton& cancel, int left, int top,
                           const std::string& forwardCaption);
  // Records historyAs and moves on to next.
  void GoNext(int historyAs, int next);
  void GoBack();
  void CancelWizard();  // next page 9, changed flag cleared
  PDB& Work() { return Wizard().Work; }
  void SetChanged() { Wizard().Changed = true; }

 public:
  ui::TLabel& Label1 = Add<ui::TLabel>("Label1");

 private:
  int number_;
};

}  // namespace korvel::wizard
