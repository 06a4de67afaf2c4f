// Boundary records, parameter block defaults, block check and copy, GBK literals.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "platform/text.h"

using namespace korvel;

namespace {

std::string hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    if (!out.empty()) out += ' ';
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

uint16_t word_at(const PDB& b, size_t offset) {
  uint16_t v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&b) + offset, 2);
  return v;
}

std::unique_ptr<PDB> zero_block() {
  auto b = std::make_unique<PDB>();
  std::memset(b.get(), 0, sizeof(PDB));
  return b;
}

}  // namespace

TEST(Records, SizesMatchTheHostLayout) {
  EXPECT_EQ(sizeof(TTagInfo), 136u);
  EXPECT_EQ(sizeof(TTagValue), 28u);
  EXPECT_EQ(sizeof(TTagAddrInfo), 536u);
  EXPECT_EQ(sizeof(PDB), 26508u);
  EXPECT_EQ(GetPDBLen(), 26508);
  // The value of a TTagValue is packed straight after the type byte's padding.
  EXPECT_EQ(offsetof(TTagValue, Data), 20u);
  EXPECT_EQ(offsetof(TTagInfo, Value), 120u);
}

TEST(Block, DefaultsOfAZeroBlockAtTheStoredOffsets) {
  auto b = zero_block();
  EXPECT_EQ(FullPDB(b.get()), b.get());
  const auto* raw = reinterpret_cast<const uint8_t*>(b.get());
  EXPECT_EQ(raw[0], 0);
  EXPECT_EQ(raw[1], 0);
  EXPECT_EQ(raw[2], 0);
  EXPECT_EQ(word_at(*b, 4), 100);  // TimeOut
  EXPECT_EQ(word_at(*b, 6), 0);
  EXPECT_EQ(raw[8], 2);  // WriteCount
  EXPECT_EQ(raw[9], 0);
  EXPECT_EQ(raw[26416], 0);  // COM1
  EXPECT_EQ(raw[26417], 6);  // 9600
  EXPECT_EQ(raw[26418], 4);  // 8 data bits
  EXPECT_EQ(raw[26419], 0);
  EXPECT_EQ(raw[26420], 0);
  for (int i = 0; i < kMaxDevices; ++i) {
    const size_t e = 16 + 264 * static_cast<size_t>(i);
    int32_t id;
    std::memcpy(&id, raw + e, 4);
    EXPECT_EQ(id, i);
    EXPECT_EQ(raw[e + 4], i == 0 ? 1 : 2) << "entry " << i;
    EXPECT_EQ(raw[e + 5], 0) << "type name is not written";
    EXPECT_EQ(word_at(*b, e + 254), 80);
    EXPECT_EQ(word_at(*b, e + 256), 32);
    EXPECT_EQ(word_at(*b, e + 258), 8);
    EXPECT_EQ(word_at(*b, e + 260), 49);
  }
  EXPECT_EQ(raw[26421], 0) << "phone number not written";
  EXPECT_EQ(FullPDB(nullptr), nullptr);
}

TEST(Block, CheckVoidsMismatchedNamesOnly) {
  auto b = zero_block();
  FullPDB(b.get());
  // Entry 0 has type 1 but no name yet: the first check voids it.
  EXPECT_TRUE(CheckPDB(b.get()));
  EXPECT_EQ(b->Devices[0].DevType, 2);

  b->Devices[7].DevType = 1;
  b->Devices[7].DevTypeName.set("PLNK");
  EXPECT_FALSE(CheckPDB(b.get()));
  EXPECT_EQ(b->Devices[7].DevType, 1);

  b->Devices[7].DevTypeName.set("PLNE");
  EXPECT_TRUE(CheckPDB(b.get()));
  EXPECT_EQ(b->Devices[7].DevType, 2);
  EXPECT_EQ(b->Devices[7].DevTypeName.len, 0);

  // Type 2 entries are never touched, whatever their name; unknown types are voided.
  b->Devices[8].DevTypeName.set("junk");
  b->Devices[9].DevType = 77;
  b->Devices[9].DevTypeName.set("PLNK");
  EXPECT_TRUE(CheckPDB(b.get()));
  EXPECT_EQ(b->Devices[8].DevTypeName.str(), "junk");
  EXPECT_EQ(b->Devices[9].DevType, 2);
  // A length byte beyond the field's capacity cannot match.
  b->Devices[10].DevType = 0;
  b->Devices[10].DevTypeName.len = 255;
  EXPECT_TRUE(CheckPDB(b.get()));
  EXPECT_EQ(b->Devices[10].DevType, 2);
  EXPECT_FALSE(CheckPDB(nullptr));
}

TEST(Block, CopyRewritesNamesAndLeavesMasterUnitFields) {
  auto src = zero_block();
  auto dst = zero_block();
  FullPDB(src.get());
  src->Devices[3].DevType = 0;  // empty name
  src->Devices[3].AtMasterCpu = 1;
  src->Devices[3].Slot = 4;
  src->Devices[3].Reserved54[10] = 0x5A;
  src->TimeOut = 1234;
  src->BaudRate = 12;
  src->PhoneNum.set("12345");
  src->ModemInit.set("ATZ");
  src->PhoneNum.len = 200;  // damaged length: clamped to the capacity
  CopyPDB(*src, *dst);
  EXPECT_EQ(dst->Devices[3].DevTypeName.str(), "PLNE");
  EXPECT_EQ(dst->Devices[5].DevTypeName.str(), GBK("无效"));
  EXPECT_EQ(dst->Devices[5].DevTypeName.len, 4);
  EXPECT_EQ(dst->Devices[3].AtMasterCpu, 0);
  EXPECT_EQ(dst->Devices[3].Slot, 0);
  EXPECT_EQ(dst->Devices[3].Reserved54[10], 0x5A);
  EXPECT_EQ(dst->TimeOut, 1234);
  EXPECT_EQ(dst->BaudRate, 12);
  EXPECT_EQ(dst->PhoneNum.len, 32);
  EXPECT_EQ(dst->ModemInit.str(), "ATZ");
  // After a copy the names match their types, so the check leaves the copy alone.
  EXPECT_FALSE(CheckPDB(dst.get()));
  EXPECT_EQ(dst->Devices[0].DevType, 1);
}

TEST(Block, TypeTables) {
  EXPECT_EQ(DevTypeNameOf(0), "PLNE");
  EXPECT_EQ(DevTypeNameOf(1), "PLNK");
  EXPECT_EQ(DevTypeNameOf(3), "");
  EXPECT_EQ(DevTypeFromListIndex(0), 0);
  EXPECT_EQ(DevTypeFromListIndex(1), 1);
  EXPECT_EQ(DevTypeFromListIndex(-1), 2);
  EXPECT_EQ(DevTypeFromListIndex(2), 2);
}

TEST(Text, GbkBytesOfLiteralsArePinned) {
  // Expected bytes come from the GBK code table, not from our converter.
  EXPECT_EQ(hex(GBK("通讯设备初始化失败")), "cd a8 d1 b6 c9 e8 b1 b8 b3 f5 ca bc bb af ca a7 b0 dc");
  EXPECT_EQ(hex(GBK("无效")), "ce de d0 a7");
  EXPECT_EQ(hex(GBK("通道地址")), "cd a8 b5 c0 b5 d8 d6 b7");
  EXPECT_EQ(hex(GBK("：")), "a3 ba");
  EXPECT_EQ(plat::gbk_to_utf8(GBK("设备号")), "设备号");
  // Broken input never stops the conversion.
  EXPECT_EQ(plat::gbk_to_utf8(std::string("\xff", 1)).empty(), false);
  // One "?" per character GBK cannot hold, one per byte that starts no character.
  EXPECT_EQ(plat::utf8_to_gbk("a\U0001F600b"), "a?b");
  EXPECT_EQ(plat::utf8_to_gbk("\U00020000\U0001F600c"), "??c");
  EXPECT_EQ(plat::utf8_to_gbk("a\xFFz"), "a?z");
}

TEST(BadInput, BlockOfRandomBytesIsCheckedAndCopiedSafely) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    auto b = zero_block();
    auto* raw = reinterpret_cast<uint8_t*>(b.get());
    for (size_t i = 0; i < sizeof(PDB); ++i) raw[i] = static_cast<uint8_t>(rng());
    CheckPDB(b.get());
    auto c = zero_block();
    CopyPDB(*b, *c);
    for (const TDevInfo& d : b->Devices) EXPECT_TRUE(d.DevType <= 2);
    EXPECT_LE(c->PhoneNum.len, 32);
    EXPECT_LE(c->ModemInit.len, 50);
  }
}
