// The poll's report walks only the tags set since the last report. Whatever the driver does to its
// tags (answers, time-outs, link texts, device marks, writes, expiries, switches), after a report
// no tag may differ from what the host was last told, and the records come in table order.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <thread>

#include "exports/DLLMain.h"
#include "script_object.h"

namespace korvel::test {
namespace {

class Report : public FrameworkTest {};

TEST_F(Report, NothingSetIsLeftUnreportedAndRecordsComeInTableOrder) {
  PDB block = MakeBlock({3, 4, 5});
  block.ErrorLog = 1;
  ASSERT_TRUE(Init(block, {{0, "PV3:1", 0, 0},
                           {1, "PV4:1", 0, 0},
                           {2, "PV_ALARM5:1", 1, 0},
                           {3, "DEVICELINK3", 2},
                           {4, "DEVICELINK4", 2},
                           {5, "DEVICELINK5", 0},
                           {6, "COMMLINK", 2},
                           {7, "COMMLINK", 1},
                           {8, "ENCOMMLINK", 0},
                           {9, "ENLOG", 1},
                           {10, "SetPassWord3:0", 1},
                           {11, "SetPassWord4:0", 1},
                           {12, "PV5:1", 0, 0}}));
  std::mt19937 rng(7);
  std::vector<TTagValue> buf(obj->TagList.size());
  int reported = 0;
  for (int step = 0; step < 4000; ++step) {
    switch (rng() % 9) {
      case 0:
        obj->answers[3 + static_cast<int>(rng() % 3)] = rng() % 2 ? Answer::Good : Answer::Silent;
        break;
      case 1:
        obj->readValue = static_cast<double>(rng() % 4);
        break;
      case 2:
        obj->WriteExecute(10 + static_cast<int32_t>(rng() % 2), Variant(rng() % 2 == 0));
        break;
      case 3:
        obj->WriteExecute(8, Variant(rng() % 5 != 0 ? 1.0 : 0.0));  // pause now and then
        break;
      case 4:
        obj->WriteExecute(9, Variant(rng() % 2 == 0));
        break;
      case 5:
        obj->DevRun[3 + rng() % 3].DeviceFault = rng() % 4 == 0;
        break;
      case 6:
        Advance(rng() % 11000);  // also past a queued write's expiry
        break;
      default:
        Advance(rng() % 50);
        obj->ReadExecute();
        break;
    }
    if (rng() % 3 != 0) continue;
    int32_t n = 0;
    ReportChangedTags(*obj, n, buf.data());
    reported += n;
    for (int32_t i = 1; i < n; ++i) {
      ASSERT_LT(obj->TagIDMap.at(static_cast<size_t>(buf[static_cast<size_t>(i - 1)].TagID)),
                obj->TagIDMap.at(static_cast<size_t>(buf[static_cast<size_t>(i)].TagID)))
          << "step " << step;
    }
    for (int32_t i = 0; i < n; ++i) {
      if (buf[static_cast<size_t>(i)].DataType != 2) continue;
      char* text = nullptr;  // packed record: read by copy
      std::memcpy(&text, &buf[static_cast<size_t>(i)].Data.str, sizeof text);
      std::free(text);
    }
    for (const auto& tag : obj->TagList) {
      ASSERT_TRUE(tag->Value == tag->LastValue) << "step " << step << " tag " << tag->TagName;
      ASSERT_EQ(uint32_t{tag->Status}, tag->LastStatus) << "step " << step << " tag " << tag->TagName;
    }
    ASSERT_TRUE(obj->Changed.empty());
  }
  EXPECT_GT(reported, 100);
}

// Every link-status pass stamps every internal tag, whether or not its value changed; the host
// sees that stamp when such a tag is next reported. A tag created after the pass keeps its own.
TEST_F(Report, InternalTagsCarryTheStampOfTheLastLinkPass) {
  ASSERT_TRUE(Init(MakeBlock({3, 4}), {{0, "PV3:1", 0, 1000},
                                       {1, "DEVICELINK3", 2},
                                       {2, "DEVICELINK4", 0},
                                       {3, "COMMLINK", 2},
                                       {4, "ENLOG", 1}}));
  std::vector<TTagValue> buf(8);
  const auto report = [&] {
    std::map<int32_t, double> times;
    int32_t n = 0;
    ReportChangedTags(*obj, n, buf.data());
    for (int32_t i = 0; i < n; ++i) {
      const TTagValue& rec = buf[static_cast<size_t>(i)];
      times[rec.TagID] = rec.Time;
      if (rec.DataType != 2) continue;
      char* text = nullptr;  // packed record: read by copy
      std::memcpy(&text, &rec.Data.str, sizeof text);
      std::free(text);
    }
    return times;
  };
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(30)); };
  const double created = report().at(4);

  pause();
  obj->ReadExecute();
  obj->ReadExecute();  // module 3 answers: the pass of its exchange
  const auto afterPass = report();
  const double pass = afterPass.at(3);
  EXPECT_GT(pass, created);
  EXPECT_EQ(afterPass.at(1), pass);
  EXPECT_EQ(afterPass.count(2), 0u);  // module 4's link tag is stamped, not changed
  EXPECT_EQ(afterPass.count(4), 0u);

  pause();
  ASSERT_TRUE(obj->WriteExecute(4, Variant(false)));  // switching the log sets no stamp of its own
  EXPECT_EQ(report(), (std::map<int32_t, double>{{4, pass}}));

  pause();
  Advance(1000);
  obj->ReadExecute();
  obj->ReadExecute();  // a pass that changes no internal value: its stamp is not yet read
  EXPECT_EQ(report().count(3), 0u);
  pause();
  const std::vector<TTagInfo> more = MakeInfos({{5, "COMMLINK", 2}, {6, "ENLOG", 1}});
  std::vector<int32_t> results;
  obj->AddTagLists(Pointers(more), results);
  ASSERT_TRUE(obj->WriteExecute(4, Variant(true)));
  const auto added = report();
  ASSERT_EQ(added.size(), 3u);
  EXPECT_GT(added.at(4), pass);
  EXPECT_GT(added.at(5), added.at(4));  // created after that pass
  EXPECT_EQ(added.at(6), added.at(5));

  pause();
  Advance(1000);
  obj->ReadExecute();
  obj->ReadExecute();  // the next pass covers the added tags too
  obj->WriteExecute(6, Variant(false));
  const auto second = report();
  EXPECT_GT(second.at(5), added.at(5));
  EXPECT_EQ(second.at(6), second.at(5));
}

// Link texts are set on every exchange and mostly stay the same: only a new text puts the tag on
// the change list, once, and a value that held a number takes a text.
TEST(ChangeList, AnUnchangedTextIsNoChange) {
  std::vector<int32_t> list;
  list.reserve(4);
  TChangeMark mark{&list, 7};
  TTrackedValue value(&mark);
  value.setText("link up");
  EXPECT_EQ(list, std::vector<int32_t>{7});
  list.clear();
  mark.queued = false;  // as a report leaves it
  value.setText("link up");
  EXPECT_TRUE(list.empty());
  value.setText("link down");
  value.setText("link up");
  EXPECT_EQ(list, std::vector<int32_t>{7});
  EXPECT_TRUE(value.holdsText("link up"));
  list.clear();
  mark.queued = false;
  value = Variant(1.5);
  value.setText("1.5");
  EXPECT_EQ(list, std::vector<int32_t>{7});
  EXPECT_TRUE(value.holdsText("1.5"));
}

}  // namespace
}  // namespace korvel::test
