// The naming vocabulary: the words with which the driver names devices and address parts,
// read once per process from the library's version information, and the host's paths.
#pragma once
#include <string>

namespace korvel {

enum TfileInfoIndex : int {
  fiCompanyName = 0,
  fiFileDescription = 1,
  fiFileVersion = 2,
  fiInternalName = 3,
  fiLegalCopyright = 4,
  fiLegalTrademarks = 5,
  fiOriginalFileName = 6,
  fiProductName = 7,
  fiProductVersion = 8,
  fiSpecialBuild = 9,
  fiPrivateBuild = 10,
  fiComments = 11,
  fiNumericVersion = 12,
  fiDeviceName = 15,
  fiDevTypeName = 17,
  fiDevIDName = 18,
  fiChName = 19,
  fiChIDName = 20,
  fiSlotName = 21,
  fiSlotIDName = 22,
  fiBitName = 23,
  fiBitIDName = 24,
  fiThirdSegName = 25,
  fiThirdSegIDName = 26,
  fiFourSegName = 27,
  fiFourSegIDName = 28,
  fiFiveSegName = 29,
  fiFiveSegIDName = 30,
  fiHostDir = 31,
};

// 32 GBK strings indexed by TfileInfoIndex.
struct TfileInfo {
  std::string item[32];
  const std::string& operator[](int i) const { return item[i]; }
  std::string& operator[](int i) { return item[i]; }
};

// Fills rec from the version information of a file. Index 31 always receives the host
// directory; false (other entries untouched) when the file has no version information.
bool ReadFileInfo(const std::string& fileName, TfileInfo& rec);

// The host's directory with a trailing separator: the directory of the host's "PATH" setting
// when it holds "Sentrel.ini", else "..\" (written with this platform's separator).
std::string HostDirectory();

// The process-wide records, read on first use (the library touches them at load).
const TfileInfo& Vocabulary();  // this library's words
const TfileInfo& HostInfo();    // the host program "Tavlin.exe"

// The branding record for pages that show the host's product name, looked up in the library's
// resources; this library carries no "PRODUCT" bitmap, so it stays empty.
struct TBranding {
  bool hasBitmap = false;
  std::string productText;
  std::string secondText;
};
const TBranding& Branding();

// Forces the records to be read again (tests change the environment between cases).
void ReloadVocabulary();

}  // namespace korvel
