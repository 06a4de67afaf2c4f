#include "gateway/broker.h"

#include <mosquitto.h>
#include <chrono>
#include <cstdio>

namespace korvel::gateway {
namespace {

constexpr int kQos = 1;
constexpr int kWindow = 1000;

// libmosquitto keeps process-wide state (the TLS library among it) that is set up once.
struct LibInit {
  LibInit() { mosquitto_lib_init(); }
  ~LibInit() { mosquitto_lib_cleanup(); }
};

}  // namespace

Broker::Broker(const MqttConfig& config, OnMessage on_message)
    : config_(config), status_topic_(config.topic_prefix + "/status"), on_message_(std::move(on_message)) {}

Broker::~Broker() {
  if (mosq_ != nullptr) {
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
  }
}

bool Broker::start(std::string& err) {
  static LibInit init;
  // A persistent session (clean_session false): the broker keeps our subscriptions and the sets
  // sent to us while we were away for a moment.
  mosq_ = mosquitto_new(config_.client_id.c_str(), false, this);
  if (mosq_ == nullptr) {
    err = "cannot create the MQTT client";
    return false;
  }
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_connect_with_flags_callback_set(
      mosq_, [](mosquitto* m, void* self, int rc, int flags) { on_connect(m, self, rc, flags, nullptr); });
  mosquitto_disconnect_callback_set(mosq_, &Broker::on_disconnect);
  mosquitto_message_callback_set(mosq_, &Broker::on_message);
  mosquitto_publish_callback_set(mosq_, &Broker::on_publish);
  mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
  mosquitto_max_inflight_messages_set(
      mosq_, 0);  // flush_locked() keeps the window  // 1, 2, 4 ... 30 s between attempts
  const std::string offline = "offline";
  if (mosquitto_will_set(mosq_, status_topic_.c_str(), static_cast<int>(offline.size()), offline.data(), kQos,
                         true) != MOSQ_ERR_SUCCESS) {
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
  // A broker that is not there yet is no error: the network thread keeps trying.
  const int rc = mosquitto_connect_async(mosq_, config_.host.c_str(), config_.port, config_.keepalive);
  if (rc != MOSQ_ERR_SUCCESS)
    std::fprintf(stderr, "korvel-gateway: broker %s:%d: %s; retrying\n", config_.host.c_str(), config_.port,
                 rc == MOSQ_ERR_ERRNO ? "cannot connect" : mosquitto_strerror(rc));
  if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
    err = "cannot start the MQTT network thread";
    return false;
  }
  return true;
}

bool Broker::send_locked(const std::string& topic, Entry& e) {
  int mid = 0;
  const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(e.payload.size()),
                                   e.payload.data(), kQos, e.retain);
  e.sent = rc == MOSQ_ERR_SUCCESS;
  if (e.sent) ++in_flight_;
  return e.sent;
}

void Broker::queue_locked(const std::string& topic, Entry& e) {
  if (e.queued) return;
  e.queued = true;
  pending_.push_back(topic);
}

void Broker::flush_locked() {
  // At most kWindow messages wait for the broker's acknowledgement; the others wait here, one per
  // topic, so a slow or absent broker costs memory for the latest values only.
  while (connected_.load() && in_flight_ < kWindow && !pending_.empty()) {
    const auto it = latest_.find(pending_.front());
    if (it == latest_.end()) {
      pending_.pop_front();
      continue;
    }
    Entry& e = it->second;
    if (!e.sent && !send_locked(it->first, e)) return;  // the connection went: the next one sends it
    e.queued = false;
    pending_.pop_front();
    if (!e.retain) latest_.erase(it);
  }
}

void Broker::publish(const std::string& topic, std::string payload, bool retain) {
  std::lock_guard<std::mutex> lock(mu_);
  Entry& e = latest_[topic];
  e.payload = std::move(payload);
  e.retain = retain;
  e.sent = false;
  queue_locked(topic, e);
  flush_locked();
}

void Broker::publish_retained(std::vector<std::pair<const std::string*, std::string>>& messages) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto& [topic, payload] : messages) {
    Entry& e = latest_[*topic];
    e.payload = std::move(payload);
    e.retain = true;
    e.sent = false;
    queue_locked(*topic, e);
  }
  flush_locked();
}

void Broker::connected_now(bool session_present) {
  std::lock_guard<std::mutex> lock(mu_);
  connected_.store(true);
  ++connections_;
  in_flight_ = 0;
  int mid = 0;
  mosquitto_publish(mosq_, &mid, status_topic_.c_str(), 6, "online", kQos, true);
  for (const std::string& s : subscriptions_) mosquitto_subscribe(mosq_, &mid, s.c_str(), kQos);
  // A broker without our session has lost what it held for us, retained values included.
  for (auto& [topic, e] : latest_) {
    if (!session_present) e.sent = false;
    if (!e.sent) queue_locked(topic, e);
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
  if (rc != 0) std::fprintf(stderr, "korvel-gateway: lost the broker; reconnecting\n");
  b->published_.notify_all();
}

void Broker::on_publish(mosquitto*, void* self, int) {
  auto* b = static_cast<Broker*>(self);
  std::lock_guard<std::mutex> lock(b->mu_);
  if (b->in_flight_ > 0) --b->in_flight_;
  b->flush_locked();
  b->published_.notify_all();
}

void Broker::on_message(mosquitto*, void* self, const mosquitto_message* m) {
  auto* b = static_cast<Broker*>(self);
  if (m == nullptr || m->topic == nullptr) return;
  const std::string payload =
      m->payload != nullptr && m->payloadlen > 0
          ? std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen))
          : std::string();
  b->on_message_(m->topic, payload);
}

void Broker::stop(int timeout_ms) {
  if (mosq_ == nullptr) return;
  publish(status_topic_, "offline", true);
  {
    std::unique_lock<std::mutex> lock(mu_);
    published_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return (in_flight_ == 0 && pending_.empty()) || !connected_.load(); });
  }
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
}

}  // namespace korvel::gateway
