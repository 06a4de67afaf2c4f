// A C++ host built from the Windows zip alone (KorvelPLNK.h, records.h, PDB.h, KorvelPLNK.lib):
// the records are complete types, the block's layout is the library's, and the exports link and
// answer. Exit status 0 when everything holds; the first failure is printed.
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "KorvelPLNK.h"
#include "PDB.h"
#include "records.h"

namespace {

int failed(const char* what) {
  std::printf("FAILED: %s\n", what);
  return 1;
}

}  // namespace

int main() {
  static_assert(sizeof(TTagValue) == 28 && sizeof(TTagInfo) == 136 && sizeof(TTagAddrInfo) == 536);
  if (GetPDBLen() != static_cast<int32_t>(sizeof(korvel::PDB))) return failed("GetPDBLen");

  korvel::PDB block{};
  if (FullPDB(&block) != &block) return failed("FullPDB");
  block.Devices[1].DevID = 1;
  block.Devices[1].DevType = 1;
  block.Devices[1].DevTypeName.set("PLNK");

  char text[] = "pv1:1";
  char* addr = text;
  char* msg = nullptr;
  if (TagEdAddr(&block, &addr, 0, &msg) != 1 || addr == nullptr || std::strcmp(addr, "PV1:1") != 0)
    return failed("TagEdAddr normalises pv1:1");
  CoTaskMemFree(addr);
  CoTaskMemFree(msg);

  TTagAddrInfo kinds[7];
  int32_t count = 7;
  GetTagAddrList(0, &count, kinds);
  if (kinds[0].Prefix[0] != 2 || std::memcmp(kinds[0].Prefix + 1, "PV", 2) != 0)
    return failed("GetTagAddrList");

  // Without an instance on this thread a poll reports nothing.
  TTagValue values[1];
  int32_t n = -1;
  OnDataRead(&n, values, &msg);
  if (n != 0 || msg == nullptr) return failed("OnDataRead without an instance");
  CoTaskMemFree(msg);
  std::printf("the zip's C++ host: records, block and exports work\n");
  return 0;
}
