#include "gateway/broker.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
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
// Results wait here while the broker is away; sets come only from a connected broker, so this is
// far more than can pile up.
constexpr size_t kMaxOnce = 20000;

// A topic as it goes into a log line: a hostile one may be 64 kB long.
std::string shown(const std::string& topic) {
  return topic.size() <= 120 ? topic
                             : topic.substr(0, 100) + "... (" + std::to_string(topic.size()) + " bytes)";
}

// libmosquitto keeps process-wide state (the TLS library among it) that is set up once.
struct LibInit {
  LibInit() { mosquitto_lib_init(); }
  ~LibInit() { mosquitto_lib_cleanup(); }
};

}  // namespace

Broker::Broker(const MqttConfig& config, OnMessage on_message, OnRefused on_refused)
    : config_(config),
      status_topic_(config.topic_prefix + "/status"),
      on_message_(std::move(on_message)),
      on_refused_(std::move(on_refused)) {}

bool Broker::v5() const {
  return config_.protocol == MqttProtocol::v5;
}

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
  // A clean session on every connection: what the broker queued for a gateway that was stopped or
  // away (sets above all) is never replayed to it later; the subscriptions are made anew.
  mosq_ = mosquitto_new(config_.client_id.c_str(), true, this);
  if (mosq_ == nullptr) {
    err = "cannot create the MQTT client";
    return false;
  }
  // Our own thread drives the client: publishing only queues the packet.
  mosquitto_threaded_set(mosq_, true);
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, v5() ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  mosquitto_connect_v5_callback_set(mosq_, &Broker::on_connect);
  mosquitto_disconnect_v5_callback_set(mosq_, &Broker::on_disconnect);
  mosquitto_message_v5_callback_set(mosq_, &Broker::on_message);
  mosquitto_publish_v5_callback_set(mosq_, &Broker::on_publish);
  mosquitto_subscribe_v5_callback_set(mosq_, &Broker::on_subscribe);
  mosquitto_log_callback_set(mosq_, &Broker::on_log);
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
  if (config_.tls && !config_.tls_server_name.empty()) {
    if (!tls_for_name(err)) return false;
  } else if (config_.tls) {
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

bool Broker::tls_for_name(std::string& err) {
  // The broker's certificate is checked against the given name instead of the url's host: the
  // client library checks only the url's host, so the TLS context is ours, set up as the library
  // sets up its own (the CA, the client's certificate, the peer verified) and with the name that
  // OpenSSL checks while it verifies the chain. Verification stays on.
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  const auto fail = [&](const std::string& what) {
    SSL_CTX_free(ctx);
    err = "TLS set-up refused: " + what;
    return false;
  };
  if (ctx == nullptr) return fail("no TLS context");
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  const bool ca_ok = config_.ca_file.empty() ? SSL_CTX_load_verify_dir(ctx, "/etc/ssl/certs") == 1
                                             : SSL_CTX_load_verify_file(ctx, config_.ca_file.c_str()) == 1;
  if (!ca_ok) return fail("cannot load the CA certificates");
  if (!config_.cert_file.empty() &&
      (SSL_CTX_use_certificate_chain_file(ctx, config_.cert_file.c_str()) != 1 ||
       SSL_CTX_use_PrivateKey_file(ctx, config_.key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
       SSL_CTX_check_private_key(ctx) != 1))
    return fail("cannot load the client certificate and key");
  if (X509_VERIFY_PARAM_set1_host(SSL_CTX_get0_param(ctx), config_.tls_server_name.c_str(), 0) != 1)
    return fail("cannot check the name " + config_.tls_server_name);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  mosquitto_int_option(mosq_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
  const int rc = mosquitto_void_option(mosq_, MOSQ_OPT_SSL_CTX, ctx);
  SSL_CTX_free(ctx);  // the client holds its own reference
  if (rc != MOSQ_ERR_SUCCESS) {
    err = std::string("TLS set-up refused: ") + mosquitto_strerror(rc);
    return false;
  }
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

Broker::Sent Broker::send_locked(const std::string& topic, const std::string& payload, bool retain) {
  int mid = 0;
  const int rc = v5() ? mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                             payload.data(), kQos, retain, nullptr)
                      : mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                          payload.data(), kQos, retain);
  if (rc == MOSQ_ERR_SUCCESS) {
    ++in_flight_;
    sent_.fetch_add(1, std::memory_order_relaxed);
    if (v5()) in_flight_topics_[mid] = topic;
    return Sent::ok;
  }
  // The connection went (or memory ran short): the next connection sends it.
  if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NOMEM) return Sent::later;
  // Anything else is this message's own fault and would be refused again: sending it for ever would
  // hold up every message behind it.
  refused_by_client_.fetch_add(1, std::memory_order_relaxed);
  if (said_refused_.size() < 1000 && said_refused_.insert(topic).second)
    std::fprintf(stderr,
                 "korvel-gateway: mqtt: a message to %s is refused by the client library (%s); dropped\n",
                 shown(topic).c_str(), mosquitto_strerror(rc));
  return Sent::refused;
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
  // At most kWindow messages wait for the broker's acknowledgement; the others wait here: results
  // each once, values one per topic, so a slow or absent broker costs memory for the latest values
  // only.
  while (connected_.load() && in_flight_ < kWindow) {
    if (!once_.empty()) {
      const auto& [topic, payload] = once_.front();
      if (send_locked(topic, payload, false) == Sent::later) return;
      once_.pop_front();
      continue;
    }
    if (pending_.empty()) return;
    Slot& slot = *pending_.front();
    Entry& e = slot.second;
    if (!e.sent) {
      const Sent r = send_locked(slot.first, e.payload, e.retain);
      if (r == Sent::later) return;
      e.sent = true;
      if (r == Sent::refused) e.has_message = false;  // not offered again after a reconnection
    }
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
    if (retain) {
      take_locked(*latest_.try_emplace(topic).first, std::move(payload), retain);
    } else {
      if (once_.size() >= kMaxOnce) {
        once_.pop_front();
        if (dropped_.fetch_add(1) == 0)
          std::fprintf(stderr,
                       "korvel-gateway: mqtt: more than %zu results wait for the broker; the oldest "
                       "are dropped\n",
                       kMaxOnce);
      }
      once_.emplace_back(topic, std::move(payload));
    }
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
  in_flight_topics_.clear();
  look_up_mids_.clear();
  {
    std::lock_guard<std::mutex> log_lock(log_mu_);
    last_log_.clear();
  }
  int mid = 0;
  if (!config_.sparkplug) mosquitto_publish(mosq_, &mid, status_topic_.c_str(), 6, "online", kQos, true);
  for (const std::string& s : subscriptions_) mosquitto_subscribe(mosq_, &mid, s.c_str(), kQos);
  for (const std::string& s : look_ups_) {
    // MQTT 5 spares us our own messages on it; with 3.1.1 they come, as live (not retained) ones.
    const int rc = v5() ? mosquitto_subscribe_v5(mosq_, &mid, s.c_str(), kQos, MQTT_SUB_OPT_NO_LOCAL, nullptr)
                        : mosquitto_subscribe(mosq_, &mid, s.c_str(), kQos);
    if (rc == MOSQ_ERR_SUCCESS) look_up_mids_[mid] = s;
  }
  // A broker without our session has lost what it held for us, retained values included.
  for (Slot& slot : latest_) {
    Entry& e = slot.second;
    if (!e.has_message) continue;
    if (!session_present) e.sent = false;
    if (!e.sent) queue_locked(slot);
  }
  flush_locked();
}

void Broker::on_connect(mosquitto*, void* self, int rc, int flags, const mqtt5__property*) {
  auto* b = static_cast<Broker*>(self);
  if (rc != 0) {
    std::fprintf(stderr, "korvel-gateway: broker refused the connection: %s\n",
                 b->v5() ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc));
    return;
  }
  b->connected_now((flags & 1) != 0);
}

void Broker::on_disconnect(mosquitto*, void* self, int rc, const mqtt5__property*) {
  auto* b = static_cast<Broker*>(self);
  std::lock_guard<std::mutex> lock(b->mu_);
  b->connected_.store(false);
  b->ordered_.clear();
  if (rc != 0) std::fprintf(stderr, "korvel-gateway: lost the broker; reconnecting\n");
  b->published_.notify_all();
}

void Broker::on_publish(mosquitto*, void* self, int mid, int reason, const mqtt5__property*) {
  auto* b = static_cast<Broker*>(self);
  // Counted without the lock, which a line may hold for a whole poll's messages: the network
  // thread settles the count and refills the window once it has read every acknowledgement.
  b->acked_.fetch_add(1, std::memory_order_relaxed);
  const auto it = b->in_flight_topics_.find(mid);
  if (it == b->in_flight_topics_.end()) return;
  const std::string topic = std::move(it->second);
  b->in_flight_topics_.erase(it);
  if (reason < 0x80) return;
  // An ACL that denies our topics: without this the broker's refusal would go unnoticed.
  b->refused_by_broker_.fetch_add(1, std::memory_order_relaxed);
  const std::string why = mosquitto_reason_string(reason);
  if (b->said_refused_.size() < 1000 && b->said_refused_.insert(topic).second)
    std::fprintf(stderr, "korvel-gateway: mqtt: the broker refuses messages to %s: %s\n",
                 shown(topic).c_str(), why.c_str());
  if (b->on_refused_) b->on_refused_(topic, why);
}

void Broker::on_subscribe(mosquitto*, void* self, int mid, int, const int*, const mqtt5__property*) {
  auto* b = static_cast<Broker*>(self);
  const auto it = b->look_up_mids_.find(mid);
  if (it == b->look_up_mids_.end()) return;
  // The retained messages follow the acknowledgement and come before the broker reads this.
  mosquitto_unsubscribe(b->mosq_, nullptr, it->second.c_str());
  b->look_up_mids_.erase(it);
}

void Broker::on_log(mosquitto*, void* self, int level, const char* text) {
  // The client library's own words: the TLS library's reason for a refused certificate is only
  // here.
  if ((level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) == 0 || text == nullptr) return;
  auto* b = static_cast<Broker*>(self);
  std::lock_guard<std::mutex> lock(b->log_mu_);
  if (b->last_log_ == text) return;
  b->last_log_ = text;
  std::fprintf(stderr, "korvel-gateway: mqtt: %s\n", text);
}

void Broker::on_message(mosquitto*, void* self, const mosquitto_message* m, const mqtt5__property*) {
  auto* b = static_cast<Broker*>(self);
  if (m == nullptr || m->topic == nullptr) return;
  const std::string payload =
      m->payload != nullptr && m->payloadlen > 0
          ? std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen))
          : std::string();
  b->on_message_(m->topic, payload, m->retain);
}

std::string Broker::statistics() const {
  return std::to_string(sent_.load()) + " messages sent, " + std::to_string(refused_by_client_.load()) +
         " refused by the client library, " + std::to_string(refused_by_broker_.load()) +
         " refused by the broker" +
         (dropped_.load() != 0 ? ", " + std::to_string(dropped_.load()) + " results dropped" : std::string());
}

void Broker::stop(int timeout_ms) {
  if (mosq_ == nullptr) return;
  if (!config_.sparkplug) publish(status_topic_, "offline", true);
  {
    std::unique_lock<std::mutex> lock(mu_);
    published_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
      return (in_flight_ == 0 && pending_.empty() && ordered_.empty() && once_.empty()) || !connected_.load();
    });
  }
  mosquitto_disconnect(mosq_);
  quit_.store(true);
  plat::signal_host_event(wake_);
  if (net_.joinable()) net_.join();
}

}  // namespace korvel::gateway
