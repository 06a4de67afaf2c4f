#include "gateway/sparkplug.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "cli/status_names.h"
#include "sparkplug_b.pb.h"

namespace korvel::gateway::sparkplug {
namespace {

namespace pb = korvel::sparkplug;
constexpr const char* kNamespace = "spBv1.0";

void add_property(pb::Payload::PropertySet& set, const char* key, uint32_t type, int64_t number,
                  const std::string* text = nullptr) {
  set.add_keys(key);
  pb::Payload::PropertyValue* v = set.add_values();
  v->set_type(type);
  if (text != nullptr)
    v->set_string_value(*text);
  else if (type == kInt64)
    v->set_long_value(static_cast<uint64_t>(number));
  else
    v->set_int_value(static_cast<uint32_t>(number));
}

// A command's value as its payload gave it; false when it carries none the gateway can write.
bool take_value(const pb::Payload::Metric& m, Value& v, uint32_t& type) {
  v = Value{};
  v.null = false;
  switch (m.value_case()) {
    case pb::Payload::Metric::kDoubleValue:
      v.real = m.double_value();
      type = kDouble;
      return true;
    case pb::Payload::Metric::kFloatValue:
      v.real = m.float_value();
      type = kDouble;
      return true;
    case pb::Payload::Metric::kBooleanValue:
      v.boolean = m.boolean_value();
      type = kBoolean;
      return true;
    case pb::Payload::Metric::kStringValue:
      v.text = m.string_value();
      type = kString;
      return true;
    case pb::Payload::Metric::kIntValue: {
      // Int8, Int16 and Int32 travel as their two's complement in 32 bits.
      const uint32_t dt = m.datatype();
      v.integer =
          dt >= 1 && dt <= 3 ? static_cast<int32_t>(m.int_value()) : static_cast<int64_t>(m.int_value());
      type = kInt64;
      return true;
    }
    case pb::Payload::Metric::kLongValue:
      v.integer = m.datatype() == kInt64
                      ? static_cast<int64_t>(m.long_value())
                      : static_cast<int64_t>(std::min<uint64_t>(m.long_value(), INT64_MAX));
      type = kInt64;
      return true;
    default:
      return false;
  }
}

}  // namespace

Node::Node(std::string group_id, std::string edge_node_id)
    : group_(std::move(group_id)), node_(std::move(edge_node_id)) {
  add_node_metric(kBdSeq, kInt64);
  add_node_metric(kRebirth, kBoolean);
  add_node_metric(kLastRefused, kString);
  node_metrics_[1].value = Value{false, 0, false, 0, {}};
  node_metrics_[2].value = Value{false, 0, false, 0, {}};
}

int Node::add_node_metric(const std::string& name, uint32_t type) {
  Metric m;
  m.name = name;
  m.alias = next_alias_++;
  m.type = type;
  node_metrics_.push_back(std::move(m));
  return static_cast<int>(node_metrics_.size() - 1);
}

int Node::add_device(const std::string& device_id) {
  devices_.push_back(Device{device_id, {}, {}, true, true});
  return static_cast<int>(devices_.size() - 1);
}

int Node::add_device_metric(int device, const std::string& name, uint32_t type) {
  Device& d = devices_[static_cast<size_t>(device)];
  Metric m;
  m.name = name;
  m.alias = next_alias_++;
  m.type = type;
  m.quality = true;
  d.metrics.push_back(std::move(m));
  return static_cast<int>(d.metrics.size() - 1);
}

const std::string& Node::metric_name(int d, int m) const {
  return d < 0 ? node_metrics_[static_cast<size_t>(m)].name
               : devices_[static_cast<size_t>(d)].metrics[static_cast<size_t>(m)].name;
}

std::string Node::topic(const char* type) const {
  return std::string(kNamespace) + "/" + group_ + "/" + type + "/" + node_;
}

std::string Node::device_topic(const char* type, int device) const {
  return topic(type) + "/" + devices_[static_cast<size_t>(device)].id;
}

std::string Node::encode(uint64_t now_ms, const std::vector<const Metric*>& metrics, bool birth,
                         bool with_seq) {
  pb::Payload p;
  p.set_timestamp(now_ms);
  for (const Metric* m : metrics) {
    pb::Payload::Metric* pm = p.add_metrics();
    // Births name every metric; data goes by alias alone. The datatype goes with data too:
    // decoders that read a value by its datatype (sparkplug-payload among them) find none without.
    if (birth) pm->set_name(m->name);
    pm->set_datatype(m->type);
    pm->set_alias(m->alias);
    pm->set_timestamp(m->ts != 0 ? m->ts : now_ms);
    if (m->value.null) {
      pm->set_is_null(true);
    } else {
      switch (m->type) {
        case kDouble:
          pm->set_double_value(m->value.real);
          break;
        case kBoolean:
          pm->set_boolean_value(m->value.boolean);
          break;
        case kString:
          pm->set_string_value(m->value.text);
          break;
        case kInt32:
        case kUInt32:
          pm->set_int_value(static_cast<uint32_t>(m->value.integer));
          break;
        default:
          pm->set_long_value(static_cast<uint64_t>(m->value.integer));
          break;
      }
    }
    // Quality in a birth, and in data whenever it is bad or has just changed: a host application
    // takes a metric without the property as good.
    if (m->quality && (birth || m->status != 0 || m->status != m->sent_status)) {
      pb::Payload::PropertySet* props = pm->mutable_properties();
      add_property(*props, "Quality", kInt32, m->status == 0 ? kQualityGood : kQualityBad);
      // Int64: decoders disagree on where a UInt32 property's value travels.
      add_property(*props, "Status", kInt64, m->status);
      if (m->status != 0) {
        std::string flags;
        for (const std::string& f : cli::status_flag_names(m->status))
          flags += (flags.empty() ? "" : ", ") + f;
        add_property(*props, "Flags", kString, 0, &flags);
      }
    }
  }
  if (with_seq) p.set_seq(seq_);
  return p.SerializeAsString();
}

void Node::emit(const std::string& topic, std::string payload, std::vector<Message>& out) {
  out.push_back(Message{topic, std::move(payload), 0});
  seq_ = (seq_ + 1) % 256;
}

Message Node::death(uint64_t now_ms) const {
  pb::Payload p;
  p.set_timestamp(now_ms);
  pb::Payload::Metric* m = p.add_metrics();
  m->set_name(kBdSeq);
  m->set_datatype(kInt64);
  m->set_timestamp(now_ms);
  m->set_long_value(bdseq_);
  return Message{topic("NDEATH"), p.SerializeAsString(), 1};
}

void Node::set_node_value(int metric, const Value& v, uint64_t ts) {
  Metric& m = node_metrics_[static_cast<size_t>(metric)];
  if (m.value == v) return;
  m.value = v;
  m.ts = ts;
  if (!m.dirty) node_dirty_.push_back(metric);
  m.dirty = true;
}

void Node::set_value(int device, int metric, const Value& v, uint32_t status, uint64_t ts) {
  Device& d = devices_[static_cast<size_t>(device)];
  Metric& m = d.metrics[static_cast<size_t>(metric)];
  if (m.value == v && m.status == status) return;
  m.value = v;
  m.status = status;
  m.ts = ts;
  mark(device, d, metric);
}

void Node::mark(int device, Device& d, int metric) {
  Metric& m = d.metrics[static_cast<size_t>(metric)];
  if (m.dirty) return;
  // A flush visits the devices with changes only: a node has thousands, a poll changes a few.
  if (d.dirty.empty()) dirty_devices_.push_back(device);
  d.dirty.push_back(metric);
  m.dirty = true;
}

void Node::touch(int device, int metric) {
  if (device < 0) {
    Metric& m = node_metrics_[static_cast<size_t>(metric)];
    if (!m.dirty) node_dirty_.push_back(metric);
    m.dirty = true;
    return;
  }
  mark(device, devices_[static_cast<size_t>(device)], metric);
}

void Node::set_online(int device, bool online) {
  Device& d = devices_[static_cast<size_t>(device)];
  if (d.online == online) return;
  d.online = online;
  status_changed_.push_back(device);
}

void Node::device_birth(int di, uint64_t now_ms, std::vector<Message>& out) {
  Device& d = devices_[static_cast<size_t>(di)];
  std::vector<const Metric*> all;
  all.reserve(d.metrics.size());
  for (Metric& m : d.metrics) {
    all.push_back(&m);
    m.dirty = false;
  }
  d.dirty.clear();  // its entry in dirty_devices_ is skipped from now on
  emit(device_topic("DBIRTH", di), encode(now_ms, all, true, true), out);
  for (Metric& m : d.metrics) m.sent_status = m.status;
  d.announced_online = true;
}

void Node::device_death(int di, uint64_t now_ms, std::vector<Message>& out) {
  Device& d = devices_[static_cast<size_t>(di)];
  emit(device_topic("DDEATH", di), encode(now_ms, {}, false, true), out);
  d.announced_online = false;
}

void Node::birth(uint64_t now_ms, std::vector<Message>& out) {
  seq_ = 0;
  node_metrics_[0].value = Value{false, 0, false, static_cast<int64_t>(bdseq_), {}};
  node_metrics_[0].ts = now_ms;
  std::vector<const Metric*> all;
  for (Metric& m : node_metrics_) {
    all.push_back(&m);
    m.dirty = false;
  }
  node_dirty_.clear();
  emit(topic("NBIRTH"), encode(now_ms, all, true, true), out);
  status_changed_.clear();
  // A device that does not answer is still born, so the host application knows its metrics,
  // and declared dead at once.
  for (int d = 0; d < devices(); ++d) {
    device_birth(d, now_ms, out);
    if (!devices_[static_cast<size_t>(d)].online) device_death(d, now_ms, out);
  }
  dirty_devices_.clear();
  born_ = true;
}

void Node::flush(uint64_t now_ms, std::vector<Message>& out) {
  if (!born_) return;
  if (!node_dirty_.empty()) {
    std::vector<const Metric*> changed;
    for (int i : node_dirty_) {
      Metric& m = node_metrics_[static_cast<size_t>(i)];
      changed.push_back(&m);
      m.dirty = false;
    }
    node_dirty_.clear();
    emit(topic("NDATA"), encode(now_ms, changed, false, true), out);
  }
  for (int di : status_changed_) {
    Device& d = devices_[static_cast<size_t>(di)];
    if (d.online == d.announced_online) continue;
    if (d.online)
      device_birth(di, now_ms, out);  // with every value, the changes of the dead time included
    else
      device_death(di, now_ms, out);
  }
  status_changed_.clear();
  // A dead device keeps its changes listed (its next DBIRTH carries them).
  std::vector<int> still_dirty;
  for (int di : dirty_devices_) {
    Device& d = devices_[static_cast<size_t>(di)];
    if (d.dirty.empty()) continue;
    if (!d.announced_online) {
      still_dirty.push_back(di);
      continue;
    }
    std::vector<const Metric*> changed;
    changed.reserve(d.dirty.size());
    for (int i : d.dirty) changed.push_back(&d.metrics[static_cast<size_t>(i)]);
    emit(device_topic("DDATA", di), encode(now_ms, changed, false, true), out);
    for (int i : d.dirty) {
      Metric& m = d.metrics[static_cast<size_t>(i)];
      m.dirty = false;
      m.sent_status = m.status;
    }
    d.dirty.clear();
  }
  dirty_devices_.swap(still_dirty);
}

bool Node::command(const std::string& topic_text, const std::string& payload, Command& out) const {
  std::string group, type, node, device;
  if (!split_topic(topic_text, group, type, node, device) || group != group_ || node != node_) return false;
  if (type != "NCMD" && type != "DCMD") return false;
  if ((type == "NCMD") != device.empty()) return false;
  int di = -1;
  if (type == "DCMD") {
    for (int d = 0; d < devices(); ++d)
      if (devices_[static_cast<size_t>(d)].id == device) di = d;
    if (di < 0) {
      out.refused.push_back(device + ": unknown device");
      return true;
    }
  }
  pb::Payload p;
  if (!p.ParseFromString(payload)) {
    out.refused.push_back((device.empty() ? type : device) + ": the payload is not a Sparkplug B payload");
    return true;
  }
  const std::vector<Metric>& metrics = di < 0 ? node_metrics_ : devices_[static_cast<size_t>(di)].metrics;
  const std::string where = di < 0 ? std::string() : device + "/";
  for (const pb::Payload::Metric& pm : p.metrics()) {
    int found = -1;
    for (size_t i = 0; i < metrics.size() && found < 0; ++i)
      if ((pm.has_name() && pm.name() == metrics[i].name) ||
          (!pm.has_name() && pm.has_alias() && pm.alias() == metrics[i].alias))
        found = static_cast<int>(i);
    const std::string named = where + (pm.has_name() ? pm.name() : "alias " + std::to_string(pm.alias()));
    if (found < 0) {
      out.refused.push_back(named + ": unknown metric");
      continue;
    }
    Order o;
    o.device = di;
    o.metric = found;
    o.name = where + metrics[static_cast<size_t>(found)].name;
    if (pm.is_null() || !take_value(pm, o.value, o.type)) {
      out.refused.push_back(o.name + ": no value to write");
      continue;
    }
    if (di < 0) {
      if (found == 1 && o.type == kBoolean)
        out.rebirth = out.rebirth || o.value.boolean;
      else if (found == 1)
        out.refused.push_back(o.name + ": a Boolean is expected");
      else
        out.writes.push_back(std::move(o));
      continue;
    }
    out.writes.push_back(std::move(o));
  }
  return true;
}

bool split_topic(const std::string& topic, std::string& group, std::string& type, std::string& node,
                 std::string& device) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = topic.find('/', start);
    parts.push_back(topic.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  if (parts.size() < 4 || parts.size() > 5 || parts[0] != kNamespace) return false;
  for (const std::string& p : parts)
    if (p.empty()) return false;
  group = parts[1];
  type = parts[2];
  node = parts[3];
  device = parts.size() == 5 ? parts[4] : std::string();
  return true;
}

bool parse_state(const std::string& payload, bool& online, uint64_t& timestamp) {
  const nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
  if (j.is_discarded() || !j.is_object()) return false;
  const auto o = j.find("online");
  if (o == j.end() || !o->is_boolean()) return false;
  online = o->get<bool>();
  const auto t = j.find("timestamp");
  timestamp = t != j.end() && t->is_number_unsigned() ? t->get<uint64_t>() : 0;
  return true;
}

}  // namespace korvel::gateway::sparkplug
