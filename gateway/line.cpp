#include "gateway/line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/host_tags.h"
#include "cli/status_names.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace korvel::gateway {
namespace {

// The status bits that say a value was not read (address refused ... failing repeatedly).
constexpr uint32_t kStatusFailure = KORVEL_STATUS_ADDRESS_REFUSED | KORVEL_STATUS_NO_VALUE_YET |
                                    KORVEL_STATUS_NO_ANSWER | KORVEL_STATUS_INCOMPLETE |
                                    KORVEL_STATUS_BAD_CHECK | KORVEL_STATUS_REFUSED |
                                    KORVEL_STATUS_REPEATED_FAILURE;
// Sets received and not yet taken by the line's thread, which takes them up as they come.
constexpr size_t kMaxQueuedSets = 4096;
// At a stop, writes already handed to the library get this long to go out and be answered.
constexpr uint64_t kStopSettleMs = 3000;
const char kStopping[] = "gateway stopping";

std::string joined_flags(uint32_t status) {
  std::string out;
  for (const std::string& f : cli::status_flag_names(status)) out += (out.empty() ? "" : ", ") + f;
  return out;
}

// A module's link text ends with its state: it answers while the state is normal, or shows only
// a few failures in a row ("interference"); never answered, faulty, broken, switched off or paused
// is no answer.
bool module_answers(const TTagValue& v) {
  if (v.DataType != kTypeString || v.Data.str == nullptr) return false;
  const std::string_view text(v.Data.str);
  return text.ends_with(GBK("通讯正常!")) || text.ends_with(GBK("通讯出现干扰!"));
}

}  // namespace

Line::Line(const LineConfig& config, const cli::HostExports& x, Publisher& publisher, int id)
    : config_(config), x_(x), pub_(publisher), id_(id) {
  tags_.resize(config_.tags.size());
  by_name_.resize(config_.tags.size());
  for (size_t i = 0; i < config_.tags.size(); ++i) {
    const std::string& name = config_.tags[i].name;
    tags_[i].writable =
        std::find(config_.writable.begin(), config_.writable.end(), name) != config_.writable.end();
    by_name_[i] = i;
  }
  std::sort(by_name_.begin(), by_name_.end(),
            [&](size_t a, size_t b) { return config_.tags[a].name < config_.tags[b].name; });
  // The line's health is handed on whatever the user's list holds: the line's state as a number
  // and a text, and each configured module's link.
  const size_t n = config_.tags.size();
  link_state_id_ = static_cast<int32_t>(n + 1);
  internal_.push_back({"~link", "COMMLINK", kTypeReal, 1000});
  link_text_id_ = static_cast<int32_t>(n + 2);
  internal_.push_back({"~linktext", "COMMLINK", kTypeString, 1000});
  enabled_id_ = static_cast<int32_t>(n + 3);
  internal_.push_back({"~enabled", "ENCOMMLINK", kTypeBool, 1000});
  first_module_id_ = static_cast<int32_t>(n + 4);
  // As a text: only the text follows the module's own link; a number or a Boolean follows the
  // whole line's.
  for (const TDevInfo& d : config_.block->Devices) {
    if (d.DevType == 2) continue;
    modules_.push_back(d.DevID);
    internal_.push_back(
        {"~dev" + std::to_string(d.DevID), "DEVICELINK" + std::to_string(d.DevID), kTypeString, 1000});
  }
  buf_.resize(n + internal_.size() + 1);
}

const size_t* Line::find(const std::string& name) const {
  const auto it = std::lower_bound(by_name_.begin(), by_name_.end(), name,
                                   [&](size_t i, const std::string& v) { return config_.tags[i].name < v; });
  return it != by_name_.end() && config_.tags[*it].name == name ? &*it : nullptr;
}

Line::~Line() {
  stop();
}

void Line::start() {
  thread_ = std::thread([this] { run(); });
}

void Line::request_stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stop_.store(true);
  }
  wake_.notify_all();
}

void Line::stop() {
  request_stop();
  if (thread_.joinable()) thread_.join();
}

void Line::say(const std::string& text) {
  std::fprintf(stderr, "korvel-gateway: %s: %s\n", config_.name.c_str(), text.c_str());
}

void Line::offer_set(const std::string& tag, const std::string& payload) {
  const char* refusal = nullptr;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (finished_)
      refusal = kStopping;
    else if (sets_.size() >= kMaxQueuedSets)
      refusal = "too many sets waiting";
    else
      sets_.emplace_back(tag, payload);
  }
  if (refusal != nullptr)
    result(tag, false, refusal);
  else
    wake_.notify_one();
}

uint64_t Line::write_wait_ms() const {
  // Writes go out before reads: one waits at most for the exchange on the line, the line's rest
  // after a failed read, and its own sends with their retries, each up to one time-out.
  const uint64_t timeout = std::clamp<uint64_t>(config_.block->TimeOut, 10, 60000);
  return (config_.block->WriteCount + 5ULL) * timeout + 300;
}

bool Line::start_driver() {
  // The descriptors live only while the library reads them: kept, they would cost more than the
  // gateway's own state of every tag.
  std::vector<TTagInfo> infos;
  {
    std::vector<cli::TagSpec> all;
    all.reserve(config_.tags.size() + internal_.size());
    all.insert(all.end(), config_.tags.begin(), config_.tags.end());
    all.insert(all.end(), internal_.begin(), internal_.end());
    infos = cli::tag_infos(all);
  }
  std::vector<TTagInfo*> pointers = cli::tag_pointers(infos);
  PDB block = *config_.block;
  char* msg = nullptr;
  const bool ok = x_.IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), &block, &msg) != 0;
  const std::string text = cli::take_message(msg);
  if (!ok) {
    // Most often the port cannot be opened; the line is tried again later. The library names the
    // port by its number only, which for a line with a `port` key is not the one the user wrote.
    x_.FreeDriver();
    const std::string said = (text.empty() ? "the driver did not start" : text) + " (" + config_.device + ")";
    say("the driver did not start: " + said);
    all_offline(KORVEL_LINK_FAULT, said);
    return false;
  }
  say("polling" + (text.empty() ? std::string() : ": " + text));
  return true;
}

void Line::stop_driver() {
  x_.FreeDriver();  // the statistics go to the library's log
  char* msg = nullptr;
  x_.GetDeviceStatus(&msg);
  const std::string text = cli::take_message(msg);
  say("stopped" + (text.empty() ? std::string() : ": " + text));
}

void Line::wait_for_sets(uint64_t ms) {
  std::unique_lock<std::mutex> lock(mu_);
  wake_.wait_for(lock, std::chrono::milliseconds(std::max<uint64_t>(ms, 1)),
                 [&] { return stop_.load() || !sets_.empty(); });
}

void Line::run() {
  uint64_t retry_ms = 1000;
  uint64_t next_start = 0;
  while (!stop_.load()) {
    if (!running_) {
      // A line that did not start is tried again with back-off; sets meanwhile get their refusal
      // as they come.
      if (plat::tick_ms() >= next_start) {
        running_ = start_driver();
        if (!running_) {
          next_start = plat::tick_ms() + retry_ms;
          retry_ms = std::min<uint64_t>(retry_ms * 2, 30000);
        }
      }
      if (!running_) {
        take_sets();
        const uint64_t now = plat::tick_ms();
        wait_for_sets(next_start > now ? next_start - now : 1);
        continue;
      }
      retry_ms = 1000;
    }
    // A set wakes the line: it is handed to the library and sent by the poll that follows.
    take_sets();
    poll();
    settle_due(plat::tick_ms());
    wait_for_sets(x_.DetectScanTime());
  }
  stopping_ = true;
  take_sets();
  for (const auto& [idx, value] : waiting_) result(config_.tags[idx].name, false, kStopping);
  waiting_.clear();
  drain();
  while (!writing_.empty())
    settle(writing_.front(), false, "the gateway stopped before the outcome was known");
  {
    std::lock_guard<std::mutex> lock(mu_);
    finished_ = true;
  }
  take_sets();
  if (running_) stop_driver();
  running_ = false;
  all_offline(KORVEL_LINK_PAUSED, "stopped");
}

void Line::drain() {
  // Writes handed to the library may be on the wire already: polling a little longer tells their
  // outcome instead of guessing it.
  const uint64_t until = plat::tick_ms() + kStopSettleMs;
  while (running_ && !writing_.empty() && plat::tick_ms() < until) {
    take_sets();
    poll();
    settle_due(plat::tick_ms());
    if (writing_.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp<uint16_t>(x_.DetectScanTime(), 1, 100)));
  }
}

void Line::poll() {
  int32_t n = 0;
  char* msg = nullptr;
  x_.OnDataRead(&n, buf_.data(), &msg);
  polls_.fetch_add(1, std::memory_order_relaxed);
  const std::string text = cli::take_message(msg);
  if (!text.empty() && text != last_message_) say(text);
  if (!text.empty()) last_message_ = text;
  for (int32_t i = 0; i < n && i < static_cast<int32_t>(buf_.size()); ++i) {
    TTagValue& v = buf_[static_cast<size_t>(i)];
    char* owned = v.DataType == kTypeString ? v.Data.str : nullptr;
    report(v);
    std::free(owned);
  }
  pub_.values(id_, reports_);
  reports_.clear();
  link_changed();
}

void Line::result(const std::string& tag, bool ok, const std::string& error) {
  pub_.write_result(id_, tag, ok, error);
}

void Line::report(const TTagValue& v) {
  if (v.TagID == link_state_id_) {
    link_state_ = v.DataType == kTypeReal ? static_cast<int>(v.Data.dbl) : 0;
    link_dirty_ = true;
    return;
  }
  if (v.TagID == link_text_id_) {
    link_text_ = v.Data.str != nullptr ? plat::gbk_to_utf8(v.Data.str) : std::string();
    link_dirty_ = true;
    return;
  }
  if (v.TagID == enabled_id_) {
    enabled_ = v.DataType == kTypeBool && v.Data.bln != 0;
    link_dirty_ = true;
    return;
  }
  if (v.TagID >= first_module_id_) {
    const size_t k = static_cast<size_t>(v.TagID - first_module_id_);
    if (k < modules_.size()) set_availability(modules_[k], module_answers(v));
    return;
  }
  if (v.TagID < 1 || static_cast<size_t>(v.TagID) > tags_.size()) return;
  const size_t idx = static_cast<size_t>(v.TagID - 1);
  Tag& t = tags_[idx];
  t.status = v.Status;
  if ((v.Status & kStatusFailure) == 0) {
    t.has_read = true;
    if (v.DataType == kTypeReal)
      t.last_number = v.Data.dbl;
    else if (v.DataType == kTypeBool)
      t.last_number = v.Data.bln;
    else if (v.DataType == kTypeString)
      last_text_[idx] = v.Data.str != nullptr ? plat::gbk_to_utf8(v.Data.str) : std::string();
  }
  // A failing module's tags come with a placeholder (0, false, "Error"): what a subscriber must
  // see is the last value read, with the flags that say it is not current.
  Report& r = reports_.emplace_back();
  r.tag = idx;
  r.type = t.has_read ? v.DataType : kNoValueRead;
  r.real = t.last_number;
  r.boolean = t.last_number != 0;
  if (r.type == kTypeString) r.text = last_text_[idx];
  r.status = v.Status;
  r.time = v.Time;
  if (!t.writing) return;
  // Delivery clears a tag's failure bits; a write that could not be delivered sets "no answer".
  if ((v.Status & KORVEL_STATUS_NO_ANSWER) != 0 && v.Status != t.status_before)
    settle(idx, false, "not delivered: " + joined_flags(v.Status));
  else if (t.status_before != 0 && v.Status == 0)
    settle(idx, true, std::string());
}

void Line::take_sets() {
  std::vector<std::pair<std::string, std::string>> sets;
  {
    std::lock_guard<std::mutex> lock(mu_);
    sets.swap(sets_);
  }
  for (const auto& [name, payload] : sets) order(name, payload);
}

void Line::order(const std::string& name, const std::string& payload) {
  const size_t* it = find(name);
  std::string err;
  SetValue value;
  if (it == nullptr)
    err = "unknown tag";
  else if (!tags_[*it].writable)
    err = "not writable";
  else if (!parse_set(payload, config_.tags[*it].type, value, err))
    ;
  else if (stopping_)
    err = kStopping;
  else if (!running_)
    err = "the line is not running";
  if (!err.empty()) {
    result(name, false, err);
    return;
  }
  const size_t idx = *it;
  if (!tags_[idx].writing) {
    issue(idx, value);
    return;
  }
  // The newest set of a tag wins, as in the library's own write queue: one waits behind the
  // write on its way, and a newer one takes its place.
  auto [w, fresh] = waiting_.try_emplace(idx, value);
  if (fresh) return;
  result(name, false, "superseded");
  w->second = std::move(value);
}

void Line::issue(size_t idx, const SetValue& value) {
  Tag& t = tags_[idx];
  const uint8_t type = config_.tags[idx].type;
  TTagValue rec{};
  rec.TagID = static_cast<int32_t>(idx + 1);
  rec.DataType = type;
  std::string text = value.text;
  if (type == kTypeReal)
    rec.Data.dbl = value.real;
  else if (type == kTypeBool)
    rec.Data.bln = value.boolean ? 1 : 0;
  else
    rec.Data.str = text.data();
  char* msg = nullptr;
  const bool queued = x_.OnDataWrite(1, &rec, &msg) != 0;
  const std::string why = cli::take_message(msg);
  if (!queued) {
    result(config_.tags[idx].name, false,
           "refused by the library" + (why.empty() ? std::string() : ": " + why));
    return;
  }
  t.writing = true;
  t.status_before = t.status;
  t.deadline = plat::tick_ms() + write_wait_ms() * (writing_.size() + 1);
  writing_.push_back(idx);
}

void Line::settle(size_t idx, bool ok, const std::string& error) {
  Tag& t = tags_[idx];
  t.writing = false;
  if (const auto it = std::find(writing_.begin(), writing_.end(), idx); it != writing_.end())
    writing_.erase(it);
  const std::string& name = config_.tags[idx].name;
  result(name, ok, error);
  const auto w = waiting_.find(idx);
  if (w == waiting_.end()) return;
  const SetValue next = std::move(w->second);
  waiting_.erase(w);
  if (stopping_ || !running_) {
    result(name, false, stopping_ ? kStopping : "the line is not running");
    return;
  }
  issue(idx, next);
}

void Line::settle_due(uint64_t now) {
  // The library had the time to send the write or to report it failed. A failure it could not
  // report (the tag was failing already) leaves the status bad.
  std::vector<size_t> due;
  for (size_t i : writing_)
    if (now >= tags_[i].deadline) due.push_back(i);
  for (size_t i : due) {
    const Tag& t = tags_[i];
    if (!t.writing || now < t.deadline) continue;  // settled meanwhile, or its next write
    if (t.status == 0)
      settle(i, true, std::string());
    else
      settle(i, false, "not delivered: " + joined_flags(t.status));
  }
}

void Line::link_changed() {
  if (!link_dirty_) return;
  link_dirty_ = false;
  pub_.link(id_, link_state_, link_text_, enabled_);
}

void Line::set_availability(int module, bool online) {
  const auto it = availability_.find(module);
  if (it != availability_.end() && it->second == online) return;
  availability_[module] = online;
  pub_.availability(id_, module, online);
}

void Line::all_offline(int state, const std::string& text) {
  for (int m : modules_) set_availability(m, false);
  link_state_ = state;
  link_text_ = text;
  link_dirty_ = true;
  link_changed();
}

}  // namespace korvel::gateway
