#include "gateway/line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/host_tags.h"
#include "cli/status_names.h"
#include "driver/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace korvel::gateway {
namespace {

// Sets that wait in the gateway: all lines' sets not yet taken, and per tag behind its write.
constexpr size_t kMaxQueuedSets = 256;
constexpr size_t kMaxWaitingPerTag = 8;

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

std::string json_text(const std::string& utf8) {
  return cli::json_string(utf8);
}

}  // namespace

Line::Line(const LineConfig& config, const cli::HostExports& x, Broker& broker, const std::string& prefix)
    : config_(config), x_(x), broker_(broker), base_(prefix + "/" + config.name + "/") {
  for (const cli::TagSpec& s : config_.tags) {
    Tag t;
    t.spec = s;
    t.topic = base_ + s.name;
    t.slot = broker_.slot(t.topic);
    t.module = module_of(s.address);
    t.writable =
        std::find(config_.writable.begin(), config_.writable.end(), s.name) != config_.writable.end();
    by_name_[s.name] = tags_.size();
    tags_.push_back(std::move(t));
  }
  // The line's health is published whatever the user's list holds: the line's state as a number
  // and a text, and each configured module's link.
  std::vector<cli::TagSpec> all = config_.tags;
  link_state_id_ = static_cast<int32_t>(all.size() + 1);
  all.push_back({"~link", "COMMLINK", kTypeReal, 1000});
  link_text_id_ = static_cast<int32_t>(all.size() + 1);
  all.push_back({"~linktext", "COMMLINK", kTypeString, 1000});
  enabled_id_ = static_cast<int32_t>(all.size() + 1);
  all.push_back({"~enabled", "ENCOMMLINK", kTypeBool, 1000});
  first_module_id_ = static_cast<int32_t>(all.size() + 1);
  // As a text: only the text follows the module's own link; a number or a Boolean follows the
  // whole line's.
  for (const TDevInfo& d : config_.block->Devices) {
    if (d.DevType == 2) continue;
    modules_.push_back(d.DevID);
    all.push_back(
        {"~dev" + std::to_string(d.DevID), "DEVICELINK" + std::to_string(d.DevID), kTypeString, 1000});
  }
  infos_ = cli::tag_infos(all);
  buf_.resize(infos_.size() + 1);
}

Line::~Line() {
  stop();
}

void Line::start() {
  thread_ = std::thread([this] { run(); });
}

void Line::stop() {
  stop_.store(true);
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Line::say(const std::string& text) {
  std::fprintf(stderr, "korvel-gateway: %s: %s\n", config_.name.c_str(), text.c_str());
}

void Line::offer_set(const std::string& tag, const std::string& payload) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (sets_.size() < kMaxQueuedSets) {
      sets_.emplace_back(tag, payload);
      return;
    }
  }
  result(tag, false, "too many sets waiting");
}

void Line::result(const std::string& tag, bool ok, const std::string& error) {
  if (publisher_ != nullptr)
    publisher_->write_result(publisher_line_, tag, ok, error);
  else
    broker_.publish(base_ + tag + "/write_result", write_result(ok, error), false);
}

uint64_t Line::write_wait_ms() const {
  // Writes go out before reads: one waits at most for the exchange on the line, the line's rest
  // after a failed read, and its own sends with their retries, each up to one time-out.
  const uint64_t timeout = std::clamp<uint64_t>(config_.block->TimeOut, 10, 60000);
  return (config_.block->WriteCount + 5ULL) * timeout + 300;
}

bool Line::start_driver() {
  std::vector<TTagInfo*> pointers = cli::tag_pointers(infos_);
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

void Line::run() {
  uint64_t retry_ms = 1000;
  uint64_t next_start = 0;
  while (!stop_.load()) {
    if (!running_) {
      // A line that did not start is tried again with back-off; sets meanwhile get their refusal.
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
        std::unique_lock<std::mutex> lock(mu_);
        wake_.wait_for(lock, std::chrono::milliseconds(next_start > now ? next_start - now : 1),
                       [&] { return stop_.load() || !sets_.empty(); });
        continue;
      }
      retry_ms = 1000;
    }
    take_sets();
    poll();
    settle_due(plat::tick_ms());
    const uint16_t period = x_.DetectScanTime();
    std::unique_lock<std::mutex> lock(mu_);
    wake_.wait_for(lock, std::chrono::milliseconds(period == 0 ? 1 : period),
                   [&] { return stop_.load() || !sets_.empty(); });
  }
  while (!writing_.empty())
    settle(writing_.front(), false, "the gateway stopped before the outcome was known");
  take_sets();
  if (running_) stop_driver();
  running_ = false;
  all_offline(KORVEL_LINK_PAUSED, "stopped");
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
    report(v);
    if (v.DataType == kTypeString) std::free(v.Data.str);
  }
  if (!outbox_.empty()) broker_.publish_retained(outbox_);
  outbox_.clear();
  if (publisher_ != nullptr) publisher_->values(publisher_line_, reports_);
  reports_.clear();
  publish_link();
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
    if (k < modules_.size()) publish_availability(modules_[k], module_answers(v));
    return;
  }
  if (v.TagID < 1 || static_cast<size_t>(v.TagID) > tags_.size()) return;
  const size_t idx = static_cast<size_t>(v.TagID - 1);
  Tag& t = tags_[idx];
  t.status = v.Status;
  if (publisher_ != nullptr) {
    Report& r = reports_.emplace_back();
    r.tag = idx;
    r.type = v.DataType;
    r.real = v.DataType == kTypeReal ? v.Data.dbl : 0;
    r.boolean = v.DataType == kTypeBool && v.Data.bln != 0;
    if (v.DataType == kTypeString && v.Data.str != nullptr) r.text = plat::gbk_to_utf8(v.Data.str);
    r.status = v.Status;
    r.time = v.Time;
  } else {
    outbox_.emplace_back(t.slot, value_message(v, t.module));
  }
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
  for (const auto& [name, payload] : sets) {
    const auto it = by_name_.find(name);
    std::string err;
    SetValue value;
    if (it == by_name_.end())
      err = "unknown tag";
    else if (!tags_[it->second].writable)
      err = "not writable";
    else if (!parse_set(payload, tags_[it->second].spec.type, value, err))
      ;
    else if (!running_ || stop_.load())
      err = "the line is not running";
    if (!err.empty()) {
      result(name, false, err);
      continue;
    }
    Tag& t = tags_[it->second];
    if (!t.writing) {
      issue(it->second, value);
    } else if (t.waiting.size() < kMaxWaitingPerTag) {
      t.waiting.push_back({value});
    } else {
      result(name, false, "too many sets of this tag waiting");
    }
  }
}

void Line::issue(size_t idx, const SetValue& value) {
  Tag& t = tags_[idx];
  TTagValue rec{};
  rec.TagID = static_cast<int32_t>(idx + 1);
  rec.DataType = t.spec.type;
  std::string text = value.text;
  if (t.spec.type == kTypeReal)
    rec.Data.dbl = value.real;
  else if (t.spec.type == kTypeBool)
    rec.Data.bln = value.boolean ? 1 : 0;
  else
    rec.Data.str = text.data();
  char* msg = nullptr;
  const bool queued = x_.OnDataWrite(1, &rec, &msg) != 0;
  const std::string why = cli::take_message(msg);
  if (!queued) {
    result(t.spec.name, false, "refused by the library" + (why.empty() ? std::string() : ": " + why));
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
  writing_.erase(std::find(writing_.begin(), writing_.end(), idx));
  result(t.spec.name, ok, error);
  if (t.waiting.empty()) return;
  const Set next = t.waiting.front();
  t.waiting.pop_front();
  if (stop_.load() || !running_) {
    settle(idx, false, "the gateway stopped before the set was written");
    return;
  }
  issue(idx, next.value);
}

void Line::settle_due(uint64_t now) {
  for (size_t k = 0; k < writing_.size();) {
    const size_t i = writing_[k];
    Tag& t = tags_[i];
    if (now < t.deadline) {
      ++k;
      continue;
    }
    // The library had the time to send the write or to report it failed. A failure it could not
    // report (the tag was failing already) leaves the status bad.
    if (t.status == 0)
      settle(i, true, std::string());
    else
      settle(i, false, "not delivered: " + joined_flags(t.status));
    // settle() took the tag off the list, or put its next write on at the end.
    if (k < writing_.size() && writing_[k] == i) ++k;
  }
}

void Line::publish_link() {
  if (!link_dirty_) return;
  link_dirty_ = false;
  if (publisher_ != nullptr) {
    publisher_->link(publisher_line_, link_state_, link_text_, enabled_);
    return;
  }
  broker_.publish(base_ + "link",
                  "{\"state\": " + std::to_string(link_state_) + ", \"text\": " + json_text(link_text_) + "}",
                  true);
}

void Line::publish_availability(int module, bool online) {
  const auto it = availability_.find(module);
  if (it != availability_.end() && it->second == online) return;
  availability_[module] = online;
  if (publisher_ != nullptr) {
    publisher_->availability(publisher_line_, module, online);
    return;
  }
  broker_.publish(base_ + "module/" + std::to_string(module) + "/availability", online ? "online" : "offline",
                  true);
}

void Line::all_offline(int state, const std::string& text) {
  for (int m : modules_) publish_availability(m, false);
  link_state_ = state;
  link_text_ = text;
  link_dirty_ = true;
  publish_link();
}

}  // namespace korvel::gateway
