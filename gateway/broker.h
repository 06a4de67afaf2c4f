// The gateway's one connection to the broker. Keeps the latest message of every retained topic, so
// that a broker that was away (or restarted and lost its retained messages) gets them again, sends
// every other message (the orders' results) once each, and hands the messages it receives to a
// callback. One network thread of its own drives the client: the lines' messages are queued here
// and the thread, woken once per batch, writes them out together, so that thousands of messages a
// second do not cost a wake-up each.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "gateway/config.h"
#include "gateway/sparkplug.h"
#include "platform/event.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace korvel::gateway {

class Broker {
 public:
  // A message received: its topic, payload, and whether it is the broker's retained copy.
  using OnMessage = std::function<void(const std::string& topic, const std::string& payload, bool retained)>;
  // The broker refused a message of ours (MQTT 5): its topic and the broker's reason.
  using OnRefused = std::function<void(const std::string& topic, const std::string& reason)>;
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

  Broker(const MqttConfig& config, OnMessage on_message, OnRefused on_refused = nullptr);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Subscriptions (QoS 1) made on every connection; set before start().
  void subscribe(const std::string& pattern) { subscriptions_.push_back(pattern); }
  // A filter whose retained messages are asked for once on every connection (and handed to the
  // callback), then unsubscribed: how the gateway finds retained topics it no longer serves.
  void look_up_retained(const std::string& pattern) { look_ups_.push_back(pattern); }

  // Starts the network thread, which connects and reconnects with back-off by itself. False with
  // the reason in err when the client cannot be set up (TLS files refused, out of memory).
  bool start(std::string& err);

  // QoS 1. A retained message is kept as its topic's latest and published again after a broker
  // that lost its state; a message that cannot go out yet (no broker, or a full window of
  // unacknowledged ones) waits, and a newer one of the same topic replaces it. Other messages are
  // each sent once, in order. A message the client library refuses (a topic too long or not
  // UTF-8, a payload too large) is dropped, counted and logged once per topic.
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
  // "N messages sent, N refused by the client library, N refused by the broker".
  std::string statistics() const;

 private:
  enum class Sent { ok, later, refused };
  static void on_connect(mosquitto*, void* self, int rc, int flags, const mqtt5__property* props);
  static void on_disconnect(mosquitto*, void* self, int rc, const mqtt5__property* props);
  static void on_message(mosquitto*, void* self, const mosquitto_message* m, const mqtt5__property* props);
  static void on_publish(mosquitto*, void* self, int mid, int reason, const mqtt5__property* props);
  static void on_subscribe(mosquitto*, void* self, int mid, int count, const int* granted,
                           const mqtt5__property* props);
  static void on_log(mosquitto*, void* self, int level, const char* text);
  void connected_now(bool session_present);
  Sent send_locked(const std::string& topic, const std::string& payload, bool retain);
  void queue_locked(Slot& slot);
  void take_locked(Slot& slot, std::string&& payload, bool retain);
  void flush_locked();
  void wake();
  void run();
  bool connect_now();
  bool tls_for_name(std::string& err);
  void finish();
  bool v5() const;

  const MqttConfig config_;
  const std::string status_topic_;
  OnMessage on_message_;
  OnRefused on_refused_;
  std::vector<std::string> subscriptions_, look_ups_;
  mosquitto* mosq_ = nullptr;
  std::atomic<bool> connected_{false};
  std::atomic<unsigned long> connections_{0};
  mutable std::mutex mu_;
  std::condition_variable published_;
  std::unordered_map<std::string, Entry> latest_;
  // Topics with a message to send, each once, oldest first. Entries of latest_ stay where they
  // are until erased, and one is erased only once off this queue.
  std::deque<Slot*> pending_;
  std::deque<sparkplug::Message> ordered_;
  WillSource will_source_;
  std::atomic<unsigned long> generation_{0};
  // Messages sent once each (results), oldest first.
  std::deque<std::pair<std::string, std::string>> once_;
  int in_flight_ = 0;
  std::atomic<int> acked_{0};  // acknowledgements not yet taken off in_flight_
  std::atomic<uint64_t> sent_{0}, refused_by_client_{0}, refused_by_broker_{0}, dropped_{0};

  // The network thread's own: topics of the messages in flight (MQTT 5, to name what the broker
  // refuses), the topics whose refusal was said, the look-ups waiting for their acknowledgement.
  std::unordered_map<int, std::string> in_flight_topics_;
  std::set<std::string> said_refused_;
  std::map<int, std::string> look_up_mids_;

  std::thread net_;
  plat::HostEvent wake_ = 0;
  std::atomic<bool> wake_pending_{false};  // the event is signalled and not yet taken
  std::atomic<bool> quit_{false};
  // The network thread's own: the back-off between connection attempts.
  int retry_s_ = 1;
  uint64_t next_try_ms_ = 0;
  bool said_unreachable_ = false;
  std::mutex log_mu_;
  std::string last_log_;  // the client library's last line, not repeated while it stays the same
};

}  // namespace korvel::gateway
