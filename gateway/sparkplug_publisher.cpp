#include "gateway/sparkplug_publisher.h"

#include <charconv>
#include <chrono>
#include <cstdio>

#include "cli/blockfile.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "gateway/payload.h"
#include "platform/files.h"

namespace korvel::gateway {
namespace {

// Status bits of a tag that has never had a value: it is null, not good.
constexpr uint32_t kNoValue = KORVEL_STATUS_ADDRESS_REFUSED | KORVEL_STATUS_NO_VALUE_YET;
// The lines' statistics change with every poll: they go out this often, not with each.
constexpr uint64_t kStatsMs = 10000;

uint64_t now_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

uint32_t datatype(uint8_t tag_type) {
  return tag_type == kTypeReal   ? sparkplug::kDouble
         : tag_type == kTypeBool ? sparkplug::kBoolean
                                 : sparkplug::kString;
}

// A command's value as a set's payload of the JSON mode, so that the same rules take or refuse it.
std::string set_payload(const sparkplug::Node::Order& o) {
  switch (o.type) {
    case sparkplug::kDouble: {
      char num[32];
      const auto r = std::to_chars(num, num + sizeof num, o.value.real);
      return std::string(num, r.ptr);
    }
    case sparkplug::kBoolean:
      return o.value.boolean ? "true" : "false";
    case sparkplug::kString:
      return cli::json_string(o.value.text);
    default:
      return std::to_string(o.value.integer);
  }
}

}  // namespace

SparkplugPublisher::SparkplugPublisher(const Config& config, Broker& broker)
    : wait_for_host_(!config.mqtt.primary_host_id.empty()),
      state_topic_("spBv1.0/STATE/" + config.mqtt.primary_host_id),
      bdseq_file_(config.mqtt.bdseq_file),
      broker_(broker),
      node_(config.mqtt.group_id, config.mqtt.edge_node_id) {
  for (size_t li = 0; li < config.lines.size(); ++li) {
    const LineConfig& lc = config.lines[li];
    LineRef l;
    l.name = lc.name;
    l.link_state = node_.add_node_metric(lc.name + "/Link State", sparkplug::kInt32);
    l.link_text = node_.add_node_metric(lc.name + "/Link Text", sparkplug::kString);
    l.enabled = node_.add_node_metric(lc.name + "/Communication Enabled", sparkplug::kBoolean);
    l.polls_metric = node_.add_node_metric(lc.name + "/Statistics/Polls", sparkplug::kInt64);
    l.reported_metric = node_.add_node_metric(lc.name + "/Statistics/Values Reported", sparkplug::kInt64);
    l.failed_metric = node_.add_node_metric(lc.name + "/Statistics/Values Failed", sparkplug::kInt64);
    for (const TDevInfo& d : lc.block->Devices)
      if (d.DevType != 2) l.device_of_module[d.DevID] = node_.add_device(device_id(lc, d.DevID));
    for (size_t t = 0; t < lc.tags.size(); ++t) {
      const cli::TagSpec& s = lc.tags[t];
      const std::optional<int> module = module_of(s.address);
      Place p;
      const auto dev = module ? l.device_of_module.find(*module) : l.device_of_module.end();
      if (dev != l.device_of_module.end()) {
        p.device = dev->second;
        p.metric = node_.add_device_metric(p.device, s.name, datatype(s.type));
      } else {
        // A tag of no module (the line's own) is a node metric under the line's name.
        p.metric = node_.add_node_metric(lc.name + "/" + s.name, datatype(s.type));
      }
      l.tags.push_back(p);
      l.by_name[s.name] = t;
      owners_[{p.device, p.metric}] = Owner{static_cast<int>(li), s.name};
    }
    lines_.push_back(std::move(l));
  }
}

std::vector<std::string> SparkplugPublisher::subscriptions() const {
  std::vector<std::string> s = {node_.topic("NCMD"), node_.topic("DCMD") + "/+"};
  if (wait_for_host_) s.push_back(state_topic_);
  return s;
}

sparkplug::Message SparkplugPublisher::will() {
  std::lock_guard<std::mutex> lock(mu_);
  // The file holds the bdSeq of the next connection: each CONNECT carries the one after the last,
  // also across restarts, so that a host application never takes an old death for the new session.
  uint64_t next = 0;
  std::string text;
  if (plat::read_file(bdseq_file_, text, 64)) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), next);
    if (r.ec != std::errc() || next > 255) next = 0;
  }
  node_.set_bdseq(next);
  if (!plat::write_file(bdseq_file_, std::to_string((next + 1) % 256) + "\n") && !said_bdseq_) {
    std::fprintf(stderr, "korvel-gateway: cannot write %s: bdSeq starts again at 0 after a restart\n",
                 bdseq_file_.c_str());
    said_bdseq_ = true;
  }
  return node_.death(now_ms());
}

bool SparkplugPublisher::host_online_locked() const {
  return !wait_for_host_ || (host_online_ && host_connection_ == broker_.connections());
}

void SparkplugPublisher::flush_locked() {
  if (stopped_) return;
  if (!broker_.connected() || !host_online_locked()) {
    node_.unborn();
    return;
  }
  const unsigned long generation = broker_.generation();
  std::vector<sparkplug::Message> out;
  const uint64_t now = now_ms();
  if (!node_.born() || generation != born_generation_) {
    node_.birth(now, out);
    born_generation_ = generation;
  } else {
    node_.flush(now, out);
  }
  if (!out.empty() && !broker_.publish_in_order(generation, out)) node_.unborn();
}

void SparkplugPublisher::tick() {
  std::lock_guard<std::mutex> lock(mu_);
  const uint64_t now = now_ms();
  if (now - stats_at_ >= kStatsMs) {
    stats_at_ = now;
    for (const LineRef& l : lines_) {
      for (auto [metric, count] :
           {std::pair{l.polls_metric, l.polls}, {l.reported_metric, l.reported}, {l.failed_metric, l.failed}})
        node_.set_node_value(metric, sparkplug::Value{false, 0, false, static_cast<int64_t>(count), {}}, now);
    }
  }
  flush_locked();
}

void SparkplugPublisher::stop() {
  std::lock_guard<std::mutex> lock(mu_);
  flush_locked();  // the lines' last words: their modules' deaths
  stopped_ = true;
  if (!node_.born() || born_generation_ != broker_.generation()) return;
  std::vector<sparkplug::Message> death = {node_.death(now_ms())};
  broker_.publish_in_order(born_generation_, death);
  node_.unborn();
}

void SparkplugPublisher::refuse_locked(const std::string& what) {
  std::fprintf(stderr, "korvel-gateway: command refused: %s\n", what.c_str());
  node_.set_node_value(2, sparkplug::Value{false, 0, false, 0, what}, now_ms());
  node_.touch(-1, 2);  // the same refusal again is news too
}

void SparkplugPublisher::state_locked(const std::string& payload) {
  bool online = false;
  uint64_t ts = 0;
  if (!sparkplug::parse_state(payload, online, ts)) {
    std::fprintf(stderr, "korvel-gateway: %s: not a STATE payload\n", state_topic_.c_str());
    return;
  }
  // An older STATE (a stale retained one) does not overrule a newer.
  if (ts < host_timestamp_) return;
  host_timestamp_ = ts;
  host_online_ = online;
  host_connection_ = broker_.connections();
  if (!online) node_.unborn();
  flush_locked();
}

void SparkplugPublisher::on_message(const std::string& topic, const std::string& payload) {
  std::vector<std::pair<Owner, std::string>> offers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (wait_for_host_ && topic == state_topic_) {
      state_locked(payload);
      return;
    }
    sparkplug::Node::Command c;
    if (!node_.command(topic, payload, c)) return;
    // A command belongs to the session it was sent in: one that arrives before the births (or
    // while the primary host is away) is not carried out, and cannot be answered either.
    if (stopped_ || !node_.born() || born_generation_ != broker_.generation()) {
      std::fprintf(stderr, "korvel-gateway: %s: not carried out, the node is not born\n", topic.c_str());
      return;
    }
    for (const std::string& r : c.refused) refuse_locked(r);
    for (const sparkplug::Node::Order& o : c.writes) {
      const auto it = owners_.find({o.device, o.metric});
      if (it == owners_.end())
        refuse_locked(o.name + ": not writable");
      else
        offers.emplace_back(it->second, set_payload(o));
    }
    if (c.rebirth) node_.unborn();
    flush_locked();
  }
  // Outside the lock: a line refusing at once answers through write_result().
  for (const auto& [owner, text] : offers) offer_(owner.line, owner.tag, text);
}

void SparkplugPublisher::values(int line, const std::vector<Report>& reports) {
  std::lock_guard<std::mutex> lock(mu_);
  LineRef& l = lines_[static_cast<size_t>(line)];
  ++l.polls;
  l.reported += reports.size();
  for (const Report& r : reports) {
    if (r.status != 0) ++l.failed;
    if (r.tag >= l.tags.size()) continue;
    const Place p = l.tags[r.tag];
    sparkplug::Value v;
    if ((r.status & kNoValue) == 0 && r.type != kNoValueRead) {
      // A failing tag keeps the last value read (the line's); its Quality says it is bad.
      v.null = false;
      if (r.type == kTypeReal)
        v.real = r.real;
      else if (r.type == kTypeBool)
        v.boolean = r.boolean;
      else
        v.text = r.text;
    }
    const uint64_t ts = epoch_ms(r.time);
    if (p.device < 0)
      node_.set_node_value(p.metric, v, ts);
    else
      node_.set_value(p.device, p.metric, v, r.status, ts);
  }
  flush_locked();
}

void SparkplugPublisher::link(int line, int state, const std::string& text, bool enabled) {
  std::lock_guard<std::mutex> lock(mu_);
  const LineRef& l = lines_[static_cast<size_t>(line)];
  const uint64_t now = now_ms();
  node_.set_node_value(l.link_state, sparkplug::Value{false, 0, false, state, {}}, now);
  node_.set_node_value(l.link_text, sparkplug::Value{false, 0, false, 0, text}, now);
  node_.set_node_value(l.enabled, sparkplug::Value{false, 0, enabled, 0, {}}, now);
  flush_locked();
}

void SparkplugPublisher::availability(int line, int module, bool online) {
  std::lock_guard<std::mutex> lock(mu_);
  const LineRef& l = lines_[static_cast<size_t>(line)];
  const auto it = l.device_of_module.find(module);
  if (it == l.device_of_module.end()) return;
  // Goes out with the poll's values (or the next tick): a module's DBIRTH then carries the values
  // of the answers that brought it back.
  node_.set_online(it->second, online);
}

void SparkplugPublisher::write_result(int line, const std::string& tag, bool ok, const std::string& error) {
  std::lock_guard<std::mutex> lock(mu_);
  const LineRef& l = lines_[static_cast<size_t>(line)];
  const auto it = l.by_name.find(tag);
  if (it == l.by_name.end()) return;
  const Place p = l.tags[it->second];
  // The metric goes out again as it now stands, so that the host application sees the write land
  // or not; a refusal or a failure also names itself in the node's metric.
  node_.touch(p.device, p.metric);
  if (!ok)
    refuse_locked((p.device < 0 ? std::string() : node_.device_id(p.device) + "/") +
                  node_.metric_name(p.device, p.metric) + ": " + error);
  flush_locked();
}

}  // namespace korvel::gateway
