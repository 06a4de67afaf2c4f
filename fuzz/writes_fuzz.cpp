// OnDataWrite over any records a host may pass, on a running instance whose line is a
// pseudo-terminal that nobody answers. Input: TTagValue records (28 bytes each, at most 64); the
// bytes after the last whole record are the text that string records point to.
//
// Checked on every input: the result is 0 or 1, the poll that follows reports at most one record
// per tag and hands out strings the host can free; nothing crashes, hangs or leaks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/env.h"
#include "platform/pty.h"

namespace {

using korvel::TTagInfo;
using korvel::TTagValue;

void require(bool ok) {
  if (!ok) __builtin_trap();
}

struct TagSpec {
  const char* addr;
  uint8_t type;
};
// Every kind of tag a write can meet: module values of each kind, the driver's own switches and
// status texts, a string tag, and a type code of the host's own.
const TagSpec kTags[] = {{"PV1:1", 0},         {"AO1:1", 0},       {"PARM1:10", 0},      {"PV_ALARM1:2", 1},
                         {"SetPassWord1:", 1}, {"ENCOMMLINK", 0},  {"ENCOMMLINK", 1},    {"ENLOG", 1},
                         {"COMMLINK", 2},      {"DEVICELINK1", 0}, {"ENDEVICELINK1", 1}, {"PV1:1", 2},
                         {"AO1:1", 7},         {"XYZ", 0}};
constexpr int kTagCount = static_cast<int>(sizeof kTags / sizeof kTags[0]);

struct Fixture {
  korvel::plat::Pty line;
  std::unique_ptr<korvel::PDB> block = std::make_unique<korvel::PDB>();
  std::vector<TTagInfo> infos = std::vector<TTagInfo>(kTagCount);
  std::vector<TTagInfo*> pointers;
  Fixture() {
    korvel::SetLogFileName("/dev/null");
    require(line.open_pair() == korvel::plat::OpenResult::Ok);
    korvel::plat::set_env("KORVELPLNK_COM1", line.path());
    std::memset(block.get(), 0, sizeof(korvel::PDB));
    FullPDB(block.get());
    block->Devices[1].DevType = 1;
    block->Devices[1].DevTypeName.set("PLNK");
    for (int i = 0; i < kTagCount; ++i) {
      std::memset(&infos[i], 0, sizeof(TTagInfo));
      infos[i].TagID = i;
      std::strcpy(infos[i].TagAddr, kTags[i].addr);
      infos[i].TagType = kTags[i].type;
      infos[i].ScanPeriod = 100;
      pointers.push_back(&infos[i]);
    }
    char* msg = nullptr;
    require(IniDriver(kTagCount, pointers.data(), block.get(), &msg) == 1);
    std::free(msg);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fx = new Fixture;  // the instance lives for the process, as a host's would
  const size_t n = size / sizeof(TTagValue) > 64 ? 64 : size / sizeof(TTagValue);
  std::vector<TTagValue> recs(n + 1);
  if (n > 0) std::memcpy(recs.data(), data, n * sizeof(TTagValue));
  const size_t used = n * sizeof(TTagValue);
  const std::string text(reinterpret_cast<const char*>(data + used), size - used);  // NUL-terminated
  for (size_t i = 0; i < n; ++i) {
    TTagValue& r = recs[i];
    // Identifiers mostly within the table (the raw value when its top bit is set).
    if (r.TagID >= 0) r.TagID %= kTagCount + 2;
    // A string record points to the host's text or is null, as the contract asks.
    if (r.DataType == 2) r.Data.str = (r.Status & 1) != 0 ? const_cast<char*>(text.c_str()) : nullptr;
  }
  char* msg = nullptr;
  const KBool result = OnDataWrite(static_cast<int32_t>(n), recs.data(), &msg);
  require(result == 0 || result == 1);
  std::free(msg);

  std::vector<TTagValue> buf(kTagCount);
  int32_t count = -1;
  require(OnDataRead(&count, buf.data(), &msg) == 1);
  std::free(msg);
  require(count >= 0 && count <= kTagCount);
  for (int32_t i = 0; i < count; ++i)
    if (buf[i].DataType == 2) std::free(buf[i].Data.str);
  fx->line.flush();  // what the driver sent is gone: the line never fills up
  return 0;
}
