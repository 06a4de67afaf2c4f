// The block tool's fields: settings in the user's terms, refusals that name the allowed values,
// JSON round trips byte for byte, and diffs that miss no byte.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "cli/blockfile.h"
#include "driver/PDB.h"
#include "platform/text.h"

using namespace korvel;

namespace {

std::unique_ptr<PDB> empty_block() {
  auto b = cli::new_block();
  for (TDevInfo& d : b->Devices) {
    d.DevType = 2;
    d.DevTypeName.set("");
  }
  return b;
}

std::string refusal(const std::string& assignment) {
  auto b = cli::new_block();
  const auto before = *b;
  std::string err;
  EXPECT_FALSE(cli::set_field(*b, assignment, err)) << assignment;
  EXPECT_EQ(std::memcmp(&before, b.get(), sizeof(PDB)), 0) << assignment << " changed the block";
  return err;
}

}  // namespace

TEST(BlockFields, SettingsInTheUsersTerms) {
  auto b = cli::new_block();
  std::string err;
  for (const char* a : {"Baud=115200", "Parity=even", "DataBits=8", "StopBits=1", "Port=COM3", "TimeOut=200"})
    ASSERT_TRUE(cli::set_field(*b, a, err)) << a << ": " << err;
  EXPECT_EQ(b->BaudRate, 12);
  EXPECT_EQ(b->Parity, 2);
  EXPECT_EQ(b->DataBits, 4);
  EXPECT_EQ(b->StopBits, 0);
  EXPECT_EQ(b->ComPort, 2);
  EXPECT_EQ(b->TimeOut, 200);

  ASSERT_TRUE(cli::set_field(*b, "DataBits=7", err));
  EXPECT_EQ(b->DataBits, 3);
  ASSERT_TRUE(cli::set_field(*b, "StopBits=1.5", err));
  EXPECT_EQ(b->StopBits, 1);
  ASSERT_TRUE(cli::set_field(*b, "StopBits=2", err));
  EXPECT_EQ(b->StopBits, 2);
  ASSERT_TRUE(cli::set_field(*b, "Parity=SPACE", err));
  EXPECT_EQ(b->Parity, 4);
  ASSERT_TRUE(cli::set_field(*b, "Port=com16", err));
  EXPECT_EQ(b->ComPort, 15);
  ASSERT_TRUE(cli::set_field(*b, "Baud=110", err));
  EXPECT_EQ(b->BaudRate, 0);

  // The raw fields stay reachable under their JSON names.
  ASSERT_TRUE(cli::set_field(*b, "BaudRate=14", err));
  EXPECT_EQ(b->BaudRate, 14);
  ASSERT_TRUE(cli::set_field(*b, "ComPort=0", err));
  EXPECT_EQ(b->ComPort, 0);
  ASSERT_TRUE(cli::set_field(*b, "DataBitsCode=1", err));
  EXPECT_EQ(b->DataBits, 1);
  ASSERT_TRUE(cli::set_field(*b, "StopBitsCode=0", err));
  EXPECT_EQ(b->StopBits, 0);
  ASSERT_TRUE(cli::set_field(*b, "Parity=1", err));
  EXPECT_EQ(b->Parity, 1);
  ASSERT_TRUE(cli::set_field(*b, "WriteCount=10", err));
  ASSERT_TRUE(cli::set_field(*b, "TimeOut=010", err));
  EXPECT_EQ(b->TimeOut, 10) << "decimal, not octal";

  // Texts land as GBK; a quoted blank survives in the modem command.
  ASSERT_TRUE(cli::set_field(*b, "ModemInit= AT拨号", err));
  EXPECT_EQ(b->ModemInit.str(), plat::utf8_to_gbk(" AT拨号"));
  ASSERT_TRUE(cli::set_field(*b, "PhoneNum=01012345678", err));
  EXPECT_EQ(b->PhoneNum.str(), "01012345678");
}

TEST(BlockFields, EveryRefusalNamesTheAllowedValues) {
  struct Case {
    const char* assignment;
    const char* mentions;
  } cases[] = {
      {"Baud=1000", "110, 300"},
      {"Baud=fast", "256000"},
      {"Port=COM0", "COM1..COM16"},
      {"Port=COM17", "COM1..COM16"},
      {"Port=3", "COM1..COM16"},
      {"Port=COM+3", "COM1..COM16"},
      {"Parity=bad", "none, odd, even, mark, space"},
      {"Parity=5", "none, odd, even, mark, space"},
      {"DataBits=9", "4, 5, 6, 7 or 8"},
      {"DataBits=3", "4, 5, 6, 7 or 8"},
      {"StopBits=0", "1, 1.5 or 2"},
      {"StopBits=3", "1, 1.5 or 2"},
      {"TimeOut=9", "10..60000"},
      {"TimeOut=60001", "10..60000"},
      {"TimeOut=-1", "10..60000"},
      {"WriteCount=11", "0..10"},
      {"LinkMode=2", "0 (one module on RS232)"},
      {"SingleDevID=100", "0..99"},
      {"ComPort=16", "0..15"},
      {"BaudRate=15", "0..14"},
      {"DataBitsCode=5", "0..4"},
      {"StopBitsCode=3", "0 (1 stop bit)"},
      {"DebugLog=2", "0 or 1"},
      {"ErrorLog=yes", "0 or 1"},
      {"TraceLog=0x100000000", "0 or 1"},
      {"PhoneNum=12a", "digits only"},
      {"PhoneNum=123456789012345678901234567890123", "at most 32 bytes"},
      {"ModemInit="
       "AT12345678901234567890123456789012345678901234567890",
       "at most 50 bytes"},
      {"ModemInit=AT\xF0\x9F\x98\x80", "GBK cannot hold"},
      {"Reserved6=1", "unknown field"},
      {"Baud", "name=value"},
  };
  for (const Case& c : cases) {
    const std::string err = refusal(c.assignment);
    EXPECT_NE(err.find(c.mentions), std::string::npos) << c.assignment << " → " << err;
  }
}

TEST(BlockFields, JsonRoundTripIsByteForByte) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    auto b = empty_block();
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    b->DebugLog = pick(2);
    b->ErrorLog = pick(2);
    b->TraceLog = pick(2);
    b->TimeOut = static_cast<uint16_t>(10 + pick(59991));
    b->WriteCount = pick(11);
    b->LinkMode = pick(2);
    b->SingleDevID = pick(100);
    b->ComPort = pick(16);
    b->BaudRate = pick(15);
    b->DataBits = pick(5);
    b->StopBits = pick(3);
    b->Parity = pick(5);
    b->PhoneNum.set(std::to_string(rng()).substr(0, pick(10)));
    static const char* const texts[] = {"ATZ", "AT&F 拨号\"1\"\\", "\t\r\n", "", "\x81\x30\xff"};
    b->ModemInit.set(round % 5 == 4 ? std::string(texts[4]) : plat::utf8_to_gbk(texts[round % 5]));
    for (int k = pick(6); k > 0; --k) {
      TDevInfo& d = b->Devices[pick(100)];
      d.DevID = pick(100);
      d.DevType = pick(2);
      d.DevTypeName.set(pick(4) == 0 ? "" : DevTypeNameOf(d.DevType));
    }
    const std::string json = cli::block_json(*b);
    auto back = cli::new_block();
    std::string err;
    ASSERT_TRUE(cli::block_from_json(json, *back, err)) << err << "\n" << json;
    EXPECT_EQ(std::memcmp(b.get(), back.get(), sizeof(PDB)), 0) << json;
    EXPECT_TRUE(cli::block_diff(*b, *back).empty());
  }
}

TEST(BlockFields, JsonLeavesOutFieldsToTheDefaults) {
  auto b = cli::new_block();
  std::string err;
  ASSERT_TRUE(cli::block_from_json(R"({"Baud": 19200, "Modules": [{"entry": 5}]})", *b, err)) << err;
  EXPECT_EQ(b->BaudRate, 8);
  EXPECT_EQ(b->TimeOut, 100);
  EXPECT_EQ(b->Devices[5].DevType, 1);
  EXPECT_EQ(b->Devices[5].DevTypeName.str(), "PLNK") << "the name is filled from the type";
  EXPECT_EQ(b->Devices[0].DevType, 2) << "entries the JSON does not list are unused";
  EXPECT_EQ(b->Devices[5].Param254, 80);
  EXPECT_FALSE(CheckPDB(b.get()));
}

TEST(BlockFields, JsonRefusals) {
  struct Case {
    const char* json;
    const char* mentions;
  } cases[] = {
      {"{", "not JSON"},
      {"[1]", "JSON object"},
      {R"({"TimeOut": 5})", "10..60000"},
      {R"({"TimeOut": 100.5})", "whole number"},
      {R"({"BaudRate": "6"})", "whole number"},
      {R"({"Baud": 1000})", "one of the rates"},
      {R"({"Baud": 9600, "BaudRate": 12})", "disagree"},
      {R"({"Colour": 1})", "unknown field 'Colour'"},
      {R"({"PhoneNum": 5})", "takes a text"},
      {R"({"ModemInitHex": "4"})", "hex digits"},
      {R"({"ModemInitHex": "zz"})", "hex digits"},
      {R"({"Modules": {}})", "takes a list"},
      {R"({"Modules": [{"DevID": 1}]})", "\"entry\""},
      {R"({"Modules": [{"entry": 100}]})", "0..99"},
      {R"({"Modules": [{"entry": 1}, {"entry": 1}]})", "twice"},
      {R"({"Modules": [{"entry": 1, "DevType": 2}]})", "0 (PLNE) or 1 (PLNK)"},
      {R"({"Modules": [{"entry": 1, "DevID": -1}]})", "0..99"},
      {R"({"Modules": [{"entry": 1, "DevType": 0, "DevTypeName": "PLNK"}]})", "would void"},
      {R"({"Modules": [{"entry": 1, "Slot": 2}]})", "unknown module field"},
  };
  for (const Case& c : cases) {
    auto b = cli::new_block();
    const auto before = *b;
    std::string err;
    EXPECT_FALSE(cli::block_from_json(c.json, *b, err)) << c.json;
    EXPECT_NE(err.find(c.mentions), std::string::npos) << c.json << " → " << err;
    EXPECT_EQ(std::memcmp(&before, b.get(), sizeof(PDB)), 0) << "a refused JSON leaves the block alone";
  }
}

TEST(BlockFields, DiffNamesEveryChangedField) {
  auto a = cli::new_block();
  auto b = cli::new_block();
  EXPECT_TRUE(cli::block_diff(*a, *b).empty());
  b->BaudRate = 12;
  b->Devices[42].Param256 = 33;
  b->Devices[7].Reserved54[100] = 1;
  b->Pad26505[2] = 0xAB;
  b->PhoneNum.chars[20] = '9';  // beyond the length byte: invisible in print, still a difference
  const std::vector<std::string> d = cli::block_diff(*a, *b);
  ASSERT_EQ(d.size(), 5u);
  EXPECT_EQ(d[0].rfind("Devices[7].Reserved54: ", 0), 0u) << d[0];
  EXPECT_EQ(d[1], "Devices[42].Param256: 32 -> 33");
  EXPECT_EQ(d[2], "BaudRate: 6 (9600) -> 12 (115200)");
  EXPECT_EQ(d[3].rfind("PhoneNum: \"\" -> \"\" (bytes after the text: ", 0), 0u) << d[3];
  EXPECT_EQ(d[4], "padding@26505: 000000 -> 0000ab");
}
