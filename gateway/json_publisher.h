// The per-tag JSON topics of the lines: "<prefix>/<line>/<tag>" with each reported value
// (retained), "<tag>/write_result" with each order's outcome, the line's "link" and each module's
// "module/<n>/availability".
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/broker.h"
#include "gateway/config.h"
#include "gateway/publisher.h"

namespace korvel::gateway {

class JsonPublisher final : public Publisher {
 public:
  JsonPublisher(const Config& config, Broker& broker);

  // "<prefix>/<line>/" of every topic of line i.
  const std::string& base(int line) const { return lines_[static_cast<size_t>(line)].base; }
  // The topic filter of line i's sets.
  std::string set_filter(int line) const { return base(line) + "+/set"; }
  // The line whose topics the topic is under, -1 for none.
  int line_of(const std::string& topic) const;

  void values(int line, const std::vector<Report>& reports) override;
  void link(int line, int state, const std::string& text, bool enabled) override;
  void availability(int line, int module, bool online) override;
  void write_result(int line, const std::string& tag, bool ok, const std::string& error) override;

  // From the broker's thread: the broker refused a message of the topic; said on its line's link
  // topic from then on.
  void broker_refused(const std::string& topic, const std::string& reason);

 private:
  struct LineTopics {
    std::string base;
    std::vector<Broker::Slot*> slots;
    std::vector<int16_t> modules;                               // each tag's module, -1 for none
    std::vector<std::pair<Broker::Slot*, std::string>> outbox;  // a poll's value messages
    // The link topic's parts, under link_mu_: the line's thread and the broker's both write it.
    int link_state = 0;
    std::string link_text;
    std::string refusal;  // what the broker refused last, empty while it refused nothing
  };
  void publish_link_locked(LineTopics& l);

  Broker& broker_;
  std::vector<LineTopics> lines_;
  std::mutex link_mu_;
};

}  // namespace korvel::gateway
