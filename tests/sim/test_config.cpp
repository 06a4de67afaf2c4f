#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "sim/config.h"

namespace korvel::sim {
namespace {

TEST(SimConfig, ModuleSpecGivesTheWorkedAnswer) {
  ModuleSim sim;
  std::string err;
  ASSERT_TRUE(apply_module_spec(sim, "1:PLNK:pv=12.5,alarm=1", &err)) << err;
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "=12.5AJE\r");
  EXPECT_EQ(sim.module(1)->family, Family::PLNK);
}

TEST(SimConfig, ModuleSpecKeysAndUpdates) {
  ModuleSim sim;
  std::string err;
  ASSERT_TRUE(apply_module_spec(sim, "5:plne:p0x1A=3.25,p10=2,digits=2,status=0x43,ao=ramp:0:10:100", &err))
      << err;
  std::optional<ModuleConfig> m = sim.module(5);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->family, Family::PLNE);
  EXPECT_EQ(m->params.at(26).at(0), 3.25);
  EXPECT_EQ(m->params.at(10).at(0), 2);
  EXPECT_EQ(m->params.count(79), 1u);  // defaults stay
  EXPECT_EQ(sim.exchange(request_frame("$051A"), 0), answer_frame(5, "!3.25C"));
  EXPECT_EQ(sim.exchange(request_frame("#050001"), 50), answer_frame(5, "=5.00C"));

  // Naming the station again changes only what is named.
  ASSERT_TRUE(apply_module_spec(sim, "5:pv=sched:0@1/100@2:loop", &err)) << err;
  m = sim.module(5);
  EXPECT_EQ(m->family, Family::PLNE);
  EXPECT_EQ(m->params.at(26).at(0), 3.25);
  EXPECT_EQ(m->pv.at(150), 2);
  // A station with no keys is configured with defaults.
  ASSERT_TRUE(apply_module_spec(sim, "0", &err)) << err;
  EXPECT_EQ(sim.exchange(request_frame("#00"), 0), answer_frame(0, "=0@"));
}

TEST(SimConfig, BadSpecsAreRefusedWithAReasonAndChangeNothing) {
  ModuleSim sim;
  const char* bad[] = {"100:PLNK",
                       "x",
                       "1:PLNK:pv",
                       "1:PLNK:pv=abc",
                       "1:PLNK:volume=3",
                       "1:status=63",
                       "1:status=13",
                       "1:status=256",
                       "1:pv=ramp:0:10",
                       "1:pv=ramp:0:10:0",
                       "1:pv=sched:100@1/50@2",
                       "1:pz=3",
                       "1:digits=99",
                       "1:pv=nan",
                       "-1"};
  for (const char* spec : bad) {
    std::string err;
    EXPECT_FALSE(apply_module_spec(sim, spec, &err)) << spec;
    EXPECT_FALSE(err.empty()) << spec;
  }
  EXPECT_FALSE(sim.has_module(1));
}

TEST(SimConfig, FaultSpecs) {
  ModuleSim sim;
  std::string err;
  EXPECT_FALSE(apply_fault_spec(sim, "3:silent", &err));  // not configured
  EXPECT_NE(err.find("not configured"), std::string::npos);
  ASSERT_TRUE(apply_module_spec(sim, "3", &err));
  ASSERT_TRUE(apply_fault_spec(sim, "3:delay=250,times=2", &err)) << err;
  ASSERT_TRUE(apply_fault_spec(sim, "3:badcheck", &err)) << err;
  const auto f = sim.faults(3);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].kind, FaultKind::Delay);
  EXPECT_EQ(f[0].param, 250);
  EXPECT_EQ(f[0].times, 2u);
  EXPECT_EQ(fault_text(f[0]), "delay=250,times=2");
  EXPECT_EQ(f[1].param, -1);
  for (const char* spec : {"3:slow", "3:silent=4", "3:delay=-1", "3:delay=x", "3:cut,times=0",
                           "3:wrong-station=100", "3", "3:refuse,twice"}) {
    EXPECT_FALSE(apply_fault_spec(sim, spec, &err)) << spec;
  }
  EXPECT_EQ(sim.faults(3).size(), 2u);
}

TEST(SimConfig, EveryFaultNameReadsBack) {
  for (FaultKind k : {FaultKind::Silent, FaultKind::Delay, FaultKind::GarbageBefore, FaultKind::GarbageAfter,
                      FaultKind::BadCheck, FaultKind::Cut, FaultKind::WrongStation, FaultKind::Refuse,
                      FaultKind::Vanish, FaultKind::Dribble, FaultKind::OverLong, FaultKind::Double,
                      FaultKind::Stray, FaultKind::NoiseCr, FaultKind::Repeat}) {
    Fault f;
    ASSERT_TRUE(parse_fault(fault_name(k), &f, nullptr)) << fault_name(k);
    EXPECT_EQ(f.kind, k);
  }
}

TEST(SimConfig, ConfigFileRunsEveryLineAndNamesTheBadOne) {
  const std::string path =
      testing::TempDir() + "/korvel_sim_config_" + std::to_string(std::random_device{}()) + ".txt";
  {
    std::ofstream out(path);
    out << "# a line of two modules\n"
        << "module 1:PLNK:pv=12.5,alarm=1\n"
        << "\n"
        << "  module 2:PLNE:pv=7   \r\n"
        << "fault 2:refuse\n"
        << "baud 9600\n"
        << "framing 7E2\n";
  }
  ModuleSim sim;
  LineTiming t;
  std::string err;
  ASSERT_TRUE(load_config_file(sim, t, path, &err)) << err;
  EXPECT_EQ(sim.exchange("#01HD\r", 0), "=12.5AJE\r");
  EXPECT_EQ(sim.exchange(request_frame("#02"), 0), answer_frame(2, "?"));
  EXPECT_EQ(t.baud, 9600u);
  EXPECT_EQ(t.data_bits, 7);
  EXPECT_EQ(t.parity, 'E');
  EXPECT_EQ(t.stop_halves, 4);

  {
    std::ofstream out(path);
    out << "module 1\nmodule 2:PLNX\n";
  }
  EXPECT_FALSE(load_config_file(sim, t, path, &err));
  EXPECT_NE(err.find(":2:"), std::string::npos) << err;
  EXPECT_FALSE(load_config_file(sim, t, path + ".missing", &err));
  std::remove(path.c_str());
}

TEST(SimConfig, Commands) {
  ModuleSim sim;
  LineTiming t;
  std::string err;
  EXPECT_TRUE(apply_command(sim, t, "test-line", &err));
  EXPECT_TRUE(sim.has_module(test_line::kSilent));
  EXPECT_TRUE(apply_command(sim, t, "clear 90", &err));
  EXPECT_TRUE(sim.faults(test_line::kSilent).empty());
  EXPECT_FALSE(sim.faults(test_line::kRefuse).empty());
  EXPECT_TRUE(apply_command(sim, t, "--clear all", &err));
  EXPECT_TRUE(sim.faults(test_line::kRefuse).empty());
  EXPECT_TRUE(apply_command(sim, t, "remove 1", &err));
  EXPECT_FALSE(sim.has_module(1));
  EXPECT_TRUE(apply_command(sim, t, "# just a comment", &err));
  EXPECT_FALSE(apply_command(sim, t, "launch 1", &err));
  EXPECT_FALSE(apply_command(sim, t, "baud fast", &err));
  EXPECT_FALSE(apply_command(sim, t, "clear", &err));
}

TEST(SimTiming, CharacterTimeFollowsTheFraming) {
  LineTiming t;
  EXPECT_EQ(t.char_us(), 0u);  // no baud rate: no timing
  t.baud = 9600;
  EXPECT_EQ(t.char_us(), 1041u);  // 10 bits
  ASSERT_TRUE(parse_framing("8E1", &t, nullptr));
  t.baud = 19200;
  EXPECT_EQ(t.char_us(), 572u);  // 11 bits
  ASSERT_TRUE(parse_framing("7O1.5", &t, nullptr));
  EXPECT_EQ(t.half_bits(), 21);
  EXPECT_EQ(timing_text(t), "19200 7O1.5");
  for (const char* bad : {"", "9N1", "8X1", "8N3", "8N2.5", "8N1.", "8n1"}) {
    EXPECT_FALSE(parse_framing(bad, &t, nullptr)) << bad;
  }
}

}  // namespace
}  // namespace korvel::sim
