// One line of modules as the gateway drives it: its own thread and its own driver instance,
// polling at the rate the library asks for, handing what the library reports to its publisher and
// carrying out the orders (sets) it is given, each answered exactly once.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/host_exports.h"
#include "gateway/config.h"
#include "gateway/payload.h"
#include "gateway/publisher.h"

namespace korvel::gateway {

class Line {
 public:
  // Reports and outcomes go to publisher, which knows this line as `id`.
  // The configuration must outlive the line.
  Line(const LineConfig& config, const cli::HostExports& x, Publisher& publisher, int id);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  const std::string& name() const { return config_.name; }

  void start();
  // Asks the line to stop without waiting: sets not yet sent are answered "gateway stopping",
  // writes on their way are given a short time to settle.
  void request_stop();
  // request_stop(), then waits until the line's thread has stopped the driver (its statistics go
  // to the library's log) and said so through the publisher.
  void stop();

  // From any thread: an order to set the tag named `tag` to the value in `payload` (as parse_set
  // reads it). The line's thread takes it up at once; its outcome goes to Publisher::write_result.
  void offer_set(const std::string& tag, const std::string& payload);
  // True when the line has a tag of that name.
  bool has_tag(const std::string& tag) const { return find(tag) != nullptr; }

  // Polls made so far (all lines' sum is what a benchmark compares).
  uint64_t polls() const { return polls_.load(); }

 private:
  struct Tag {
    bool writable = false;
    bool writing = false;  // a write handed to the library and not yet settled
    bool has_read = false;
    uint32_t status = 0x00080000;  // until the library reports it: no value yet
    uint32_t status_before = 0;    // when the write was handed over
    uint64_t deadline = 0;
    double last_number = 0;  // the last value read (real or Boolean)
  };

  const size_t* find(const std::string& name) const;
  void run();
  bool start_driver();
  void stop_driver();
  void poll();
  void report(const TTagValue& v);
  void result(const std::string& tag, bool ok, const std::string& error);
  void take_sets();
  void order(const std::string& name, const std::string& payload);
  void issue(size_t tag, const SetValue& value);
  void settle(size_t tag, bool ok, const std::string& error);
  void settle_due(uint64_t now);
  void drain();
  void link_changed();
  void set_availability(int module, bool online);
  void all_offline(int state, const std::string& text);
  void say(const std::string& text);
  uint64_t write_wait_ms() const;
  void wait_for_sets(uint64_t ms);

  const LineConfig& config_;
  const cli::HostExports& x_;
  Publisher& pub_;
  const int id_;
  std::vector<Tag> tags_;
  std::vector<size_t> by_name_;              // the tags' indexes, in the order of their names
  std::map<size_t, std::string> last_text_;  // the last text read of string tags (UTF-8)
  std::vector<size_t> writing_;              // the tags with a write on its way, oldest first
  std::map<size_t, SetValue> waiting_;       // per tag, the newest set behind its write
  std::vector<int> modules_;
  // Host identifiers of the internal tags the gateway adds after the user's.
  int32_t link_state_id_ = 0, link_text_id_ = 0, enabled_id_ = 0, first_module_id_ = 0;
  std::vector<cli::TagSpec> internal_;  // the tags the gateway adds after the user's
  std::vector<TTagValue> buf_;
  bool running_ = false;
  bool stopping_ = false;  // the line's thread: no set is sent any more
  int link_state_ = 0;
  bool enabled_ = true;
  std::vector<Report> reports_;  // a poll's
  std::string link_text_;
  bool link_dirty_ = true;
  std::map<int, bool> availability_;
  std::string last_message_;

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> polls_{0};
  std::mutex mu_;
  std::condition_variable wake_;
  std::vector<std::pair<std::string, std::string>> sets_;  // tag, payload
  bool finished_ = false;  // the line's thread takes no more sets: offer_set answers them
};

}  // namespace korvel::gateway
