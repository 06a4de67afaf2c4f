// korvel-poll --stats: reading module numbers out of addresses, percentiles, and the per-module
// aggregation of reports and wire events.
#include <gtest/gtest.h>

#include "cli/stats.h"

namespace korvel::cli {
namespace {

TEST(Stats, ModuleNumberOfAnAddress) {
  EXPECT_EQ(station_of("PV12:1"), 12);
  EXPECT_EQ(station_of("PV_ALARM3:2"), 3);
  EXPECT_EQ(station_of("PARM1:1A"), 1);
  EXPECT_EQ(station_of("SetPassWord7:0"), 7);
  EXPECT_EQ(station_of("DEVICELINK99"), 99);
  EXPECT_EQ(station_of("AO0:1"), 0);
  for (const char* none :
       {"COMMLINK", "ENCOMMLINK", "", "PV", "PV100:1", "PV1x:1", "12:1", "PV:1", "PV0012:1"})
    EXPECT_EQ(station_of(none), -1) << none;
}

TEST(Stats, NearestRankPercentiles) {
  std::map<uint32_t, uint64_t> h;
  EXPECT_EQ(percentile(h, 50), 0u);
  h[3] = 98;
  h[40] = 1;
  h[250] = 1;
  EXPECT_EQ(percentile(h, 50), 3u);
  EXPECT_EQ(percentile(h, 98), 3u);
  EXPECT_EQ(percentile(h, 99), 40u);
  EXPECT_EQ(percentile(h, 100), 250u);
}

TEST(Stats, FailuresCountOncePerModuleAndPollAndAnswersPairWithTheirRequests) {
  StatsBoard b;
  b.tag(1, "PV1:1", false);
  b.tag(2, "PV_ALARM1:1", false);
  b.tag(3, "DEVICELINK1", true);
  b.tag(4, "PV2:1", false);
  b.tag(5, "COMMLINK", false);  // no module
  // One poll: both tags of the request carry the no-answer code, then the late bit on top.
  b.begin_poll();
  b.report(1, 0x00100000, "");
  b.report(2, 0x00100000, "");
  b.report(5, 0x00400000, "");
  b.begin_poll();
  b.report(1, 0x01100000, "");
  b.report(4, 0x00800000, "");
  b.report(4, 0x00400000, "");
  b.report(3, 0, "1-link");
  b.report(99, 0x00100000, "");  // unknown tag
  const auto& rows = b.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.at(1).failures[StatsBoard::NoAnswer], 2u);
  EXPECT_EQ(rows.at(1).failures[StatsBoard::BadCheck], 0u);
  EXPECT_EQ(rows.at(1).link, "1-link");
  EXPECT_EQ(rows.at(2).failures[StatsBoard::Refused], 1u);
  EXPECT_EQ(rows.at(2).failures[StatsBoard::BadCheck], 1u);

  EXPECT_FALSE(b.has_wire());
  b.request(1, 100, true);
  b.answer(1, 104);
  b.request(1, 200, false);  // a write: no answer awaited
  b.answer(1, 500);
  b.request(1, 600, true);  // unanswered
  b.request(1, 900, true);
  b.answer(1, 910);
  b.request(7, 0, true);  // a module nobody polls
  EXPECT_TRUE(b.has_wire());
  EXPECT_EQ(rows.at(1).exchanges, 4u);
  EXPECT_EQ(rows.at(1).answerMs, (std::map<uint32_t, uint64_t>{{4, 1}, {10, 1}}));
  EXPECT_EQ(rows.count(7), 0u);

  const std::string t = b.table([](const std::string& s) { return "<" + s + ">"; });
  EXPECT_NE(t.find("<1-link>"), std::string::npos) << t;
  EXPECT_NE(t.find("1               4         2          0         0       0       4      10"),
            std::string::npos)
      << t;
}

}  // namespace
}  // namespace korvel::cli
