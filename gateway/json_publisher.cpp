#include "gateway/json_publisher.h"

#include "cli/blockfile.h"
#include "gateway/payload.h"

namespace korvel::gateway {

JsonPublisher::JsonPublisher(const Config& config, Broker& broker)
    : broker_(broker), lines_(config.lines.size()) {
  for (size_t i = 0; i < config.lines.size(); ++i) {
    const LineConfig& lc = config.lines[i];
    LineTopics& l = lines_[i];
    l.base = config.mqtt.topic_prefix + "/" + lc.name + "/";
    l.slots.reserve(lc.tags.size());
    l.modules.reserve(lc.tags.size());
    for (const cli::TagSpec& s : lc.tags) {
      l.slots.push_back(broker_.slot(l.base + s.name));
      const std::optional<int> m = module_of(s.address);
      l.modules.push_back(static_cast<int16_t>(m ? *m : -1));
    }
  }
}

int JsonPublisher::line_of(const std::string& topic) const {
  for (size_t i = 0; i < lines_.size(); ++i)
    if (topic.compare(0, lines_[i].base.size(), lines_[i].base) == 0) return static_cast<int>(i);
  return -1;
}

void JsonPublisher::values(int line, const std::vector<Report>& reports) {
  LineTopics& l = lines_[static_cast<size_t>(line)];
  for (const Report& r : reports) {
    if (r.tag >= l.slots.size()) continue;
    const int16_t m = l.modules[r.tag];
    l.outbox.emplace_back(l.slots[r.tag], value_message(r, m >= 0 ? std::optional<int>(m) : std::nullopt));
  }
  if (!l.outbox.empty()) broker_.publish_retained(l.outbox);
  l.outbox.clear();
}

void JsonPublisher::write_result(int line, const std::string& tag, bool ok, const std::string& error) {
  broker_.publish(base(line) + tag + "/write_result", gateway::write_result(ok, error), false);
}

void JsonPublisher::link(int line, int state, const std::string& text, bool) {
  std::lock_guard<std::mutex> lock(link_mu_);
  LineTopics& l = lines_[static_cast<size_t>(line)];
  l.link_state = state;
  l.link_text = text;
  publish_link_locked(l);
}

void JsonPublisher::broker_refused(const std::string& topic, const std::string& reason) {
  const int line = line_of(topic);
  if (line < 0) return;
  std::lock_guard<std::mutex> lock(link_mu_);
  LineTopics& l = lines_[static_cast<size_t>(line)];
  const std::string said = "the broker refuses " + topic + ": " + reason;
  if (said == l.refusal) return;
  l.refusal = said;
  publish_link_locked(l);
}

void JsonPublisher::publish_link_locked(LineTopics& l) {
  std::string m =
      "{\"state\": " + std::to_string(l.link_state) + ", \"text\": " + cli::json_string(l.link_text);
  if (!l.refusal.empty()) m += ", \"broker\": " + cli::json_string(l.refusal);
  m += "}";
  broker_.publish(l.base + "link", std::move(m), true);
}

void JsonPublisher::availability(int line, int module, bool online) {
  broker_.publish(base(line) + "module/" + std::to_string(module) + "/availability",
                  online ? "online" : "offline", true);
}

}  // namespace korvel::gateway
