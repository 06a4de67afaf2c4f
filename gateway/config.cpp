#include "gateway/config.h"

#include <mosquitto.h>
#include <toml++/toml.h>
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "platform/env.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/text.h"

namespace korvel::gateway {
namespace {

// A topic level taken from the configuration must not split or widen a topic.
bool topic_safe(const std::string& s) {
  return !s.empty() && s.find_first_of("/+#") == std::string::npos && s.find('\0') == std::string::npos;
}

// MQTT carries topics, client ids and user names as UTF-8 text of at most 65,535 bytes; the client
// library refuses control characters too. What it would refuse at run time is refused here.
constexpr size_t kMaxMqttText = 65535;
// The longest topic the gateway makes below a line's name.
constexpr size_t kLongestModuleTopic = sizeof("/module/999/availability") - 1;
constexpr size_t kLongestTagSuffix = sizeof("/write_result") - 1;

// A name as it goes into a message: a hostile one may be 64 kB long or not text at all.
std::string shown(const std::string& s) {
  std::string out;
  for (unsigned char c : s.substr(0, 60)) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return s.size() > 60 ? out + "... (" + std::to_string(s.size()) + " bytes)" : out;
}

std::string mqtt_text_fault(const std::string& s) {
  if (s.size() > kMaxMqttText)
    return "is " + std::to_string(s.size()) + " bytes long, MQTT takes at most 65,535";
  if (mosquitto_validate_utf8(s.data(), static_cast<int>(s.size())) != MOSQ_ERR_SUCCESS)
    return "is not UTF-8 text without control characters (a tab, another code page)";
  return std::string();
}

class Reader {
 public:
  Reader(std::string file, std::string& err) : file_(std::move(file)), err_(err) {}

  bool fail(const toml::node* at, const std::string& what) {
    const int line = at != nullptr ? static_cast<int>(at->source().begin.line) : 1;
    err_ = file_ + ":" + std::to_string(line) + ": " + what;
    return false;
  }

  // Every key of a table must be one we know: a misspelt key would silently be a default.
  bool known_keys(const toml::table& t, const std::set<std::string>& keys, const std::string& where) {
    for (const auto& [k, v] : t)
      if (keys.count(std::string(k.str())) == 0)
        return fail(&v, "unknown key '" + std::string(k.str()) + "' " + where);
    return true;
  }

  bool text(const toml::table& t, const char* key, std::string& out, bool required,
            const std::string& where) {
    const toml::node* n = t.get(key);
    if (n == nullptr) return required ? fail(&t, "'" + std::string(key) + "' missing " + where) : true;
    const auto* s = n->as_string();
    if (s == nullptr) return fail(n, "'" + std::string(key) + "' must be a string " + where);
    out = s->get();
    if (required && out.empty()) return fail(n, "'" + std::string(key) + "' is empty " + where);
    return true;
  }

  // A path relative to the configuration file's directory.
  std::string resolve(const std::string& p) const {
    if (p.empty() || p[0] == '/') return p;
    const size_t slash = file_.rfind('/');
    return slash == std::string::npos ? p : file_.substr(0, slash + 1) + p;
  }

  bool mqtt(const toml::table& root, MqttConfig& m) {
    const toml::node* node = root.get("mqtt");
    if (node == nullptr || !node->is_table()) return fail(node ? node : &root, "a [mqtt] table is required");
    const toml::table& t = *node->as_table();
    const std::string where = "in [mqtt]";
    if (!known_keys(t,
                    {"url", "client_id", "topic_prefix", "username", "password_file", "ca_file", "cert_file",
                     "key_file", "keepalive", "mode", "group_id", "edge_node_id", "primary_host_id",
                     "bdseq_file", "protocol", "tls_server_name"},
                    where))
      return false;
    std::string url, password_file, mode = "json";
    if (!text(t, "mode", mode, false, where)) return false;
    if (mode != "json" && mode != "sparkplug")
      return fail(t.get("mode"), "mode must be \"json\" or \"sparkplug\"");
    m.sparkplug = mode == "sparkplug";
    if (!sparkplug_ids(t, m, where)) return false;
    if (!text(t, "url", url, true, where) || !text(t, "client_id", m.client_id, true, where) ||
        !text(t, "topic_prefix", m.topic_prefix, !m.sparkplug, where) ||
        !text(t, "username", m.username, false, where) ||
        !text(t, "password_file", password_file, false, where) ||
        !text(t, "ca_file", m.ca_file, false, where) || !text(t, "cert_file", m.cert_file, false, where) ||
        !text(t, "key_file", m.key_file, false, where))
      return false;
    if (!parse_url(url, m))
      return fail(t.get("url"), "url must be mqtt://host[:port] or mqtts://host[:port]: '" + url + "'");
    for (const std::string& level :
         m.topic_prefix.empty() && m.sparkplug ? std::vector<std::string>{} : plat_split(m.topic_prefix))
      if (!topic_safe(level))
        return fail(t.get("topic_prefix"),
                    "topic_prefix must be topic levels without '+', '#' or empty levels");
    if (const std::string f = mqtt_text_fault(m.topic_prefix); !f.empty())
      return fail(t.get("topic_prefix"), "topic_prefix " + f);
    // The broker keeps '$' topics for itself and silently refuses to take ours there.
    if (!m.topic_prefix.empty() && m.topic_prefix[0] == '$')
      return fail(t.get("topic_prefix"), "topic_prefix must not start with '$'");
    if (const std::string f = mqtt_text_fault(m.client_id); !f.empty())
      return fail(t.get("client_id"), "client_id " + f);
    if (const std::string f = mqtt_text_fault(m.username); !f.empty())
      return fail(t.get("username"), "username " + f);
    if (const toml::node* p = t.get("protocol")) {
      const auto* v = p->as_string();
      if (v != nullptr && v->get() == "5")
        m.protocol = MqttProtocol::v5;
      else if (v != nullptr && v->get() == "3.1.1")
        m.protocol = MqttProtocol::v311;
      else
        return fail(p, "protocol must be \"5\" or \"3.1.1\"");
    }
    if (!text(t, "tls_server_name", m.tls_server_name, false, where)) return false;
    if (!m.tls_server_name.empty() &&
        (!m.tls || m.tls_server_name.find_first_of("/@ :[]") != std::string::npos ||
         !mqtt_text_fault(m.tls_server_name).empty()))
      return fail(t.get("tls_server_name"), "tls_server_name must be a host name, with an mqtts:// url");
    if (const toml::node* k = t.get("keepalive")) {
      const auto* i = k->as_integer();
      if (i == nullptr || i->get() < 5 || i->get() > 3600)
        return fail(k, "keepalive must be 5..3600 seconds");
      m.keepalive = static_cast<int>(i->get());
    }
    for (auto [key, file] :
         {std::pair{"ca_file", &m.ca_file}, {"cert_file", &m.cert_file}, {"key_file", &m.key_file}}) {
      if (file->empty()) continue;
      *file = resolve(*file);
      if (!plat::file_exists(*file)) return fail(t.get(key), std::string(key) + ": cannot read " + *file);
    }
    if (m.cert_file.empty() != m.key_file.empty()) return fail(&t, "cert_file and key_file go together");
    if (!m.tls && (!m.ca_file.empty() || !m.cert_file.empty()))
      return fail(t.get("url"), "ca_file, cert_file and key_file need an mqtts:// url");
    if (!password_file.empty()) {
      if (m.username.empty()) return fail(t.get("password_file"), "password_file needs a username");
      const std::string pf = resolve(password_file);
      if (!plat::read_file(pf, m.password, 4096)) return fail(t.get("password_file"), "cannot read " + pf);
      // As ssh refuses a key others can read: the password is as good as published.
      if (plat::open_to_others(pf))
        return fail(t.get("password_file"), pf + " is open to other users (chmod o-rwx " + pf + ")");
      m.password = m.password.substr(0, m.password.find_first_of("\r\n"));
      if (m.password.empty()) return fail(t.get("password_file"), pf + " holds no password");
    }
    return true;
  }

  // group_id and edge_node_id for Sparkplug, and only there.
  bool sparkplug_ids(const toml::table& t, MqttConfig& m, const std::string& where) {
    for (auto [key, out] : {std::pair{"group_id", &m.group_id},
                            {"edge_node_id", &m.edge_node_id},
                            {"primary_host_id", &m.primary_host_id},
                            {"bdseq_file", &m.bdseq_file}}) {
      const bool required =
          m.sparkplug && std::string(key) != "primary_host_id" && std::string(key) != "bdseq_file";
      if (!m.sparkplug && t.get(key) != nullptr)
        return fail(t.get(key), std::string(key) + " needs mode = \"sparkplug\"");
      if (!text(t, key, *out, required, where)) return false;
      if (!out->empty() && std::string(key) != "bdseq_file" && !topic_safe(*out))
        return fail(t.get(key), std::string(key) + " must be one topic level (no '/', '+', '#')");
    }
    // Kept where the service may write (its working directory) unless the file says otherwise.
    if (m.sparkplug)
      m.bdseq_file = m.bdseq_file.empty() ? "korvel-" + m.edge_node_id + ".bdseq" : resolve(m.bdseq_file);
    return true;
  }

  // devices: the lines so far by their serial device.
  bool line(const toml::table& t, const std::string& prefix, LineConfig& l, std::set<std::string>& names,
            std::map<std::string, std::string>& devices) {
    if (!known_keys(t, {"name", "block", "tags", "writable", "port", "device_ids"}, "in [[line]]"))
      return false;
    if (!text(t, "name", l.name, true, "in [[line]]")) return false;
    const std::string where = "in line \"" + l.name + "\"";
    if (!topic_safe(l.name))
      return fail(t.get("name"), "the name must be one topic level (no '/', '+', '#') " + where);
    if (const std::string f = mqtt_text_fault(l.name); !f.empty())
      return fail(t.get("name"), "the name " + f);
    const size_t base = prefix.size() + 1 + l.name.size();
    if (base + kLongestModuleTopic > kMaxMqttText)
      return fail(t.get("name"), "the name makes topics longer than MQTT takes " + where);
    if (!names.insert(l.name).second) return fail(t.get("name"), "a second line named \"" + l.name + "\"");
    std::string block, tags;
    if (!text(t, "block", block, true, where) || !text(t, "tags", tags, false, where)) return false;
    if (!text(t, "port", l.device, false, where)) return false;
    if (t.get("port") != nullptr && l.device.empty()) return fail(t.get("port"), "'port' is empty " + where);
    l.device_given = !l.device.empty();
    l.block = std::make_shared<PDB>();
    std::string why;
    if (!cli::load_block(resolve(block), *l.block, why)) return fail(t.get("block"), why + " " + where);
    // A device opens for one program only: the second line would never start.
    if (!l.device_given) l.device = plat::serial_device_path("Com" + std::to_string(l.block->ComPort + 1));
    const auto [other, first] = devices.emplace(l.device, l.name);
    if (!first) {
      const std::string what = l.device_given ? l.device : "Com" + std::to_string(l.block->ComPort + 1);
      return fail(t.get(l.device_given ? "port" : "block"),
                  what + " is the port of line \"" + other->second + "\" already " + where);
    }
    if (!tags.empty() && !cli::load_tags(resolve(tags), l.tags, why))
      return fail(t.get("tags"), why + " " + where);
    std::set<std::string> tag_names;
    for (const cli::TagSpec& s : l.tags) {
      if (!topic_safe(s.name) || s.name == "link" || s.name == "module")
        return fail(t.get("tags"),
                    "tag name '" + shown(s.name) +
                        "' cannot be a topic level (no '/', '+', '#', not 'link' or 'module') " + where);
      if (const std::string f = mqtt_text_fault(s.name); !f.empty())
        return fail(t.get("tags"), "tag name '" + shown(s.name) + "' " + f + " " + where);
      if (base + 1 + s.name.size() + kLongestTagSuffix > kMaxMqttText)
        return fail(t.get("tags"),
                    "tag name '" + shown(s.name) + "' makes topics longer than MQTT takes " + where);
      if (!tag_names.insert(s.name).second)
        return fail(t.get("tags"), "tag '" + s.name + "' listed twice " + where);
    }
    if (const toml::node* w = t.get("writable")) {
      const auto* arr = w->as_array();
      if (arr == nullptr) return fail(w, "writable must be an array of tag names " + where);
      for (const toml::node& e : *arr) {
        const auto* s = e.as_string();
        if (s == nullptr) return fail(&e, "writable must be an array of tag names " + where);
        if (tag_names.count(s->get()) == 0)
          return fail(&e, "writable names no tag '" + s->get() + "' " + where);
        l.writable.push_back(s->get());
      }
    }
    return device_ids(t, l, where);
  }

  // device_ids = { 1 = "boiler-feed", ... }: Sparkplug device ids by module number.
  bool device_ids(const toml::table& t, LineConfig& l, const std::string& where) {
    const toml::node* n = t.get("device_ids");
    if (n == nullptr) return true;
    const auto* table = n->as_table();
    if (table == nullptr) return fail(n, "device_ids must be a table of module number = device id " + where);
    for (const auto& [k, v] : *table) {
      const std::string key(k.str());
      const auto* id = v.as_string();
      const bool number =
          !key.empty() && key.size() <= 3 && key.find_first_not_of("0123456789") == std::string::npos;
      if (!number || id == nullptr || !topic_safe(id->get()))
        return fail(&v, "device_ids: '" + key +
                            "' must be a module number with a device id of one topic level " + where);
      l.device_ids[std::stoi(key)] = id->get();
    }
    return true;
  }

 private:
  static std::vector<std::string> plat_split(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
      const size_t at = s.find('/', start);
      parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
      if (at == std::string::npos) return parts;
      start = at + 1;
    }
  }

  static bool parse_url(const std::string& url, MqttConfig& m) {
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
      rest = url.substr(7);
      m.tls = false;
      m.port = 1883;
    } else if (url.rfind("mqtts://", 0) == 0) {
      rest = url.substr(8);
      m.tls = true;
      m.port = 8883;
    } else {
      return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    // An IPv6 address in brackets ("[::1]:1883"); any other host has no colon of its own.
    size_t colon = rest.find(':');
    if (!rest.empty() && rest[0] == '[') {
      const size_t close = rest.find(']');
      if (close == std::string::npos || (close + 1 < rest.size() && rest[close + 1] != ':')) return false;
      m.host = rest.substr(1, close - 1);
      if (m.host.empty() || m.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
        return false;
      colon = close + 1 < rest.size() ? close + 1 : std::string::npos;
    } else {
      m.host = rest.substr(0, colon);
    }
    if (colon != std::string::npos) {
      const std::string p = rest.substr(colon + 1);
      if (p.empty() || p.size() > 5 || p.find_first_not_of("0123456789") != std::string::npos) return false;
      m.port = std::stoi(p);
      if (m.port < 1 || m.port > 65535) return false;
    }
    return !m.host.empty() && m.host.find_first_of("/@ ") == std::string::npos;
  }

  std::string file_;
  std::string& err_;
};

}  // namespace

bool load_config(const std::string& path, Config& config, std::string& err) {
  Reader r(path, err);
  toml::table root;
  if (!plat::file_exists(path)) {
    err = path + ": cannot read the file";
    return false;
  }
  try {
    root = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    err = path + ":" + std::to_string(std::max<uint32_t>(1, e.source().begin.line)) + ": " +
          std::string(e.description());
    return false;
  }
  if (!r.known_keys(root, {"mqtt", "line"}, "at the top")) return false;
  if (!r.mqtt(root, config.mqtt)) return false;
  const toml::node* lines = root.get("line");
  if (lines == nullptr || !lines->is_array_of_tables() || lines->as_array()->empty())
    return r.fail(lines ? lines : &root, "at least one [[line]] is required");
  std::set<std::string> names;
  std::map<std::string, std::string> devices;
  for (const toml::node& n : *lines->as_array()) {
    LineConfig l;
    if (!r.line(*n.as_table(), config.mqtt.topic_prefix, l, names, devices)) return false;
    config.lines.push_back(std::move(l));
  }
  // Lines of distinct devices whose blocks name the same port number (blocks made with the
  // default COM1, say): a line with a `port` key moves to a number no other line uses.
  std::set<int> taken;
  for (const LineConfig& l : config.lines)
    if (!l.device_given) taken.insert(l.block->ComPort);
  for (LineConfig& l : config.lines) {
    if (!l.device_given || taken.insert(l.block->ComPort).second) continue;
    int free = 0;
    while (free < 16 && taken.count(free) != 0) ++free;
    if (free == 16) return r.fail(&root, "more than 16 lines: a process drives at most 16 ports");
    taken.insert(free);
    l.block->ComPort = static_cast<decltype(l.block->ComPort)>(free);
  }
  // A device id names one module of the whole node.
  std::map<std::string, std::string> ids;
  for (const LineConfig& l : config.lines)
    for (const TDevInfo& d : l.block->Devices) {
      if (d.DevType == 2) continue;
      const std::string id = device_id(l, d.DevID);
      const std::string who = "module " + std::to_string(d.DevID) + " of line \"" + l.name + "\"";
      if (config.mqtt.sparkplug && !ids.emplace(id, who).second)
        return r.fail(lines, "device id \"" + id + "\" of " + who + " is " + ids[id] + "'s already");
    }
  return true;
}

void use_devices(const Config& config) {
  for (const LineConfig& l : config.lines)
    if (l.device_given) plat::set_env("KORVELPLNK_COM" + std::to_string(l.block->ComPort + 1), l.device);
}

std::string device_id(const LineConfig& line, int module) {
  const auto it = line.device_ids.find(module);
  return it != line.device_ids.end() ? it->second : line.name + "-" + std::to_string(module);
}

}  // namespace korvel::gateway
