// The gateway's configuration file (TOML): the broker, and the lines with their block and tags.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/blockfile.h"
#include "driver/PDB.h"

namespace korvel::gateway {

enum class MqttProtocol { v5, v311 };

struct MqttConfig {
  std::string host;
  int port = 1883;
  bool tls = false;
  std::string client_id;
  std::string topic_prefix;
  std::string username;
  std::string password;  // read from password_file, never given on the command line
  std::string ca_file, cert_file, key_file;
  int keepalive = 30;  // seconds
  // "json" (per-tag topics under topic_prefix) or "sparkplug" (Sparkplug B, below).
  bool sparkplug = false;
  std::string group_id, edge_node_id;
  std::string primary_host_id;  // empty: births without waiting for a primary host application
  std::string bdseq_file;       // where bdSeq is kept across restarts
  MqttProtocol protocol = MqttProtocol::v5;
  std::string tls_server_name;  // the name the broker's certificate must carry, when not the url's host
};

struct LineConfig {
  std::string name;
  std::shared_ptr<PDB> block;
  std::vector<cli::TagSpec> tags;
  std::vector<std::string> writable;
  // The serial device: the line's `port` key, else the device of the block's ComN (KORVELPLNK_COMN
  // or /dev/ttyS(N-1)). With the key, the block's port number may be moved to a free one.
  std::string device;
  bool device_given = false;
  std::map<int, std::string> device_ids;  // Sparkplug device ids by module number; else "<line>-<n>"
};

struct Config {
  MqttConfig mqtt;
  std::vector<LineConfig> lines;
};

// Reads and checks the whole file, the block and tag files it names included (relative paths are
// relative to the file). False with "file:line: what is wrong" in err.
bool load_config(const std::string& path, Config& config, std::string& err);

// Points each line's port number at its configured device (KORVELPLNK_COMN in this process), for
// the lines with a `port` key. Before any line starts.
void use_devices(const Config& config);
// The Sparkplug device id of a module of the line.
std::string device_id(const LineConfig& line, int module);

}  // namespace korvel::gateway
