#include "sim/module_sim.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace korvel::sim {
namespace {

constexpr size_t kMaxFrame = 512;  // longer input without CR is noise, not a request

bool valid_station(int s) {
  return s >= 0 && s < kStations;
}

uint32_t param_or(const Fault& f, uint32_t fallback) {
  return f.param >= 0 ? static_cast<uint32_t>(f.param) : fallback;
}

const Fault* find_fault(const std::vector<Fault>& active, FaultKind k) {
  for (const Fault& f : active)
    if (f.kind == k) return &f;
  return nullptr;
}

}  // namespace

void ModuleSim::set_module(int station, ModuleConfig config) {
  if (!valid_station(station)) return;
  std::lock_guard<std::mutex> lock(mu_);
  stations_[station].config = std::move(config);
}

void ModuleSim::remove_module(int station) {
  std::lock_guard<std::mutex> lock(mu_);
  stations_.erase(station);
}

bool ModuleSim::has_module(int station) const {
  std::lock_guard<std::mutex> lock(mu_);
  return stations_.count(station) > 0;
}

std::optional<ModuleConfig> ModuleSim::module(int station) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return std::nullopt;
  return it->second.config;
}

bool ModuleSim::set_pv(int station, Signal v) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return false;
  it->second.config.pv = v;
  return true;
}

bool ModuleSim::set_ao(int station, Signal v) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return false;
  it->second.config.ao = v;
  return true;
}

bool ModuleSim::set_alarm(int station, int bits) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  if (it == stations_.end()) return false;
  it->second.config.alarm = Signal(bits);
  it->second.config.status = -1;
  return true;
}

bool ModuleSim::set_param(int station, int param, Signal v) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  if (it == stations_.end() || param < 0) return false;
  it->second.config.params[param] = v;
  return true;
}

void ModuleSim::load_test_line() {
  for (const test_line::Station& t : test_line::kStations) {
    ModuleConfig m = ModuleConfig::with_defaults(t.plnk ? Family::PLNK : Family::PLNE);
    m.pv = Signal(t.pv);
    m.alarm = Signal(t.alarm);
    m.ao = Signal(t.ao);
    for (int n = 0; n <= 0xFF; ++n) m.params[n] = Signal(n);
    set_module(t.station, std::move(m));
    clear_faults(t.station);
    if (t.faulty) add_fault(t.station, t.fault);
  }
}

void ModuleSim::add_fault(int station, Fault f) {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  if (it != stations_.end()) it->second.faults.push_back(f);
}

void ModuleSim::clear_faults(int station) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& [n, s] : stations_) {
    if (station < 0 || n == station) s.faults.clear();
  }
}

std::vector<Fault> ModuleSim::faults(int station) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  return it == stations_.end() ? std::vector<Fault>{} : it->second.faults;
}

std::vector<Reply> ModuleSim::feed(std::string_view bytes, uint64_t now_ms) {
  std::vector<Reply> out;
  std::lock_guard<std::mutex> lock(mu_);
  for (char c : bytes) {
    if (discarding_) {
      discarding_ = c != kCR;
      continue;
    }
    pending_ += c;
    if (c == kCR) {
      std::string frame = std::move(pending_);
      pending_.clear();
      if (auto r = serve_frame(frame, now_ms)) out.push_back(std::move(*r));
    } else if (pending_.size() > kMaxFrame) {
      push_log({WireEvent::Dir::Received, now_ms, -1, pending_, "over-long input dropped"});
      pending_.clear();
      discarding_ = true;
    }
  }
  return out;
}

std::optional<Reply> ModuleSim::serve_frame(std::string_view frame, uint64_t now_ms) {
  const Request req = parse_request(frame.substr(0, frame.size() - 1));
  WireEvent in{WireEvent::Dir::Received, now_ms, req.station, std::string(frame),
               std::string(kind_name(req.kind))};
  if (req.kind == RequestKind::Parm) in.note += " " + std::to_string(req.param);

  const auto it = stations_.find(req.station);
  if (req.kind == RequestKind::Malformed || req.kind == RequestKind::BadCheck || it == stations_.end()) {
    if (req.kind != RequestKind::Malformed && req.kind != RequestKind::BadCheck)
      in.note += ", no such module";
    push_log(std::move(in));
    return std::nullopt;
  }
  Station& st = it->second;
  ++st.record.requests;
  if (req.kind == RequestKind::Write) {
    record_write(st, req, in);
    push_log(std::move(in));
    return std::nullopt;  // writes get no answer
  }

  const std::vector<Fault> active = take_faults(st);
  Reply r;
  r.station = req.station;
  if (const Fault* f = find_fault(active, FaultKind::Vanish)) {
    r.vanish_ms = param_or(*f, 1000);
    r.note = fault_text(*f);
    in.note += ", line vanishes";
    push_log(std::move(in));
    return r;
  }
  if (const Fault* f = find_fault(active, FaultKind::NoDrain)) {
    r.hold_ms = param_or(*f, 1000);
    r.note = fault_text(*f);
    in.note += ", line stops draining";
    push_log(std::move(in));
    return r;
  }
  if (find_fault(active, FaultKind::Silent)) {
    in.note += ", silent";
    push_log(std::move(in));
    return std::nullopt;
  }
  push_log(std::move(in));

  const std::string text = find_fault(active, FaultKind::Refuse) ? "?" : answer_text(st, req, now_ms);
  if (text == "?") r.note = "refused";
  int check_station = req.station;
  if (const Fault* f = find_fault(active, FaultKind::WrongStation))
    check_station = f->param >= 0 ? f->param : (req.station + 1) % kStations;
  r.bytes = answer_body(check_station, text);
  apply_faults(active, r);
  return r;
}

void ModuleSim::record_write(Station& st, const Request& req, WireEvent& in) {
  std::vector<std::string>& writes = st.record.writes;
  if (write_limit_ > 0 && writes.size() >= write_limit_)
    writes.erase(writes.begin(),
                 writes.begin() + static_cast<std::ptrdiff_t>(writes.size() - write_limit_ + 1));
  writes.push_back(req.payload);
  if (req.payload == kPasswordPayload) {
    ++st.record.password_writes;
    in.note += " password";
  }
}

std::vector<Fault> ModuleSim::take_faults(Station& st) {
  // Counted faults are used up by the request they act on.
  std::vector<Fault> active;
  for (auto f = st.faults.begin(); f != st.faults.end();) {
    active.push_back(*f);
    if (f->times > 0 && --f->times == 0) {
      f = st.faults.erase(f);
    } else {
      ++f;
    }
  }
  return active;
}

void ModuleSim::set_noise(std::string bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  noise_ = std::move(bytes);
}

std::string ModuleSim::noise(size_t n) const {
  if (noise_.empty()) return garbage(n);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out += noise_[i % noise_.size()];
  return out;
}

void ModuleSim::apply_faults(const std::vector<Fault>& active, Reply& r) const {
  std::string& frame_out = r.bytes;  // the answer body, still without its CR
  if (find_fault(active, FaultKind::BadCheck)) {
    char& last = frame_out.back();
    last = static_cast<char>(0x40 + ((last - 0x40 + 1) & 0x0F));
  }
  frame_out += kCR;
  if (const Fault* f = find_fault(active, FaultKind::Cut)) {
    const size_t keep = param_or(*f, static_cast<uint32_t>(frame_out.size() - 1));
    frame_out.resize(std::min(keep, frame_out.size() - 1));
  }
  if (const Fault* f = find_fault(active, FaultKind::OverLong)) {
    // The answer runs on without its CR: digits past the check characters, never a CR or "?".
    if (!frame_out.empty() && frame_out.back() == kCR) frame_out.pop_back();  // a cut one has none
    const size_t len = param_or(*f, 600);
    for (size_t i = 0; frame_out.size() < len; ++i) frame_out += static_cast<char>('0' + i % 10);
  }
  if (find_fault(active, FaultKind::Double)) frame_out += frame_out;
  if (const Fault* f = find_fault(active, FaultKind::GarbageBefore))
    frame_out = noise(param_or(*f, 3)) + frame_out;
  if (const Fault* f = find_fault(active, FaultKind::GarbageAfter)) frame_out += noise(param_or(*f, 3));
  if (const Fault* f = find_fault(active, FaultKind::Delay)) r.delay_ms = param_or(*f, 500);
  if (const Fault* f = find_fault(active, FaultKind::Dribble))
    r.gap_ms = std::max<uint32_t>(1, param_or(*f, 20));
  if (const Fault* f = find_fault(active, FaultKind::Stray)) {
    r.after = noise(param_or(*f, 3));
    r.after_ms = kStrayGapMs;
  }
  if (const Fault* f = find_fault(active, FaultKind::NoiseCr)) {
    // The noise takes the answer's place in time; the answer follows lead ms behind it.
    const uint32_t lead = param_or(*f, 5);
    r.after = std::move(frame_out);
    r.after_ms = lead;
    frame_out = noise(2) + kCR;
    r.delay_ms = r.delay_ms > lead ? r.delay_ms - lead : 0;
  }
  if (const Fault* f = find_fault(active, FaultKind::Repeat)) {
    r.after = frame_out;
    r.after_ms = param_or(*f, 20);
  }
  for (const Fault& f : active) {
    if (!r.note.empty()) r.note += " ";
    r.note += fault_text(f);
  }
}

std::string ModuleSim::answer_text(const Station& s, const Request& req, uint64_t now_ms) const {
  const ModuleConfig& m = s.config;
  const char status = status_char(m, now_ms);
  switch (req.kind) {
    case RequestKind::Pv:
      return "=" + format_value(m.pv.at(now_ms), m.digits) + status;
    case RequestKind::Ao:
      return "=" + format_value(m.ao.at(now_ms), m.digits) + status;
    case RequestKind::Parm: {
      const auto p = m.params.find(req.param);
      if (p == m.params.end()) return "?";
      return "!" + format_value(p->second.at(now_ms), m.digits) + status;
    }
    default:
      return "?";
  }
}

void ModuleSim::record_sent(const Reply& r, uint64_t now_ms) {
  std::lock_guard<std::mutex> lock(mu_);
  push_log({WireEvent::Dir::Sent, now_ms, r.station, r.bytes, r.note});
}

void ModuleSim::record_line(std::string note, uint64_t now_ms, std::string bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  push_log({WireEvent::Dir::Line, now_ms, -1, std::move(bytes), std::move(note)});
}

std::string ModuleSim::exchange(std::string_view bytes, uint64_t now_ms) {
  std::string out;
  for (const Reply& r : feed(bytes, now_ms)) {
    if (r.vanish_ms > 0 || r.hold_ms > 0) continue;
    record_sent(r, now_ms);
    out += r.bytes + r.after;
  }
  return out;
}

std::string ModuleSim::reset_input() {
  std::lock_guard<std::mutex> lock(mu_);
  std::string dropped = std::move(pending_);
  pending_.clear();
  discarding_ = false;
  return dropped;
}

std::vector<WireEvent> ModuleSim::log() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

size_t ModuleSim::log_size() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_.size();
}

void ModuleSim::clear_log() {
  std::lock_guard<std::mutex> lock(mu_);
  log_.clear();
}

bool ModuleSim::wait_log(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return log_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return log_.size() >= n; });
}

bool ModuleSim::wait_for(const std::function<bool(const std::vector<WireEvent>&)>& pred,
                         int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mu_);
  return log_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return pred(log_); });
}

ModuleRecord ModuleSim::record(int station) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = stations_.find(station);
  return it == stations_.end() ? ModuleRecord{} : it->second.record;
}

void ModuleSim::set_log_limit(size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  log_limit_ = n;
}

void ModuleSim::set_write_limit(size_t n) {
  std::lock_guard<std::mutex> lock(mu_);
  write_limit_ = n;
}

void ModuleSim::set_log_sink(std::function<void(const WireEvent&)> sink) {
  std::lock_guard<std::mutex> lock(mu_);
  sink_ = std::move(sink);
}

void ModuleSim::push_log(WireEvent e) {
  if (sink_) sink_(e);
  if (log_limit_ > 0 && log_.size() >= log_limit_) {
    log_.erase(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(log_.size() / 2 + 1));
  }
  log_.push_back(std::move(e));
  log_cv_.notify_all();
}

}  // namespace korvel::sim
