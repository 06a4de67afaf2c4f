// IniDriver over any tag records and parameter block a host may store. Input: one byte with the
// number of tag records (0..15), the TTagInfo records (136 bytes each), then bytes laid over the
// start of a default block (switches, time-out, the module table). The line is a pseudo-terminal
// that nobody answers; the block's port is kept on it so that no start waits for a missing device.
//
// Checked on every input: IniDriver answers 0 or 1, polls after it report at most one record per
// accepted tag, FreeDriver ends the run; nothing crashes, hangs or leaks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
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

// String initial values are pointers the host owns: they point to real texts here.
char g_text[] = "initial";
char16_t g_wide[] = u"初值";

struct Fixture {
  korvel::plat::Pty line;
  Fixture() {
    korvel::SetLogFileName("/dev/null");
    require(line.open_pair() == korvel::plat::OpenResult::Ok);
    korvel::plat::set_env("KORVELPLNK_COM1", line.path());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fx = new Fixture;
  if (size == 0) return 0;
  size_t tagCount = data[0] & 0x0F;
  size_t pos = 1;
  if (tagCount * sizeof(TTagInfo) > size - pos) tagCount = (size - pos) / sizeof(TTagInfo);
  std::vector<TTagInfo> infos(tagCount + 1);
  std::vector<TTagInfo*> pointers;
  for (size_t i = 0; i < tagCount; ++i, pos += sizeof(TTagInfo)) {
    std::memcpy(&infos[i], data + pos, sizeof(TTagInfo));
    korvel::OleVariant& v = infos[i].Value;
    if (v.vt == korvel::VT_LPSTR) v.pszVal = g_text;
    if (v.vt == korvel::VT_BSTR) v.pszVal = reinterpret_cast<const char*>(g_wide);
    pointers.push_back((data[0] & 0x10) != 0 && i == 0 ? nullptr : &infos[i]);  // now and then a null entry
  }
  auto block = std::make_unique<korvel::PDB>();
  std::memset(block.get(), 0, sizeof(korvel::PDB));
  FullPDB(block.get());
  for (int m = 0; m < 10; ++m) {
    block->Devices[m].DevType = static_cast<uint8_t>(m % 2);
    block->Devices[m].DevTypeName.set(m % 2 ? "PLNK" : "PLNE");
  }
  const size_t overlay = size - pos < sizeof(korvel::PDB) ? size - pos : sizeof(korvel::PDB);
  std::memcpy(block.get(), data + pos, overlay);
  block->ComPort = 0;  // the test line

  char* msg = nullptr;
  const KBool started = IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), block.get(), &msg);
  require(started == 0 || started == 1);
  std::free(msg);
  std::vector<TTagValue> buf(tagCount + 1);
  for (int poll = 0; poll < 2; ++poll) {
    int32_t count = -1;
    require(OnDataRead(&count, buf.data(), &msg) == 1);
    std::free(msg);
    require(count >= 0 && static_cast<size_t>(count) <= tagCount);
    for (int32_t i = 0; i < count; ++i)
      if (buf[i].DataType == 2) std::free(buf[i].Data.str);
  }
  require(FreeDriver() == 1);
  fx->line.flush();
  return 0;
}
