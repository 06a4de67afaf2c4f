#include "gateway/broker.h"

#include <mosquitto.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "platform/clock.h"

namespace korvel::gateway {
namespace {

constexpr int kQos = 1;
// libmosquitto walks its list of unacknowledged messages on every acknowledgement, so the cost
// of a message grows with the window; 200 still keeps 20,000 messages a second moving to a broker
// 10 ms away.
constexpr int kWindow = 200;
// The network thread writes at most this often when woken by new messages: the lines' batches of
// a few milliseconds go out together, well within the latency a subscriber expects.
constexpr uint64_t kCoalesceMs = 5;
constexpr int kMaxPackets = 1000;
constexpr int kMaxRetryS = 30;
// Sparkplug messages that wait for the broker: beyond this the session starts again with births
// rather than hold a slow broker's backlog.
constexpr size_t kMaxOrdered = 100000;

// libmosquitto keeps process-wide state (the TLS library among it) that is set up once.
struct LibInit {
  LibInit() { mosquitto_lib_init(); }
  ~LibInit() { mosquitto_lib_cleanup(); }
};

}  // namespace

Broker::Broker(const MqttConfig& config, OnMessage on_message)
    : config_(config), status_topic_(config.topic_prefix + "/status"), on_message_(std::move(on_message)) {}

Broker::~Broker() {
  quit_.store(true);
  if (net_.joinable()) {
    plat::signal_host_event(wake_);
    net_.join();
  }
  if (mosq_ != nullptr) mosquitto_destroy(mosq_);
  plat::close_host_event(wake_);
}

bool Broker::start(std::string& err) {
  static LibInit init;
  // JSON: a persistent session (clean_session false), the broker keeps our subscriptions and the
  // sets sent to us while we were away for a moment. Sparkplug asks for a clean session: a
  // command is for the session it was sent in.
  mosq_ = mosquitto_new(config_.client_id.c_str(), config_.sparkplug, this);
  if (mosq_ == nullptr) {
    err = "cannot create the MQTT client";
    return false;
  }
  // Our own thread drives the client: publishing only queues the packet.
  mosquitto_threaded_set(mosq_, true);
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_with_flags_callback_set(
      mosq_, [](mosquitto* m, void* self, int rc, int flags) { on_connect(m, self, rc, flags, nullptr); });
  mosquitto_disconnect_callback_set(mosq_, &Broker::on_disconnect);
  mosquitto_message_callback_set(mosq_, &Broker::on_message);
  mosquitto_publish_callback_set(mosq_, &Broker::on_publish);
  mosquitto_max_inflight_messages_set(mosq_, 0);  // flush_locked() keeps the window
  const std::string offline = "offline";
  if (!config_.sparkplug && mosquitto_will_set(mosq_, status_topic_.c_str(), static_cast<int>(offline.size()),
                                               offline.data(), kQos, true) != MOSQ_ERR_SUCCESS) {
    err = "cannot set the will on " + status_topic_;
    return false;
  }
  if (!config_.username.empty() &&
      mosquitto_username_pw_set(mosq_, config_.username.c_str(),
                                config_.password.empty() ? nullptr : config_.password.c_str()) !=
          MOSQ_ERR_SUCCESS) {
    err = "cannot set the user name";
    return false;
  }
  if (config_.tls) {
    const char* ca = config_.ca_file.empty() ? nullptr : config_.ca_file.c_str();
    const char* capath = ca == nullptr ? "/etc/ssl/certs" : nullptr;
    const int rc =
        mosquitto_tls_set(mosq_, ca, capath, config_.cert_file.empty() ? nullptr : config_.cert_file.c_str(),
                          config_.key_file.empty() ? nullptr : config_.key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      err = std::string("TLS set-up refused: ") + mosquitto_strerror(rc);
      return false;
    }
  }
  wake_ = plat::create_host_event();
  if (wake_ == 0) {
    err = "cannot create the MQTT network thread's event";
    return false;
  }
  // A broker that is not there yet is no error: the network thread keeps trying.
  net_ = std::thread([this] { run(); });
  return true;
}

void Broker::wake() {
  if (!wake_pending_.exchange(true)) plat::signal_host_event(wake_);
}

bool Broker::connect_now() {
  const uint64_t now = plat::tick_ms();
  if (now < next_try_ms_) {
    plat::wait_event_or_socket(wake_, -1, false,
                               static_cast<int>(std::min<uint64_t>(next_try_ms_ - now, 1000)));
    return false;
  }
  if (will_source_) {
    // Sparkplug's will changes with every attempt (its bdSeq).
    const sparkplug::Message will = will_source_();
    mosquitto_will_set(mosq_, will.topic.c_str(), static_cast<int>(will.payload.size()), will.payload.data(),
                       will.qos, false);
  }
  const int rc = mosquitto_connect(mosq_, config_.host.c_str(), config_.port, config_.keepalive);
  if (rc == MOSQ_ERR_SUCCESS) {
    said_unreachable_ = false;
    return true;
  }
  if (!said_unreachable_)
    std::fprintf(stderr, "korvel-gateway: broker %s:%d: %s; retrying\n", config_.host.c_str(), config_.port,
                 rc == MOSQ_ERR_ERRNO ? "cannot connect" : mosquitto_strerror(rc));
  said_unreachable_ = true;
  // 1, 2, 4 ... 30 s between attempts; a connection the broker accepts starts again at 1 s.
  next_try_ms_ = plat::tick_ms() + static_cast<uint64_t>(retry_s_) * 1000;
  retry_s_ = std::min(retry_s_ * 2, kMaxRetryS);
  return false;
}

void Broker::run() {
  uint64_t last_write = 0;
  while (!quit_.load()) {
    if (mosquitto_socket(mosq_) < 0) {
      if (connected_.load()) {
        std::lock_guard<std::mutex> lock(mu_);
        connected_.store(false);
        ordered_.clear();
        published_.notify_all();
      }
      if (!connect_now()) continue;
      next_try_ms_ = plat::tick_ms() + static_cast<uint64_t>(retry_s_) * 1000;
      retry_s_ = std::min(retry_s_ * 2, kMaxRetryS);
    }
    const plat::SocketWait w =
        plat::wait_event_or_socket(wake_, mosquitto_socket(mosq_), mosquitto_want_write(mosq_), 1000);
    int rc = MOSQ_ERR_SUCCESS;
    // Acknowledgements first: they free the window for the messages that wait.
    if (w.readable || w.failed) {
      // The client stops reading at the first EAGAIN it finds in errno, also a stale one: clear it
      // so that one call takes every acknowledgement that has arrived.
      errno = 0;
      rc = mosquitto_loop_read(mosq_, kMaxPackets);
    }
    wake_pending_.store(false);  // what the lines queue from now on signals again
    if (w.event) {
      const uint64_t since = plat::tick_ms() - last_write;
      if (since < kCoalesceMs && !quit_.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(kCoalesceMs - since));
    }
    {
      // The lines only queue; the messages are handed to the client here, in one batch.
      std::lock_guard<std::mutex> lock(mu_);
      in_flight_ = std::max(0, in_flight_ - acked_.exchange(0));
      flush_locked();
      published_.notify_all();
    }
    const int sock = mosquitto_socket(mosq_);
    if (rc == MOSQ_ERR_SUCCESS && sock >= 0 && mosquitto_want_write(mosq_)) {
      // The client writes every packet on its own: held back, a batch leaves in full segments and
      // the broker reads and acknowledges it in bulk.
      const bool held = plat::hold_socket_output(sock, true);
      rc = mosquitto_loop_write(mosq_, kMaxPackets);
      // A write that failed has closed the socket; its number may be another's by now.
      if (held && mosquitto_socket(mosq_) == sock) plat::hold_socket_output(sock, false);
      last_write = plat::tick_ms();
    }
    // Keep-alive; a broker that stopped answering is given up here. Any failure has closed the
    // socket and reported the disconnection; the top of the loop connects again.
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0) mosquitto_loop_misc(mosq_);
  }
  finish();
}

void Broker::finish() {
  // stop() queued the disconnection: write it (and what is still queued) out, briefly.
  const uint64_t until = plat::tick_ms() + 1000;
  while (mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_) && plat::tick_ms() < until) {
    const plat::SocketWait w = plat::wait_event_or_socket(wake_, mosquitto_socket(mosq_), true, 100);
    if ((w.writable || w.failed) && mosquitto_loop_write(mosq_, kMaxPackets) != MOSQ_ERR_SUCCESS) break;
  }
}

bool Broker::send_locked(const std::string& topic, Entry& e) {
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(e.payload.size()),
                                   e.payload.data(), kQos, e.retain);
  e.sent = rc == MOSQ_ERR_SUCCESS;
  if (e.sent) ++in_flight_;
  return e.sent;
}

void Broker::queue_locked(Slot& slot) {
  if (slot.second.queued) return;
  slot.second.queued = true;
  pending_.push_back(&slot);
}

void Broker::take_locked(Slot& slot, std::string&& payload, bool retain) {
  Entry& e = slot.second;
  e.payload = std::move(payload);
  e.retain = retain;
  e.has_message = true;
  e.sent = false;
  queue_locked(slot);
}

void Broker::flush_locked() {
  while (connected_.load() && in_flight_ < kWindow && !ordered_.empty()) {
    const sparkplug::Message& m = ordered_.front();
    int mid = 0;
    const int rc = mosquitto_publish(mosq_, &mid, m.topic.c_str(), static_cast<int>(m.payload.size()),
                                     m.payload.data(), m.qos, false);
    if (rc == MOSQ_ERR_NO_CONN) return;  // the next connection starts a new session
    if (rc == MOSQ_ERR_SUCCESS) {
      ++in_flight_;
    } else {
      std::fprintf(stderr, "korvel-gateway: %s: not published (%s); the session starts again\n",
                   m.topic.c_str(), mosquitto_strerror(rc));
      ordered_.clear();
      ++generation_;
      return;
    }
    ordered_.pop_front();
  }
  // At most kWindow messages wait for the broker's acknowledgement; the others wait here, one per
  // topic, so a slow or absent broker costs memory for the latest values only.
  while (connected_.load() && in_flight_ < kWindow && !pending_.empty()) {
    Slot& slot = *pending_.front();
    Entry& e = slot.second;
    if (!e.sent && !send_locked(slot.first, e)) return;  // the connection went: the next one sends it
    e.queued = false;
    pending_.pop_front();
    if (!e.retain && !e.pinned) latest_.erase(latest_.find(slot.first));
  }
}

Broker::Slot* Broker::slot(const std::string& topic) {
  std::lock_guard<std::mutex> lock(mu_);
  Slot& s = *latest_.try_emplace(topic).first;
  s.second.pinned = true;
  return &s;
}

void Broker::publish(const std::string& topic, std::string payload, bool retain) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    take_locked(*latest_.try_emplace(topic).first, std::move(payload), retain);
  }
  wake();
}

void Broker::publish_retained(std::vector<std::pair<Slot*, std::string>>& messages) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& [slot, payload] : messages) take_locked(*slot, std::move(payload), true);
  }
  wake();
}

bool Broker::publish_in_order(unsigned long generation, std::vector<sparkplug::Message>& messages) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (generation != generation_.load() || !connected_.load()) return false;
    if (ordered_.size() + messages.size() > kMaxOrdered) {
      std::fprintf(stderr, "korvel-gateway: the broker takes too little; the session starts again\n");
      ordered_.clear();
      ++generation_;
      return false;
    }
    for (sparkplug::Message& m : messages) ordered_.push_back(std::move(m));
  }
  wake();
  return true;
}

void Broker::connected_now(bool session_present) {
  std::lock_guard<std::mutex> lock(mu_);
  connected_.store(true);
  ++connections_;
  ++generation_;
  ordered_.clear();
  retry_s_ = 1;
  next_try_ms_ = 0;
  in_flight_ = 0;
  acked_.store(0);
  int mid = 0;
  if (!config_.sparkplug) mosquitto_publish(mosq_, &mid, status_topic_.c_str(), 6, "online", kQos, true);
  for (const std::string& s : subscriptions_) mosquitto_subscribe(mosq_, &mid, s.c_str(), kQos);
  // A broker without our session has lost what it held for us, retained values included.
  for (Slot& slot : latest_) {
    Entry& e = slot.second;
    if (!e.has_message) continue;
    if (!session_present) e.sent = false;
    if (!e.sent) queue_locked(slot);
  }
  flush_locked();
}

void Broker::on_connect(mosquitto*, void* self, int rc, int flags, const void*) {
  auto* b = static_cast<Broker*>(self);
  if (rc != 0) {
    std::fprintf(stderr, "korvel-gateway: broker refused the connection: %s\n", mosquitto_connack_string(rc));
    return;
  }
  b->connected_now((flags & 1) != 0);
}

void Broker::on_disconnect(mosquitto*, void* self, int rc) {
  auto* b = static_cast<Broker*>(self);
  std::lock_guard<std::mutex> lock(b->mu_);
  b->connected_.store(false);
  b->ordered_.clear();
  if (rc != 0) std::fprintf(stderr, "korvel-gateway: lost the broker; reconnecting\n");
  b->published_.notify_all();
}

void Broker::on_publish(mosquitto*, void* self, int) {
  // Counted without the lock, which a line may hold for a whole poll's messages: the network
  // thread settles the count and refills the window once it has read every acknowledgement.
  static_cast<Broker*>(self)->acked_.fetch_add(1, std::memory_order_relaxed);
}

void Broker::on_message(mosquitto*, void* self, const mosquitto_message* m) {
  auto* b = static_cast<Broker*>(self);
  if (m == nullptr || m->topic == nullptr) return;
  // A retained set is the broker's copy, handed again on every subscription: written once when it
  // was published, it is not written again on each reconnection.
  // A primary host's STATE is retained by design: it is read, not written.
  if (m->retain && !(b->config_.sparkplug && std::string_view(m->topic).starts_with("spBv1.0/STATE/"))) {
    std::fprintf(stderr,
                 "korvel-gateway: %s: a retained set is not written again (publish sets without retain)\n",
                 m->topic);
    return;
  }
  const std::string payload =
      m->payload != nullptr && m->payloadlen > 0
          ? std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen))
          : std::string();
  b->on_message_(m->topic, payload);
}

void Broker::stop(int timeout_ms) {
  if (mosq_ == nullptr) return;
  if (!config_.sparkplug) publish(status_topic_, "offline", true);
  {
    std::unique_lock<std::mutex> lock(mu_);
    published_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
      return (in_flight_ == 0 && pending_.empty() && ordered_.empty()) || !connected_.load();
    });
  }
  mosquitto_disconnect(mosq_);
  quit_.store(true);
  plat::signal_host_event(wake_);
  if (net_.joinable()) net_.join();
}

}  // namespace korvel::gateway
