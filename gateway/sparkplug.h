// The gateway as a Sparkplug B edge node: the metrics of the node and of its devices (one per
// module), and the messages a session sends (births, data by exception, deaths) and reads (NCMD,
// DCMD). Pure: no broker, no clock, no locks; whoever drives it hands in the time and publishes
// what it returns, in the order returned (the sequence number runs across them).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "exports/KorvelPLNK.h"

namespace korvel::gateway::sparkplug {

// Sparkplug datatypes the gateway uses.
constexpr uint32_t kInt32 = 3;
constexpr uint32_t kInt64 = 4;
constexpr uint32_t kUInt32 = 7;
constexpr uint32_t kDouble = 10;
constexpr uint32_t kBoolean = 11;
constexpr uint32_t kString = 12;

// The Quality property of a metric as host applications read it.
constexpr int32_t kQualityGood = 192;
constexpr int32_t kQualityBad = 0;

struct Value {
  bool null = true;
  double real = 0;
  bool boolean = false;
  int64_t integer = 0;
  std::string text;  // UTF-8
  bool operator==(const Value&) const = default;
};

struct Message {
  std::string topic;
  std::string payload;
  int qos = 0;
};

// Names of the node's own metrics.
inline constexpr const char* kBdSeq = "bdSeq";
inline constexpr const char* kRebirth = "Node Control/Rebirth";
inline constexpr const char* kLastRefused = "Node Info/Last Refused Command";

class Node {
 public:
  // Adds bdSeq, Node Control/Rebirth and Node Info/Last Refused Command.
  Node(std::string group_id, std::string edge_node_id);

  // The model, fixed before the first birth. Aliases are given in order of creation, unique
  // across the node.
  int add_node_metric(const std::string& name, uint32_t type);
  int add_device(const std::string& device_id);
  // A device metric with quality: the status word of its tag (0 good) goes with it.
  int add_device_metric(int device, const std::string& name, uint32_t type);

  int devices() const { return static_cast<int>(devices_.size()); }
  const std::string& device_id(int d) const { return devices_[static_cast<size_t>(d)].id; }
  const std::string& metric_name(int d, int m) const;

  // The birth/death sequence number of the connection being made (the will's and the births').
  void set_bdseq(uint64_t bdseq) { bdseq_ = bdseq; }
  uint64_t bdseq() const { return bdseq_; }
  // The NDEATH: the will of every connection, and what a clean stop publishes.
  Message death(uint64_t now_ms) const;

  // New values; a change goes out with the next flush(). ts: the value's time, ms since 1970 UTC.
  // A device metric's status word: 0 good, else the tag's failure bits; its Quality follows.
  void set_node_value(int metric, const Value& v, uint64_t ts);
  void set_value(int device, int metric, const Value& v, uint32_t status, uint64_t ts);
  // The next flush() sends the metric even unchanged (the outcome of a command).
  void touch(int device, int metric);
  // A module answering or not: DBIRTH or DDEATH with the next flush() while born.
  void set_online(int device, bool online);
  bool online(int device) const { return devices_[static_cast<size_t>(device)].online; }

  // NBIRTH (sequence 0), a DBIRTH per device and a DDEATH per device that does not answer. The
  // node is born from then on.
  void birth(uint64_t now_ms, std::vector<Message>& out);
  // The session is over (connection lost, primary host gone): nothing more until birth().
  void unborn() { born_ = false; }
  bool born() const { return born_; }
  // Every change since the last flush: NDATA, then per device DDATA (changed metrics only, by
  // alias), DDEATH or DBIRTH. Nothing while not born (the next birth carries the values).
  void flush(uint64_t now_ms, std::vector<Message>& out);

  // A command received, as decoded from NCMD or DCMD.
  struct Order {
    int device = -1;  // -1: a node metric
    int metric = -1;
    Value value;
    uint32_t type = 0;  // the datatype the payload gave its value
    std::string name;   // the metric as the command named it, for a refusal
  };
  struct Command {
    bool rebirth = false;
    std::vector<Order> writes;
    // What could not be taken, each "<what>: <why>"; an undecodable payload is one entry.
    std::vector<std::string> refused;
  };
  // topic: the whole topic (it must be this node's NCMD or DCMD); false for any other.
  bool command(const std::string& topic, const std::string& payload, Command& out) const;

  // The topics this node subscribes to and publishes on.
  std::string topic(const char* type) const;
  std::string device_topic(const char* type, int device) const;

  uint64_t next_seq() const { return seq_; }

 private:
  struct Metric {
    std::string name;
    uint64_t alias = 0;
    uint32_t type = 0;
    bool quality = false;
    Value value;
    uint32_t status = KORVEL_STATUS_NO_VALUE_YET;
    uint32_t sent_status = KORVEL_STATUS_NO_VALUE_YET;
    uint64_t ts = 0;
    bool dirty = false;
  };
  struct Device {
    std::string id;
    std::vector<Metric> metrics;
    std::vector<int> dirty;
    bool online = true;
    bool announced_online = true;  // as the host last heard it
  };

  std::string encode(uint64_t now_ms, const std::vector<const Metric*>& metrics, bool birth, bool with_seq);
  void emit(const std::string& topic, std::string payload, std::vector<Message>& out);
  void device_birth(int d, uint64_t now_ms, std::vector<Message>& out);
  void device_death(int d, uint64_t now_ms, std::vector<Message>& out);
  void mark(int device, Device& d, int metric);

  std::string group_, node_;
  std::vector<Metric> node_metrics_;
  std::vector<int> node_dirty_;
  std::vector<Device> devices_;
  std::vector<int> status_changed_;  // devices whose availability changed since the last flush
  std::vector<int> dirty_devices_;   // devices with changed metrics, each once
  uint64_t next_alias_ = 0;
  uint64_t bdseq_ = 0;
  uint64_t seq_ = 0;
  bool born_ = false;
};

// "spBv1.0/<group>/<type>/<node>[/<device>]" split; false for another namespace or shape.
bool split_topic(const std::string& topic, std::string& group, std::string& type, std::string& node,
                 std::string& device);

// The primary host's STATE payload ({"online": bool, "timestamp": ms}); false when it does not parse.
bool parse_state(const std::string& payload, bool& online, uint64_t& timestamp);

}  // namespace korvel::gateway::sparkplug
