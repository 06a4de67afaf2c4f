// The soak's book-keeping: what counts as a wrong value and as a lost write.
#include <gtest/gtest.h>

#include "cli/ledger.h"

namespace korvel::cli {
namespace {

TEST(Ledger, OnlyAGoodStatusWithAForeignValueIsWrong) {
  Ledger l;
  l.expect(1, {12.5});
  l.expect(2, {10.25, 11.25});     // a value changed during the run: both are its own
  EXPECT_TRUE(l.report(1, 0, 0));  // not read yet
  EXPECT_TRUE(l.report(1, 12.5, 0));
  EXPECT_TRUE(l.report(1, 99, 0x00100000));  // a failure status says the value is not good
  EXPECT_TRUE(l.report(1, 0, 0x01100000));
  EXPECT_TRUE(l.report(2, 11.25, 0x00080000));  // other bits do not mark a failure
  EXPECT_TRUE(l.report(7, 5, 0));               // a tag without expectations
  EXPECT_EQ(l.wrong(), 0);
  EXPECT_FALSE(l.report(2, 12.5, 0));  // its neighbour's value
  EXPECT_FALSE(l.report(1, 0, 0));     // 0 with a good status once it had its own value
  EXPECT_EQ(l.wrong(), 2);
  EXPECT_NE(l.first_wrong().find("tag 2 showed 12.5"), std::string::npos) << l.first_wrong();
}

TEST(Ledger, EveryAcceptedWriteReachesTheModuleOrIsReportedFailed) {
  Ledger l;
  ASSERT_TRUE(l.write_accepted(3, 100));
  EXPECT_FALSE(l.write_accepted(3, 150));  // one open write per station
  l.password_report(3, true, 0);           // shown on: not settled yet
  EXPECT_TRUE(l.write_open(3));
  l.writes_reached(3, 2);  // a retried write may reach the module twice
  EXPECT_FALSE(l.write_open(3));
  EXPECT_EQ(l.reached(), 1);

  ASSERT_TRUE(l.write_accepted(3, 200));
  l.writes_reached(3, 2);  // no new write on the wire
  EXPECT_TRUE(l.write_open(3));
  l.password_report(3, false, 0x00100000);  // switched back with a failure
  EXPECT_EQ(l.failed(), 1);
  // The module was on already: a failed write leaves the tag on, with a new failure status.
  l.password_report(3, true, 0);
  ASSERT_TRUE(l.write_accepted(3, 220));
  l.password_report(3, true, 0x00100000);
  EXPECT_FALSE(l.write_open(3));
  EXPECT_EQ(l.failed(), 2);

  ASSERT_TRUE(l.write_accepted(6, 250));
  l.writes_swallowed(6, 1);  // gone with a vanishing line
  EXPECT_FALSE(l.write_open(6));
  EXPECT_EQ(l.swallowed(), 1);

  ASSERT_TRUE(l.write_accepted(4, 300));
  EXPECT_FALSE(l.password_report(4, false, 0));  // undone without a word: lost
  ASSERT_TRUE(l.write_accepted(5, 300));
  l.expire(30299, 30000);
  EXPECT_TRUE(l.write_open(5));
  EXPECT_EQ(l.open_since(5), 300u);
  EXPECT_EQ(l.expire(30301, 30000), std::vector<int>{5});  // never heard of again: lost, once
  EXPECT_TRUE(l.expire(90000, 30000).empty());
  EXPECT_FALSE(l.write_open(5));
  EXPECT_EQ(l.lost(), 2);
  EXPECT_EQ(l.accepted(), 6);
}

}  // namespace
}  // namespace korvel::cli
