// korvel-poll --stats: reading module numbers out of addresses, percentiles, and the per-module
// aggregation of reports and wire events.
#include <gtest/gtest.h>

#include "cli/stats.h"
#include "sim/wire.h"

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
  b.set_timeout(100);
  const std::string good = sim::answer_frame(1, "=12.5A");
  b.request(1, 100, true);
  b.answer(1, 104, good);
  b.request(1, 200, false);  // a write: no answer awaited
  b.answer(1, 500, good);
  b.request(1, 600, true);  // unanswered: no answer once the next request comes
  b.request(1, 900, true);
  b.answer(1, 910, good);
  b.request(7, 0, true);  // a module nobody polls
  b.request(2, 1000, true);
  b.answer(2, 1250, sim::answer_frame(2, "=1A"));  // after the time-out: the driver gave up
  b.request(2, 1300, true);
  b.answer(2, 1310, sim::answer_frame(1, "=1A"));  // another station's check characters
  b.request(2, 1400, true);
  b.answer(2, 1402, "=1");  // cut
  EXPECT_EQ(b.last_timed_out(1450), 2);
  b.request(2, 1600, true);
  EXPECT_EQ(b.last_timed_out(1750), 2);  // still waiting: the read being given up
  // Three time-outs on, the read given up is a later one the log never saw.
  EXPECT_EQ(b.last_timed_out(1900), -1);
  b.report(4, 0x00800000, "");  // once the wire counts, status changes do not
  EXPECT_TRUE(b.has_wire());
  EXPECT_EQ(rows.at(1).exchanges, 4u);
  EXPECT_EQ(rows.at(1).answerMs, (std::map<uint32_t, uint64_t>{{4, 1}, {10, 1}}));
  EXPECT_EQ(rows.at(2).exchanges, 4u);
  EXPECT_EQ(rows.count(7), 0u);
  b.settle(1650);  // not yet over the time-out
  EXPECT_EQ(rows.at(2).failures[StatsBoard::NoAnswer], 1u);
  b.settle(1701);
  EXPECT_EQ(rows.at(2).failures[StatsBoard::NoAnswer], 2u);
  EXPECT_EQ(rows.at(2).failures[StatsBoard::BadCheck], 1u);
  EXPECT_EQ(rows.at(2).failures[StatsBoard::Incomplete], 1u);
  EXPECT_EQ(rows.at(2).failures[StatsBoard::Refused], 0u);
  EXPECT_EQ(b.last_timed_out(1999), 2);  // settled at 1700
  EXPECT_EQ(b.last_timed_out(2000), -1);

  const std::string t = b.table([](const std::string& s) { return "<" + s + ">"; });
  EXPECT_NE(t.find("<1-link>"), std::string::npos) << t;
  EXPECT_NE(t.find("1               4         1          0         0       0       4      10     100"),
            std::string::npos)
      << t;
}

TEST(Stats, AnswersAreJudgedAsTheDriverJudgesThem) {
  const std::string good = sim::answer_frame(12, "=12.5A");
  EXPECT_EQ(judge_answer(12, good), Good);
  EXPECT_EQ(judge_answer(5, good), BadCheck);
  EXPECT_EQ(judge_answer(12, ""), NoAnswer);
  EXPECT_EQ(judge_answer(12, good.substr(0, good.size() - 1)), Incomplete);
  EXPECT_EQ(judge_answer(12, good + "x"), BadCheck);
  EXPECT_EQ(judge_answer(12, "\r"), BadCheck);
  EXPECT_EQ(judge_answer(12, sim::answer_frame(12, "?")), Refused);
}

}  // namespace
}  // namespace korvel::cli
