// One line of modules as the gateway drives it: its own thread and its own driver instance,
// polling at the rate the library asks for, publishing what the library reports and writing the
// sets it receives.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/host_exports.h"
#include "gateway/broker.h"
#include "gateway/config.h"
#include "gateway/payload.h"
#include "gateway/publisher.h"

namespace korvel::gateway {

class Line {
 public:
  Line(const LineConfig& config, const cli::HostExports& x, Broker& broker, const std::string& prefix);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  const std::string& name() const { return config_.name; }
  // The topic filter of this line's sets.
  std::string set_filter() const { return base_ + "+/set"; }

  // Reports and outcomes go to publisher (as its line number id) instead of the per-tag topics;
  // before start().
  void attach(Publisher* publisher, int id) {
    publisher_ = publisher;
    publisher_line_ = id;
  }

  void start();
  // Ends polling, stops the driver (its statistics go to the library's log) and says so on the
  // line's topics; returns when the thread has ended.
  void stop();

  // From the broker's thread: a set for a tag of this line. Taken by the line's thread.
  void offer_set(const std::string& tag, const std::string& payload);

  // Polls made so far (all lines' sum is what a benchmark compares).
  uint64_t polls() const { return polls_.load(); }

 private:
  // A set that waits for its tag's earlier set to be settled.
  struct Set {
    SetValue value;
  };
  struct Tag {
    cli::TagSpec spec;
    std::string topic;
    Broker::Slot* slot = nullptr;
    std::optional<int> module;
    bool writable = false;
    uint32_t status = 0x00080000;  // until the library reports it: no value yet
    // The write on its way, and what the tag looked like when it was handed over.
    bool writing = false;
    uint32_t status_before = 0;
    uint64_t deadline = 0;
    std::deque<Set> waiting;
  };

  void run();
  bool start_driver();
  void stop_driver();
  void poll();
  void report(const TTagValue& v);
  void take_sets();
  void issue(size_t tag, const SetValue& value);
  void settle(size_t tag, bool ok, const std::string& error);
  void settle_due(uint64_t now);
  void publish_link();
  void publish_availability(int module, bool online);
  void all_offline(int state, const std::string& text);
  void say(const std::string& text);
  // The outcome of an order for a tag, once.
  void result(const std::string& tag, bool ok, const std::string& error);
  uint64_t write_wait_ms() const;

  const LineConfig config_;
  const cli::HostExports& x_;
  Broker& broker_;
  const std::string base_;  // "<prefix>/<line>/"
  std::vector<Tag> tags_;
  std::map<std::string, size_t> by_name_;
  std::vector<size_t> writing_;  // the tags with a write on its way, oldest first
  std::vector<int> modules_;
  // Host identifiers of the internal tags the gateway adds after the user's.
  int32_t link_state_id_ = 0, link_text_id_ = 0, enabled_id_ = 0, first_module_id_ = 0;
  std::vector<TTagInfo> infos_;
  std::vector<TTagValue> buf_;
  std::vector<std::pair<Broker::Slot*, std::string>> outbox_;  // a poll's value messages
  bool running_ = false;
  int link_state_ = 0;
  std::string link_text_;
  bool enabled_ = true;
  Publisher* publisher_ = nullptr;
  int publisher_line_ = 0;
  std::vector<Report> reports_;  // a poll's, for the publisher
  bool link_dirty_ = true;
  std::map<int, bool> availability_;
  std::string last_message_;

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> polls_{0};
  std::mutex mu_;
  std::condition_variable wake_;
  std::vector<std::pair<std::string, std::string>> sets_;  // tag, payload
};

}  // namespace korvel::gateway
