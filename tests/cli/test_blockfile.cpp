// The tools' block and tag-list handling: what a user types must land in the right bytes.
#include <gtest/gtest.h>

#include "cli/blockfile.h"
#include "driver/PDB.h"
#include "platform/text.h"

using namespace korvel;

TEST(BlockFile, NewBlockSurvivesTheBlockCheck) {
  auto b = cli::new_block();
  EXPECT_FALSE(CheckPDB(b.get())) << "the default module carries its type name";
  EXPECT_EQ(b->Devices[0].DevType, 1);
  EXPECT_EQ(b->TimeOut, 100);
}

TEST(BlockFile, ModulesAndFields) {
  auto b = cli::new_block();
  std::string err;
  EXPECT_TRUE(cli::add_module(*b, "7:PLNE", err));
  EXPECT_EQ(b->Devices[7].DevType, 0);
  EXPECT_EQ(b->Devices[7].DevTypeName.str(), "PLNE");
  EXPECT_TRUE(cli::add_module(*b, "8", err));
  EXPECT_EQ(b->Devices[8].DevType, 1);
  EXPECT_TRUE(cli::add_module(*b, "7:none", err));
  EXPECT_EQ(b->Devices[7].DevType, 2);
  EXPECT_FALSE(cli::add_module(*b, "100:PLNK", err));
  EXPECT_FALSE(cli::add_module(*b, "x", err));
  EXPECT_FALSE(cli::add_module(*b, "5:ABC", err));
  EXPECT_FALSE(CheckPDB(b.get()));

  EXPECT_TRUE(cli::set_field(*b, "Baud=115200", err));
  EXPECT_EQ(b->BaudRate, 12);
  EXPECT_FALSE(cli::set_field(*b, "Baud=1000", err));
  EXPECT_TRUE(cli::set_field(*b, "TimeOut = 0x200", err));
  EXPECT_EQ(b->TimeOut, 512);
  EXPECT_FALSE(cli::set_field(*b, "TimeOut=70000", err));
  EXPECT_FALSE(cli::set_field(*b, "DebugLog=yes", err));
  EXPECT_FALSE(cli::set_field(*b, "Nothing=1", err));
  EXPECT_FALSE(cli::set_field(*b, "TimeOut", err));
  EXPECT_FALSE(cli::set_field(*b, "PhoneNum=012345678901234567890123456789012345", err))
      << "a text longer than its field is refused, not cut";
  EXPECT_EQ(b->PhoneNum.len, 0);
}

TEST(BlockFile, TagLines) {
  cli::TagSpec t;
  std::string err;
  ASSERT_TRUE(cli::parse_tag("Flow, PV3:1, real, 250", t, err));
  EXPECT_EQ(t.name, "Flow");
  EXPECT_EQ(t.address, "PV3:1");
  EXPECT_EQ(t.type, 0);
  EXPECT_EQ(t.period, 250);
  ASSERT_TRUE(cli::parse_tag("Alarm,PV_ALARM3:2,bool", t, err));
  EXPECT_EQ(t.type, 1);
  EXPECT_EQ(t.period, 1000);
  ASSERT_TRUE(cli::parse_tag("Link,DEVICELINK3,2", t, err));
  EXPECT_EQ(t.type, 2);
  EXPECT_FALSE(cli::parse_tag("NoAddress", t, err));
  EXPECT_FALSE(cli::parse_tag("A,PV1,float", t, err));
  EXPECT_FALSE(cli::parse_tag("A,PV1,real,-5", t, err));
  EXPECT_FALSE(cli::parse_tag("A,PV1,real,fast", t, err));
  EXPECT_FALSE(cli::parse_tag(std::string(40, 'N') + ",PV1", t, err)) << "names are 31 characters at most";
}

TEST(BlockFile, JsonNamesConfiguredModulesInUtf8) {
  auto b = cli::new_block();
  b->Devices[4].DevType = 0;
  b->Devices[4].DevTypeName.set("PLNE");
  b->ModemInit.set(plat::utf8_to_gbk("拨号\"1\""));
  const std::string j = cli::block_json(*b);
  EXPECT_NE(j.find("\"entry\": 4, \"DevID\": 4, \"DevType\": 0"), std::string::npos);
  EXPECT_EQ(j.find("\"entry\": 5"), std::string::npos);
  EXPECT_NE(j.find("\"ModemInit\": \"拨号\\\"1\\\"\""), std::string::npos);
}
