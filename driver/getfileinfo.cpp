#include "driver/getfileinfo.h"

#include <deque>
#include <mutex>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/version.h"

namespace korvel {
namespace {

struct KeyDefault {
  int index;
  const char* key;
  const char* def;  // UTF-8; null = keep what the entry had
};

const KeyDefault kKeys[] = {
    {0, "CompanyName", nullptr},         {1, "FileDescription", nullptr},
    {2, "FileVersion", nullptr},         {3, "InternalName", nullptr},
    {4, "LegalCopyright", nullptr},      {5, "LegalTrademarks", nullptr},
    {6, "OriginalFileName", nullptr},    {7, "ProductName", nullptr},
    {8, "ProductVersion", nullptr},      {9, "SpecialBuild", nullptr},
    {10, "PrivateBuild", nullptr},       {11, "Comments", nullptr},
    {15, "DeviceName", "无名设备"},      {17, "DevTypeName", "其他设备"},
    {18, "DevIDName", "设备号"},         {19, "ChName", "通道"},
    {20, "ChIDName", "通道号"},          {21, "SlotName", "槽"},
    {22, "slotIDName", "槽号"},          {23, "BitName", "位"},
    {24, "BitIDName", "位号"},           {25, "ThirdSegName", "第三段"},
    {26, "ThirdSegIDName", "第三段"},    {27, "FourSegName", "第四段地址"},
    {28, "FourSegIDName", "第四段地址"}, {29, "FiveSegName", "第五段"},
    {30, "FiveSegIDName", "第五段地址"},
};

// Version keys are looked up without regard to case, as the resource API does.
const std::string* find_key(const plat::FileVersion& v, const char* key) {
  for (const auto& [k, value] : v.strings)
    if (plat::iequals(k, key)) return &value;
  return nullptr;
}

struct Records {
  TfileInfo vocabulary, host;
  TBranding branding;
};

// Function statics: the library's load hook reads the records before this unit's globals exist.
std::mutex& records_mutex() {
  static std::mutex m;
  return m;
}
Records* g_records = nullptr;  // constant-initialised

Records* read_records() {
  // Every record read stays alive for the process: instances read them without locks, and
  // references handed out before a reload stay valid.
  static std::deque<Records> all;
  all.emplace_back();
  Records* r = &all.back();
  ReadFileInfo("Tavlin.exe", r->host);
  ReadFileInfo("KorvelPLNK.dll", r->vocabulary);
  plat::ProductBranding b;
  if (plat::product_branding(b)) r->branding = {true, b.product_text, b.second_text};
  return r;
}

Records& records() {
  std::lock_guard<std::mutex> lock(records_mutex());
  if (g_records == nullptr) g_records = read_records();
  return *g_records;
}

}  // namespace

std::string HostDirectory() {
  const char sep = plat::path_separator();
  std::string dir = plat::trim(plat::native_path(plat::host_install_path()));
  if (!dir.empty() && dir.back() != sep && !plat::directory_exists(dir)) {
    // The value names a file (the host program): keep its directory part.
    const size_t cut = dir.find_last_of(sep);
    dir = cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
  }
  dir = plat::trim(dir);
  if (!dir.empty() && dir.back() != sep) dir += sep;
  if (dir.empty() || !plat::file_exists(dir + "Sentrel.ini")) dir = std::string("..") + sep;
  return dir;
}

bool ReadFileInfo(const std::string& fileName, TfileInfo& rec) {
  rec[fiHostDir] = HostDirectory();
  plat::FileVersion v;
  if (!plat::file_version_info(fileName, v)) return false;
  rec[fiNumericVersion] = std::to_string(v.number[0]) + "." + std::to_string(v.number[1]) + "." +
                          std::to_string(v.number[2]) + "." + std::to_string(v.number[3]);
  for (const KeyDefault& k : kKeys) {
    if (const std::string* value = find_key(v, k.key))
      rec[k.index] = *value;
    else if (k.def != nullptr)
      rec[k.index] = plat::utf8_to_gbk(k.def);
  }
  return true;
}

const TfileInfo& Vocabulary() {
  return records().vocabulary;
}
const TfileInfo& HostInfo() {
  return records().host;
}
const TBranding& Branding() {
  return records().branding;
}

void ReloadVocabulary() {
  std::lock_guard<std::mutex> lock(records_mutex());
  g_records = read_records();
}

}  // namespace korvel
