// The lines as one Sparkplug B edge node: every line's reports go into one node (one device per
// module), whose messages go to the broker in order, one session per connection. Commands arrive
// here and go to the lines as the sets of the JSON mode do, under the same rules.
#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "gateway/broker.h"
#include "gateway/config.h"
#include "gateway/publisher.h"
#include "gateway/sparkplug.h"

namespace korvel::gateway {

class SparkplugPublisher : public Publisher {
 public:
  SparkplugPublisher(const Config& config, Broker& broker);

  // Hands a set to a line (its number, the tag, a payload as the JSON mode's sets read).
  using Offer = std::function<void(int line, const std::string& tag, const std::string& payload)>;
  void set_offer(Offer offer) { offer_ = std::move(offer); }
  // The topic filters to subscribe to: this node's NCMD and DCMD, the primary host's STATE.
  std::vector<std::string> subscriptions() const;
  // The will of the next connection attempt: the NDEATH with a new bdSeq, which is stored first.
  sparkplug::Message will();
  // A message from the broker (its network thread).
  void on_message(const std::string& topic, const std::string& payload);
  // Births once a new connection (or a primary host) is there; any change still waiting.
  void tick();
  // A clean stop: the NDEATH, after the lines' last messages.
  void stop();

  void values(int line, const std::vector<Report>& reports) override;
  void link(int line, int state, const std::string& text, bool enabled) override;
  void availability(int line, int module, bool online) override;
  void write_result(int line, const std::string& tag, bool ok, const std::string& error) override;

 private:
  struct Place {
    int device = -1;  // -1: a node metric
    int metric = -1;
  };
  struct LineRef {
    std::string name;
    std::vector<Place> tags;  // by the line's list
    std::map<std::string, size_t> by_name;
    std::map<int, int> device_of_module;
    int link_state = -1, link_text = -1, enabled = -1;
    // Statistics: polls, values reported, of them with a failure; as metrics every kStatsMs.
    int polls_metric = -1, reported_metric = -1, failed_metric = -1;
    uint64_t polls = 0, reported = 0, failed = 0;
  };
  struct Owner {
    int line = -1;
    std::string tag;
  };

  void flush_locked();
  void refuse_locked(const std::string& what);
  bool host_online_locked() const;
  void state_locked(const std::string& payload);

  const bool wait_for_host_;
  const std::string state_topic_;
  const std::string bdseq_file_;
  Broker& broker_;
  Offer offer_;
  std::mutex mu_;
  sparkplug::Node node_;
  std::vector<LineRef> lines_;
  std::map<std::pair<int, int>, Owner> owners_;  // (device, metric) -> the line's tag; device -1 the node
  unsigned long born_generation_ = 0;
  bool host_online_ = false;
  unsigned long host_connection_ = 0;  // the connection on which the host was last seen online
  uint64_t host_timestamp_ = 0;
  bool stopped_ = false;
  uint64_t stats_at_ = 0;
  bool said_bdseq_ = false;
};

}  // namespace korvel::gateway
