// The gateway's one connection to the broker. Keeps the latest message of every retained topic, so
// that a broker that was away (or restarted and lost its retained messages) gets them again, and
// hands the sets it receives to a callback. One network thread of its own drives the client: the
// lines' messages are queued in the client and the thread, woken once per batch, writes them out
// together, so that thousands of messages a second do not cost a wake-up each.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "gateway/config.h"
#include "gateway/sparkplug.h"
#include "platform/event.h"

struct mosquitto;
struct mosquitto_message;

namespace korvel::gateway {

class Broker {
 public:
  using OnMessage = std::function<void(const std::string& topic, const std::string& payload)>;
  // A topic's latest message.
  struct Entry {
    std::string payload;
    bool retain = false;
    bool has_message = false;  // a slot may be made before its first message
    bool sent = false;
    bool queued = false;  // in pending_
    bool pinned = false;  // a slot: kept, also without a retained message
  };
  // The place of a topic's latest message, valid for the broker's life: publishing through it
  // costs no look-up of the topic.
  using Slot = std::pair<const std::string, Entry>;

  Broker(const MqttConfig& config, OnMessage on_message);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Subscriptions (QoS 1) made on every connection; set before start().
  void subscribe(const std::string& pattern) { subscriptions_.push_back(pattern); }

  // Starts the network thread, which connects and reconnects with back-off by itself. False with
  // the reason in err when the client cannot be set up (TLS files refused, out of memory).
  bool start(std::string& err);

  // QoS 1. A retained message is kept as its topic's latest and published again after a broker
  // that lost its state; a message that cannot go out yet (no broker, or a full window of
  // unacknowledged ones) waits, and a newer one of the same topic replaces it.
  void publish(const std::string& topic, std::string payload, bool retain);
  // The slot of a retained topic, made on the first call.
  Slot* slot(const std::string& topic);
  // The same as publish() for retained messages of one poll, under one lock (their payloads are
  // taken).
  void publish_retained(std::vector<std::pair<Slot*, std::string>>& messages);

  // Sparkplug: a session of messages that go out in order, each once, or not at all. A
  // generation is one connection's session; messages of another generation are dropped (a new
  // session starts with births), and so is a message the client refuses, which starts a new
  // generation too: the next births close the gap. False when dropped.
  using WillSource = std::function<sparkplug::Message()>;
  // Called before each connection attempt for the will that attempt carries; set before start().
  void set_will_source(WillSource source) { will_source_ = std::move(source); }
  unsigned long generation() const { return generation_.load(); }
  bool publish_in_order(unsigned long generation, std::vector<sparkplug::Message>& messages);

  // `offline` on the status topic, then disconnects (waits up to timeout_ms for the broker to take
  // what is still in flight).
  void stop(int timeout_ms);

  bool connected() const { return connected_.load(); }
  // Connections made so far (the first one counts).
  unsigned long connections() const { return connections_.load(); }

 private:
  static void on_connect(mosquitto*, void* self, int rc, int flags, const void* props);
  static void on_disconnect(mosquitto*, void* self, int rc);
  static void on_message(mosquitto*, void* self, const mosquitto_message* m);
  static void on_publish(mosquitto*, void* self, int mid);
  void connected_now(bool session_present);
  bool send_locked(const std::string& topic, Entry& e);
  void queue_locked(Slot& slot);
  void take_locked(Slot& slot, std::string&& payload, bool retain);
  void flush_locked();
  void wake();
  void run();
  bool connect_now();
  void finish();

  const MqttConfig config_;
  const std::string status_topic_;
  OnMessage on_message_;
  std::vector<std::string> subscriptions_;
  mosquitto* mosq_ = nullptr;
  std::atomic<bool> connected_{false};
  std::atomic<unsigned long> connections_{0};
  std::mutex mu_;
  std::condition_variable published_;
  std::unordered_map<std::string, Entry> latest_;
  // Topics with a message to send, each once, oldest first. Entries of latest_ stay where they
  // are until erased, and one is erased only once off this queue.
  std::deque<Slot*> pending_;
  std::deque<sparkplug::Message> ordered_;
  WillSource will_source_;
  std::atomic<unsigned long> generation_{0};
  int in_flight_ = 0;
  std::atomic<int> acked_{0};  // acknowledgements not yet taken off in_flight_

  std::thread net_;
  plat::HostEvent wake_ = 0;
  std::atomic<bool> wake_pending_{false};  // the event is signalled and not yet taken
  std::atomic<bool> quit_{false};
  // The network thread's own: the back-off between connection attempts.
  int retry_s_ = 1;
  uint64_t next_try_ms_ = 0;
  bool said_unreachable_ = false;
};

}  // namespace korvel::gateway
