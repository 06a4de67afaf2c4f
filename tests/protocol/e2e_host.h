// The host side of the end-to-end tests: the library driven through its exports as a host drives
// it, against the module simulator on a pseudo-terminal. The driver's clock is a test clock that
// moves one millisecond per poll (never faster than real time, so an answer on its way is not timed
// out early); every loop is bounded by a poll count.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/PDB.h"
#include "driver/getfileinfo.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "sim/sim_line.h"

namespace korvel::e2e {

// What the host last received for a tag.
struct Reported {
  double number = 0;
  bool flag = false;
  std::string text;
  uint8_t type = 0;
  uint32_t status = 0;
  double time = 0;
  int reports = 0;
};

class Host {
 public:
  explicit Host(sim::SimLine& line) : line_(line) {
    plat::set_test_clock([this] { return now_; });
    block_ = std::make_unique<PDB>();
    FullPDB(block_.get());
    block_->ComPort = 0;  // Com1: the simulator's line
    block_->TimeOut = 200;
    block_->WriteCount = 2;
  }
  ~Host() {
    FreeDriver();
    DestroyThreadInstance();
    plat::set_test_clock({});
  }

  void Module(int id, uint8_t type = 1) {
    TDevInfo& d = block_->Devices[id];
    d.DevID = id;
    d.DevType = type;
    d.DevTypeName.set(DevTypeNameOf(type));
  }

  // Adds a tag and returns its host identifier. Period 0: due at every selection.
  int32_t Tag(const std::string& addr, uint8_t type, int32_t period = 0) {
    auto info = std::make_unique<TTagInfo>();
    std::memset(info.get(), 0, sizeof(TTagInfo));
    info->TagID = static_cast<int32_t>(infos_.size());
    const std::string name = "tag" + std::to_string(info->TagID);
    std::strncpy(info->TagName, name.c_str(), sizeof info->TagName - 1);
    std::strncpy(info->TagAddr, addr.c_str(), sizeof info->TagAddr - 1);
    info->TagType = type;
    info->ScanPeriod = period;
    info->Value.vt = VT_EMPTY;
    infos_.push_back(std::move(info));
    return infos_.back()->TagID;
  }

  bool Init(std::string* text = nullptr) {
    std::vector<TTagInfo*> ptrs;
    for (auto& i : infos_) ptrs.push_back(i.get());
    char* msg = nullptr;
    const bool ok = IniDriver(static_cast<int32_t>(ptrs.size()), ptrs.data(), block_.get(), &msg) != 0;
    if (text != nullptr) *text = msg != nullptr ? msg : "";
    std::free(msg);
    return ok;
  }

  // One host poll: a millisecond later, but never behind real time. The simulator answers in real
  // time; on a loaded machine a slow poll must not let a late answer pass for a punctual one.
  void Poll() {
    now_ = std::max(now_ + 1, start_ + (plat::monotonic_ms() - real_start_));
    std::vector<TTagValue> buf(infos_.size() + 1);
    int32_t n = 0;
    char* msg = nullptr;
    OnDataRead(&n, buf.data(), &msg);
    if (msg != nullptr) events_.push_back(msg);
    std::free(msg);
    for (int32_t i = 0; i < n; ++i) {
      const TTagValue& v = buf[static_cast<size_t>(i)];
      Reported& r = reported_[v.TagID];
      r.status = v.Status;
      r.time = v.Time;
      ++r.reports;
      r.type = v.DataType;
      switch (v.DataType) {
        case 0:
          std::memcpy(&r.number, &v.Data.dbl, sizeof r.number);  // packed record
          break;
        case 1:
          r.flag = v.Data.bln != 0;
          break;
        default: {
          char* s = nullptr;
          std::memcpy(&s, &v.Data.str, sizeof s);
          r.text = s != nullptr ? s : "";
          std::free(s);
        }
      }
      if (onReport) onReport(v.TagID, r);
    }
    plat::sleep_ms(1);
  }

  void Polls(int n) {
    for (int i = 0; i < n; ++i) Poll();
  }

  // Polls until pred holds (checked after each poll); false when it did not within maxPolls.
  bool PollUntil(const std::function<bool()>& pred, int maxPolls = 3000) {
    for (int i = 0; i < maxPolls; ++i) {
      Poll();
      if (pred()) return true;
    }
    return false;
  }

  bool Write(int32_t id, bool value) {
    TTagValue rec{};
    rec.TagID = id;
    rec.DataType = 1;
    rec.Data.bln = value ? 1 : 0;
    char* msg = nullptr;
    const bool ok = OnDataWrite(1, &rec, &msg) != 0;
    std::free(msg);
    return ok;
  }

  // Queues a write of an analog value; true when the library accepted it.
  bool WriteNumber(int32_t id, double value) {
    TTagValue rec{};
    rec.TagID = id;
    rec.DataType = 0;
    std::memcpy(&rec.Data.dbl, &value, sizeof value);  // packed record
    char* msg = nullptr;
    const bool ok = OnDataWrite(1, &rec, &msg) != 0;
    std::free(msg);
    return ok;
  }

  const Reported& Last(int32_t id) { return reported_[id]; }

  // Request frames the simulator received from log position `from` on.
  std::vector<std::string> Requests(size_t from) const {
    std::vector<std::string> out;
    const auto log = line_.sim().log();
    for (size_t i = from; i < log.size(); ++i) {
      if (log[i].dir == sim::WireEvent::Dir::Received) out.push_back(log[i].bytes);
    }
    return out;
  }

  PDB& Block() { return *block_; }
  uint64_t now_ = 1000000;
  const uint64_t start_ = now_;
  const uint64_t real_start_ = plat::monotonic_ms();
  std::vector<std::string> events_;
  // Called with every report as it arrives (after Last() took it).
  std::function<void(int32_t, const Reported&)> onReport;

 private:
  sim::SimLine& line_;
  std::unique_ptr<PDB> block_;
  std::vector<std::unique_ptr<TTagInfo>> infos_;
  std::map<int32_t, Reported> reported_;
};

inline std::string DevLinkText(int dev, const std::string& status) {
  return std::to_string(dev) + GBK("号") + Vocabulary()[fiDevTypeName] + "PLNK" + status;
}

inline bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace korvel::e2e
