// Tag addresses: kinds, module numbers, channels and further segments with their defaults,
// the address check with its messages, the tag editor's normal form, and wild input.
#include <cstdio>
#include <cstdlib>

#include "exports/KorvelPLNK.h"
#include "protocol/DLLRealize.h"
#include "script_object.h"

namespace korvel::test {
namespace {

// Reads the channel as hexadecimal, as the module protocol does ("1" when not a number).
class HexObject : public ScriptObject {
 public:
  int32_t GetChannelAddr(const std::string& name, const std::string& addr, uint8_t devType) override {
    const int32_t dec = TBaseDLLObject::GetChannelAddr(name, addr, devType);
    if (devType == 2 || GetTagTypeIndex(name, addr) < 0) return -1;
    std::string rest = addr.substr(addr.find(':') == std::string::npos ? addr.size() : addr.find(':') + 1);
    rest = rest.substr(0, rest.find('.'));
    if (rest.empty()) return dec;
    char* end = nullptr;
    const long v = std::strtol(rest.c_str(), &end, 16);
    return *end == '\0' && v >= 0 && v < 0x10000 ? static_cast<int32_t>(v) : 1;
  }
};

class Addresses : public FrameworkTest {
 protected:
  void Configure(std::initializer_list<int> modules, bool trace = false, bool error = false) {
    PDB block = MakeBlock(modules);
    block.TraceLog = trace;
    block.ErrorLog = error;
    ASSERT_TRUE(obj->IniParm(&block));
    ClearLog();
  }
  std::string Normal(TBaseDLLObject& o, const PDB& block, std::string addr, bool* valid = nullptr) {
    const bool ok = o.CheckTagAddr(&block, addr);
    if (valid != nullptr) *valid = ok;
    return addr;
  }
};

TEST_F(Addresses, KindIsTheLongestMatchingPrefixWithoutRegardToCase) {
  EXPECT_EQ(obj->GetTagTypeIndex("", "PV_ALARM3:1.0"), 1);
  EXPECT_EQ(obj->GetTagTypeIndex("", "pv_alarm1"), 1);
  EXPECT_EQ(obj->GetTagTypeIndex("", "PV5:1"), 0);
  EXPECT_EQ(obj->GetTagTypeIndex("", "parm5:20"), 2);
  EXPECT_EQ(obj->GetTagTypeIndex("", "Ao1:1"), 3);
  EXPECT_EQ(obj->GetTagTypeIndex("", "SETPASSWORD1"), 4);
  EXPECT_EQ(obj->GetTagTypeIndex("", "XYZ1:1"), -1);
  EXPECT_EQ(obj->GetTagTypeIndex("", "P"), -1);
  EXPECT_EQ(obj->GetTagTypeIndex("", ""), -1);
  EXPECT_EQ(obj->GetTagTypeStr("", "setpassword3"), "SETPASSWORD");
  EXPECT_EQ(obj->GetTagTypeStr("", "COMMLINK"), "");
}

TEST_F(Addresses, ModuleNumberWithBothSeparatorsAndItsDefaults) {
  Configure({3, 5}, true, true);
  EXPECT_EQ(obj->GetDevAddr("a", "PV5:1"), 5);
  EXPECT_EQ(obj->GetDevAddr("a", plat::utf8_to_gbk("pv5：1")), 5);
  EXPECT_EQ(obj->GetDevAddr("a", "XYZ5:1"), -1);
  EXPECT_EQ(ReadLog(), "");
  // No separator: the smallest configured module, with a trace line naming the default.
  EXPECT_EQ(obj->GetDevAddr("a", "PV7"), 3);
  EXPECT_NE(ReadLog().find("：标签a提示：地址=PV7中缺少设备号，系统采用缺省值3\r\n"), std::string::npos);
  ClearLog();
  EXPECT_EQ(obj->GetDevAddr("b", "PV:1"), -1);
  EXPECT_NE(ReadLog().find("：标签b错误：标签地址PV:1中设备号非法。\r\n"), std::string::npos);
}

TEST_F(Addresses, ChannelReaderTakesTheKindsDefaultAndReadsDecimal) {
  Configure({5}, true, true);
  EXPECT_EQ(obj->GetChannelAddr("a", "PV5:1", 1), 1);
  EXPECT_EQ(obj->GetChannelAddr("a", "PARM5:20.0", 1), 20);
  EXPECT_EQ(obj->GetChannelAddr("a", plat::utf8_to_gbk("PARM5：21。3"), 1), 21);
  EXPECT_EQ(obj->GetChannelAddr("a", "PARM5:22", 2), -1);  // module not configured
  EXPECT_EQ(ReadLog(), "");
  EXPECT_EQ(obj->GetChannelAddr("a", "PV5:", 1), 1);
  EXPECT_NE(ReadLog().find("提示：地址=PV5:中缺少通道地址，系统采用缺省值1\r\n"), std::string::npos);
  EXPECT_EQ(obj->GetChannelAddr("a", "PARM5:", 1), 16);
  ClearLog();
  EXPECT_EQ(obj->GetChannelAddr("a", "PARM5:1A", 1), -1);
  EXPECT_NE(ReadLog().find("错误：标签地址PARM5:1A的通道地址非法。\r\n"), std::string::npos);
  // Without separator 1 the digits after the kind are read as the channel.
  EXPECT_EQ(obj->GetChannelAddr("a", "PV5", 1), 5);
}

TEST_F(Addresses, BitAndFurtherSegments) {
  Configure({5});
  EXPECT_EQ(obj->GetBitAddr("a", "PV5:1.3", 1), -1);  // no kind of this driver has bits
  EXPECT_EQ(obj->GetThirdSeg("a", "PV5:1.0.7.8.9", 1), 7);
  EXPECT_EQ(obj->GetFourSeg("a", "PV5:1.0.7.8.9", 1), 8);
  EXPECT_EQ(obj->GetFiveSeg("a", "PV5:1.0.7.8.9", 1), 9);
  EXPECT_EQ(obj->GetFiveSeg("a", plat::utf8_to_gbk("PV5:1。0.7。8.9"), 1), 9);
  EXPECT_EQ(obj->GetThirdSeg("a", "PV5:1", 1), 0);
  EXPECT_EQ(obj->GetFourSeg("a", "PV5:1.0.7", 1), 0);
  EXPECT_EQ(obj->GetThirdSeg("a", "PV5:1.0..9", 1), 0);
  EXPECT_EQ(obj->GetThirdSeg("a", "PV5:1.0.x", 1), -1);
  EXPECT_EQ(obj->GetThirdSeg("a", "PV5:1.0.7", 2), -1);
}

// Each row: address, expected validity, a piece of the expected message (empty when valid).
struct CheckRow {
  const char* addr;
  bool valid;
  const char* message;
  int32_t channel;
};

TEST_F(Addresses, AddressCheckAcceptsAndRejectsWithItsMessages) {
  const CheckRow rows[] = {
      {"PV5:1", true, "", 1},
      {"PV5:", true, "", 1},
      {"pv5：1", true, "", 1},
      {"PV_ALARM5:3", true, "", 3},
      {"PV_ALARM5:5", false, "错误：标签地址PV_ALARM5:5的通道地址超出PLNK的最大范围4", 5},
      {"PARM5:15", false, "错误：标签地址PARM5:15的通道地址超出PLNK的最小范围16", 15},
      {"PARM5:79", true, "", 79},
      {"PARM5:", true, "", 16},
      {"AO5:2", false, "的最大范围1", 2},
      {"SetPassWord5:0", true, "", 0},
      {"XYZ1:1", false, "错误：标签地址XYZ1:1指定不存在的标签类型。", -1},
      {"PV7:1", false, "错误：标签地址PV7:1所指定的0007号智能模块不存在。请在设备向导中添加该智能模块！", -1},
      {"PV:1", false, "所指定的-0001号智能模块不存在。", -1},
      {"PARM5:x", false, "错误：标签地址PARM5:x通道地址错误，PLNK不存在此标签。", -1},
  };
  std::vector<TagSpec> specs;
  for (size_t i = 0; i < std::size(rows); ++i)
    specs.push_back({static_cast<int32_t>(i), plat::utf8_to_gbk(rows[i].addr)});
  ASSERT_TRUE(Init(MakeBlock({5}), specs));
  const std::string log = ReadLog();
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].addr);
    const TDLLTag& t = Tag(i);
    EXPECT_EQ(t.AddrValid, rows[i].valid ? 1 : 0);
    EXPECT_EQ(t.ChannelAddr, rows[i].channel);
    EXPECT_EQ(t.Status, rows[i].valid ? kStatusAddrChecked : kStatusAddrFailed);
    if (!rows[i].valid) {
      EXPECT_NE(log.find(rows[i].message), std::string::npos);
    }
  }
  // Every rejected tag adds the drop notice; the invalid tags get no request.
  size_t drops = 0;
  for (size_t p = log.find("错误报告：由于出现错误，系统在通讯时丢弃该标签！"); p != std::string::npos;
       p = log.find("错误报告", p + 1))
    ++drops;
  EXPECT_EQ(drops, 7u);
  for (const TCommand* c : obj->CommandList)
    for (int32_t i : c->TagIndex) EXPECT_TRUE(rows[i].valid) << rows[i].addr;
  EXPECT_NE(plat::gbk_to_utf8(obj->DevMsg).find("错误：标签地址PARM5:x通道地址错误"), std::string::npos);
}

TEST_F(Addresses, WildAddressesGiveMinusOneOrAMessageAndNeverARequest) {
  const std::string noise(63, '\xA3');
  const std::vector<std::string> wild = {
      "",
      noise,
      "ab\xA3\xBA\xA1\xA3\x81",
      "12345678901234567890",
      "PV99999999999:1",
      "PV5:99999999999",
      "PV-5:1",
      "PV5:-1",
      "PV5::::....",
      plat::utf8_to_gbk("PV5：：。。"),
      "PV5:1.2.3.4.5.6.7.8.9",
      "PV5:.",
      "PARM5:+20",
      "PV5:1\xA3",
      "SetPassWord",
      std::string("PV5:1\0junk", 10),
      "DEVICELINK99999999999999",
      "ENDEVICELINK-4",
  };
  std::vector<TagSpec> specs;
  for (size_t i = 0; i < wild.size(); ++i) specs.push_back({static_cast<int32_t>(i), wild[i]});
  PDB block = MakeBlock({5});
  block.ErrorLog = block.TraceLog = 1;
  ASSERT_TRUE(Init(block, specs));
  for (size_t i = 0; i < obj->TagList.size(); ++i) {
    const TDLLTag& t = Tag(i);
    if (t.IsInternal) {
      EXPECT_TRUE(t.Address >= 0 && t.Address < kMaxDevices) << i;
      continue;
    }
    EXPECT_GE(t.ChannelAddr, -1) << i;
    if (t.AddrValid) {
      EXPECT_GE(t.ChannelAddr, 0) << i;
    }
  }
  // Even the accepted ones of these ask nothing outside module 5.
  for (const TCommand* c : obj->CommandList) EXPECT_EQ(c->DeviceAddr, 5);
  for (std::string a : wild) {
    std::string before = a;
    obj->CheckTagAddr(&block, a);
    std::string again = a;
    obj->CheckTagAddr(&block, again);
    EXPECT_EQ(again, a) << before;
  }
}

// A stray GBK lead byte before a separator is no character: the separator still counts, so such
// an address names its own (unconfigured) module or none, never the default module.
TEST_F(Addresses, ALeadByteBeforeASeparatorNeverSendsTheTagToAnotherModule) {
  obj = std::make_unique<HexObject>();  // a channel that is not a number reads 1, as on the line
  PDB block = MakeBlock({3});
  ASSERT_TRUE(Init(block, {{1, "PV7\x81:1"}, {2, "PV3\x81:1"}, {3, "PV3:1"}}));
  EXPECT_NE(Tag(0).Address, 3);
  EXPECT_EQ(Tag(0).AddrValid, 0);
  EXPECT_NE(Tag(1).Address, 3) << "a garbled module number is no module number";
  EXPECT_EQ(Tag(1).AddrValid, 0);
  EXPECT_EQ(obj->GetDevAddr("", "PV3:1\x81.5"), 3);
  EXPECT_EQ(obj->GetThirdSeg("", "PV3:1.0.\x81.7", 1), -1)
      << "the dot after the stray byte still ends a segment";
  EXPECT_EQ(obj->GetFourSeg("", "PV3:1.0.9\x81.7", 1), 7);
  for (const TCommand* c : obj->CommandList)
    for (int32_t i : c->TagIndex) EXPECT_EQ(i, 2) << "tag " << i << " polls module " << c->DeviceAddr;
  // A real two-byte character keeps its trail byte, even one that looks like a letter.
  EXPECT_EQ(GbkFind("\x81:", ":"), 1u);
  EXPECT_EQ(GbkFind("\x81"
                    "a:",
                    "a"),
            std::string::npos);
  EXPECT_EQ(GbkUpper("\x81"
                     "a"
                     "b"),
            "\x81"
            "aB");
  EXPECT_EQ(GbkUpper("\x81.b"), "\x81.B");
}

TEST_F(Addresses, NormalFormReadsBackToTheSameAddress) {
  PDB block = MakeBlock({5});
  bool valid = false;
  EXPECT_EQ(Normal(*obj, block, plat::utf8_to_gbk("pv5：1"), &valid), "PV5:1");
  EXPECT_TRUE(valid);
  EXPECT_EQ(Normal(*obj, block, plat::utf8_to_gbk("parm5：20。0.7")), "PARM5:20");
  EXPECT_EQ(Normal(*obj, block, "PV5:"), "PV5:1");
  EXPECT_EQ(Normal(*obj, block, "PARM5:20"), "PARM5:20");
  // Nothing to normalise: what the user typed comes back.
  EXPECT_EQ(Normal(*obj, block, "XYZ5:1", &valid), "XYZ5:1");
  EXPECT_FALSE(valid);
  EXPECT_EQ(Normal(*obj, block, "PV7:1", &valid), "PV7:1");  // module 7 not configured
  EXPECT_TRUE(valid);

  HexObject hex;
  EXPECT_EQ(Normal(hex, block, "PARM5:1A", &valid), "PARM5:1A");
  EXPECT_TRUE(valid);
  EXPECT_EQ(Normal(hex, block, "parm5:1a"), "PARM5:1A");
  EXPECT_EQ(Normal(hex, block, "PARM5:10"), "PARM5:10");
  EXPECT_EQ(Normal(hex, block, "PARM5:4F.0"), "PARM5:4F");
  EXPECT_EQ(Normal(hex, block, "PV_ALARM5:3"), "PV_ALARM5:3");
  for (const char* a : {"PARM5:1A", "PARM5:10", "PV5:1", "PARM5:"}) {
    const std::string once = Normal(hex, block, a);
    EXPECT_EQ(Normal(hex, block, once), once) << a;
    EXPECT_EQ(hex.GetChannelAddr("", once, 1), hex.GetChannelAddr("", a, 1)) << a;
  }
}

TEST_F(Addresses, TagEdAddrExportChecksAndNormalises) {
  PDB block = MakeBlock({5});
  CopyPDB(PDB(block), block);  // consistent names, as a stored block has
  auto edit = [&](const char* in, KBool skip, std::string& out, std::string& msg) {
    char* addr = in ? strdup(in) : nullptr;
    char* original = addr;
    char* m = nullptr;
    const KBool r = TagEdAddr(&block, &addr, skip, &m);
    out = addr ? addr : "<null>";
    msg = m ? m : "";
    std::free(addr);
    std::free(m);
    std::free(original);
    return r;
  };
  std::string out, msg;
  EXPECT_EQ(edit("parm5:1a", 0, out, msg), 1);
  EXPECT_EQ(out, "PARM5:1A");  // the module protocol reads channels in hexadecimal
  EXPECT_EQ(edit("PARM5:1A", 0, out, msg), 1);
  EXPECT_EQ(out, "PARM5:1A");
  EXPECT_EQ(edit("xyz", 0, out, msg), 0);
  EXPECT_EQ(out, "xyz");
  EXPECT_EQ(edit("whatever:1", 1, out, msg), 1);
  EXPECT_EQ(out, "whatever:1");
  EXPECT_EQ(edit("", 1, out, msg), 1);
  EXPECT_EQ(out, "<null>");
  char* original = strdup("PV5:1");
  char* addr = original;
  char* m = nullptr;
  EXPECT_EQ(TagEdAddr(nullptr, &addr, 0, &m), 0);
  EXPECT_EQ(plat::gbk_to_utf8(m ? m : ""), "通讯设备初始化失败");
  std::free(m);
  std::free(addr);  // the driver hands out a new copy and leaves the host's string alone
  std::free(original);
}

}  // namespace
}  // namespace korvel::test
