// korvel-gateway: the modules' tags on an MQTT broker. A host of the library like korvel-poll (it
// loads KorvelPLNK.so through its exports), with one thread and one driver instance per line.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/host_tags.h"
#include "gateway/broker.h"
#include "gateway/config.h"
#include "gateway/line.h"
#include "gateway/sparkplug_publisher.h"
#include "platform/dynlib.h"

using namespace korvel;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
  g_stop = 1;
}

const char kUsage[] =
    "usage: korvel-gateway --config FILE [--library PATH] [--check]\n"
    "       korvel-gateway --version\n"
    "\n"
    "Publishes the tags of the lines in FILE (TOML) to an MQTT broker and writes the sets it receives.\n"
    "  --config FILE   the configuration (relative paths in it are relative to FILE)\n"
    "  --library PATH  the driver library (default: KorvelPLNK.so of the build tree, else the installed "
    "one)\n"
    "  --check         read and check the configuration, then exit\n"
    "\n"
    "Exit status: 0 after SIGTERM or SIGINT, 1 when the library cannot be loaded or the broker client\n"
    "cannot be set up, 2 for a usage or configuration error.\n";

struct Args {
  std::string config, library;
  bool check = false;
};

// -1 to go on, else the exit status.
int parse_args(int argc, char** argv, Args& a) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("korvel-gateway " KORVEL_VERSION);
      return 0;
    }
    if (arg == "--check") {
      a.check = true;
    } else if ((arg == "--config" || arg == "--library") && i + 1 < argc) {
      (arg == "--config" ? a.config : a.library) = argv[++i];
    } else {
      std::fprintf(stderr, "korvel-gateway: unexpected argument '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (a.config.empty()) {
    std::fprintf(stderr, "korvel-gateway: --config FILE is required\n%s", kUsage);
    return 2;
  }
  return -1;
}

// "<prefix>/<line>/<tag>/set" -> the line and the tag; false for any other topic.
bool split_set_topic(const std::string& prefix, const std::string& topic, std::string& line,
                     std::string& tag) {
  const std::string head = prefix + "/";
  const std::string tail = "/set";
  if (topic.size() <= head.size() + tail.size() || topic.compare(0, head.size(), head) != 0 ||
      topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
    return false;
  const std::string rest = topic.substr(head.size(), topic.size() - head.size() - tail.size());
  const size_t slash = rest.find('/');
  if (slash == std::string::npos || rest.find('/', slash + 1) != std::string::npos) return false;
  line = rest.substr(0, slash);
  tag = rest.substr(slash + 1);
  return !line.empty() && !tag.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  if (const int rc = parse_args(argc, argv, args); rc >= 0) return rc;
  gateway::Config config;
  std::string err;
  if (!gateway::load_config(args.config, config, err)) {
    std::fprintf(stderr, "korvel-gateway: %s\n", err.c_str());
    return 2;
  }
  if (args.check) return 0;
  gateway::use_devices(config);

  if (args.library.empty())
    args.library = cli::default_library(reinterpret_cast<const void*>(&on_signal), KORVEL_INSTALLED_LIBRARY);
  plat::DynLib lib;
  cli::HostExports x;
  if (!cli::load_library(args.library, lib, x, "korvel-gateway")) return 1;

  std::vector<std::unique_ptr<gateway::Line>> lines;
  std::unique_ptr<gateway::SparkplugPublisher> sparkplug;
  const std::string prefix = config.mqtt.topic_prefix;
  gateway::Broker broker(config.mqtt, [&](const std::string& topic, const std::string& payload) {
    if (sparkplug) {
      sparkplug->on_message(topic, payload);
      return;
    }
    std::string line, tag;
    if (!split_set_topic(prefix, topic, line, tag)) return;
    for (auto& l : lines)
      if (l->name() == line) l->offer_set(tag, payload);
  });
  if (config.mqtt.sparkplug) {
    sparkplug = std::make_unique<gateway::SparkplugPublisher>(config, broker);
    sparkplug->set_offer([&](int line, const std::string& tag, const std::string& payload) {
      lines[static_cast<size_t>(line)]->offer_set(tag, payload);
    });
    for (const std::string& s : sparkplug->subscriptions()) broker.subscribe(s);
    broker.set_will_source([&] { return sparkplug->will(); });
  }
  for (const gateway::LineConfig& lc : config.lines) {
    lines.push_back(std::make_unique<gateway::Line>(lc, x, broker, prefix));
    if (sparkplug)
      lines.back()->attach(sparkplug.get(), static_cast<int>(lines.size() - 1));
    else
      broker.subscribe(lines.back()->set_filter());
  }

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  if (!broker.start(err)) {
    std::fprintf(stderr, "korvel-gateway: %s\n", err.c_str());
    return 1;
  }
  for (auto& l : lines) l->start();
  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // A new connection's births (or the primary host's return) do not wait for a line's poll.
    if (sparkplug) sparkplug->tick();
  }

  std::fprintf(stderr, "korvel-gateway: stopping\n");
  for (auto& l : lines) l->stop();
  if (sparkplug) sparkplug->stop();  // the NDEATH after the modules' deaths
  broker.stop(3000);
  return 0;
}
