// Address readers, the address check and the tag editor's normal form on any text a host can
// store. Input: one byte of switches, then the address text.
//
// Checked on every input, for the framework's decimal channel reader and the module protocol's
// hexadecimal one: readers of an address without a kind give -1; the tag record and its check
// never fail; the normal form is a fixed point (normalising it again changes nothing) and reads
// back to the same module and channel; internal-tag addresses never name a module outside 0..99.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "framework/DLLBase.h"
#include "protocol/DLLRealize.h"

namespace {

using korvel::PDB;
using korvel::TBaseDLLObject;

void require(bool ok) {
  if (!ok) __builtin_trap();
}

struct Fixture {
  PDB block{};
  std::unique_ptr<TBaseDLLObject> dec;
  std::unique_ptr<TBaseDLLObject> hex;
  Fixture() {
    // The log lines of the readers and the check go nowhere.
    korvel::SetLogFileName("/dev/null");
    korvel::FillPDBDefaults(&block);
    for (int i = 0; i < korvel::kMaxDevices; i += 3) block.Devices[i].DevType = static_cast<uint8_t>(i % 2);
    korvel::PDB named{};
    korvel::CopyPDB(block, named);
    block = named;
    dec = std::make_unique<TBaseDLLObject>(false);
    hex = std::make_unique<korvel::TDLLObject>(false);
    for (TBaseDLLObject* o : {dec.get(), hex.get()}) {
      korvel::CopyPDB(block, o->Parm);
      o->MinDevID = 3;
    }
  }
};

void check(TBaseDLLObject& obj, const PDB& block, const std::string& addr, uint8_t flags) {
  obj.Parm.TraceLog = flags & 1;
  obj.Parm.ErrorLog = (flags >> 1) & 1;
  const int32_t kind = obj.GetTagTypeIndex("", addr);
  require(kind >= -1 && kind < korvel::kTagKindCount);
  const int32_t dev = obj.GetDevAddr("", addr);
  for (uint8_t devType = 0; devType < 3; ++devType) {
    const int32_t ch = obj.GetChannelAddr("", addr, devType);
    const int32_t bit = obj.GetBitAddr("", addr, devType);
    const int32_t s3 = obj.GetThirdSeg("", addr, devType);
    const int32_t s4 = obj.GetFourSeg("", addr, devType);
    const int32_t s5 = obj.GetFiveSeg("", addr, devType);
    if (kind == -1 || devType == 2) require(ch == -1 && bit == -1 && s3 == -1 && s4 == -1 && s5 == -1);
  }
  if (kind == -1) require(dev == -1);

  // The whole tag record and its address check.
  korvel::TTagInfo info;
  std::memset(&info, 0, sizeof info);
  std::memcpy(info.TagAddr, addr.data(),
              addr.size() < sizeof info.TagAddr ? addr.size() : sizeof info.TagAddr);
  info.TagType = flags % 3;
  std::unique_ptr<korvel::TDLLTag> tag(obj.CreatInternalTag(info));
  require(tag != nullptr);
  obj.CheckAddrValid(tag.get());
  require(tag->AddrValid == 0 || (tag->AddrType != -1 && tag->DevType != 2));

  // The normal form is a fixed point that reads back to the same module and channel.
  std::string once = addr;
  const bool valid = obj.CheckTagAddr(&block, once);
  require(valid == (kind != -1));
  std::string twice = once;
  require(obj.CheckTagAddr(&block, twice) == valid);
  require(twice == once);
  if (once != addr) {
    const int32_t module = obj.GetDevAddr("", once);
    require(module == dev);
    const uint8_t devType = module >= 0 && module < korvel::kMaxDevices ? block.Devices[module].DevType : 2;
    require(obj.GetChannelAddr("", once, devType) == obj.GetChannelAddr("", addr, devType));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* fx = new Fixture;  // lives for the process, as the driver's instances may
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const std::string addr(reinterpret_cast<const char*>(data + 1), size - 1 > 200 ? 200 : size - 1);
  check(*fx->dec, fx->block, addr, flags);
  check(*fx->hex, fx->block, addr, flags);

  // Now and then a whole table, so that internal-tag addresses are parsed too.
  if ((flags & 0xC0) == 0xC0) {
    korvel::TTagInfo info;
    std::memset(&info, 0, sizeof info);
    std::memcpy(info.TagAddr, addr.data(),
                addr.size() < sizeof info.TagAddr ? addr.size() : sizeof info.TagAddr);
    info.TagType = flags % 3;
    std::vector<const korvel::TTagInfo*> list{&info};
    TBaseDLLObject table(false);
    table.Parm = fx->block;
    table.ParmReady = true;
    table.IniDLLObj(&fx->block, list);
    for (const auto& t : table.TagList)
      if (t->IsInternal && t->Address != -1) require(t->Address >= 0 && t->Address < korvel::kMaxDevices);
  }
  return 0;
}
