// korvel-gateway: the modules' tags on an MQTT broker. A host of the library like korvel-poll (it
// loads KorvelPLNK.so through its exports), with one thread and one driver instance per line.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cli/host_tags.h"
#include "gateway/broker.h"
#include "gateway/config.h"
#include "gateway/json_publisher.h"
#include "gateway/line.h"
#include "gateway/sparkplug_publisher.h"
#include "platform/dynlib.h"
#include "platform/process.h"

using namespace korvel;

namespace {

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_reload = 0;
void on_signal(int) {
  g_stop = 1;
}
void on_hangup(int) {
  g_reload = 1;
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
    "SIGHUP reads FILE again: when it is good, the gateway stops as on SIGTERM and starts again with it\n"
    "(same process); when it is not, the error is logged and the gateway goes on as it was.\n"
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

// Runs the gateway until SIGTERM or SIGINT (0), or until SIGHUP finds a good configuration (-1:
// start again).
int serve(const Args& args, const gateway::Config& config) {
  std::string library = args.library;
  if (library.empty())
    library = cli::default_library(reinterpret_cast<const void*>(&on_signal), KORVEL_INSTALLED_LIBRARY);
  plat::DynLib lib;
  cli::HostExports x;
  if (!cli::load_library(library, lib, x, "korvel-gateway")) return 1;

  std::unique_ptr<gateway::JsonPublisher> json;
  std::unique_ptr<gateway::SparkplugPublisher> sparkplug;
  std::vector<std::unique_ptr<gateway::Line>> lines;
  const std::string prefix = config.mqtt.topic_prefix;
  gateway::Broker broker(
      config.mqtt,
      [&](const std::string& topic, const std::string& payload, bool retained) {
        // A retained set is the broker's copy, handed again on every subscription: written once
        // when it was published, it is not written again. A primary host's STATE is retained by
        // design: it is read, not written.
        const bool state = std::string_view(topic).starts_with("spBv1.0/STATE/");
        if (sparkplug) {
          if (retained && !state) {
            std::fprintf(stderr, "korvel-gateway: %s: a retained command is not carried out\n",
                         topic.substr(0, 100).c_str());
            return;
          }
          sparkplug->on_message(topic, payload);
          return;
        }
        std::string line, tag;
        if (split_set_topic(prefix, topic, line, tag)) {
          const int i = json->line_of(prefix + "/" + line + "/");
          if (i < 0 || lines[static_cast<size_t>(i)]->name() != line) return;
          gateway::Line& l = *lines[static_cast<size_t>(i)];
          if (retained) {
            std::fprintf(stderr,
                         "korvel-gateway: %s/%s: a retained set is not written again (publish sets "
                         "without retain)\n",
                         line.c_str(), tag.substr(0, 100).c_str());
            return;
          }
          // A name no tag has, so long that its result's topic would be more than MQTT takes:
          // nobody could read that answer.
          if (!l.has_tag(tag) && topic.size() + sizeof("write_result") - sizeof("set") > 65535) {
            std::fprintf(stderr, "korvel-gateway: %s: a set of an unknown tag of %zu bytes is ignored\n",
                         line.c_str(), tag.size());
            return;
          }
          l.offer_set(tag, payload);
          return;
        }
        // A retained value of a tag the configuration no longer has is cleared.
        const int i = json->line_of(topic);
        if (!retained || i < 0 || payload.empty()) return;
        const std::string level = topic.substr(json->base(i).size());
        if (level.empty() || level.find('/') != std::string::npos || level == "link" ||
            lines[static_cast<size_t>(i)]->has_tag(level))
          return;
        std::fprintf(stderr,
                     "korvel-gateway: %s: clearing the retained value of a tag no longer configured\n",
                     topic.c_str());
        broker.publish(topic, std::string(), true);
      },
      [&](const std::string& topic, const std::string& reason) {
        if (json) json->broker_refused(topic, reason);
      });
  gateway::Publisher* publisher = nullptr;
  if (config.mqtt.sparkplug) {
    sparkplug = std::make_unique<gateway::SparkplugPublisher>(config, broker);
    sparkplug->set_offer([&](int line, const std::string& tag, const std::string& payload) {
      lines[static_cast<size_t>(line)]->offer_set(tag, payload);
    });
    for (const std::string& s : sparkplug->subscriptions()) broker.subscribe(s);
    broker.set_will_source([&] { return sparkplug->will(); });
    publisher = sparkplug.get();
  } else {
    json = std::make_unique<gateway::JsonPublisher>(config, broker);
    for (int i = 0; i < static_cast<int>(config.lines.size()); ++i) {
      broker.subscribe(json->set_filter(i));
      broker.look_up_retained(json->base(i) + "+");
    }
    publisher = json.get();
  }
  for (const gateway::LineConfig& lc : config.lines)
    lines.push_back(std::make_unique<gateway::Line>(lc, x, *publisher, static_cast<int>(lines.size())));

  std::string err;
  if (!broker.start(err)) {
    std::fprintf(stderr, "korvel-gateway: %s\n", err.c_str());
    return 1;
  }
  for (auto& l : lines) l->start();
  bool reload = false;
  while (!g_stop && !reload) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // A new connection's births (or the primary host's return) do not wait for a line's poll.
    if (sparkplug) sparkplug->tick();
    if (!g_reload) continue;
    g_reload = 0;
    gateway::Config fresh;
    if (gateway::load_config(args.config, fresh, err)) {
      std::fprintf(stderr, "korvel-gateway: SIGHUP: the configuration is good; starting again with it\n");
      reload = true;
    } else {
      std::fprintf(stderr, "korvel-gateway: SIGHUP: %s; going on with the configuration in use\n",
                   err.c_str());
    }
  }

  std::fprintf(stderr, "korvel-gateway: stopping\n");
  // All lines at once: each answers its sets and gives its writes on the way a moment to settle.
  for (auto& l : lines) l->request_stop();
  for (auto& l : lines) l->stop();
  if (sparkplug) sparkplug->stop();  // the NDEATH after the modules' deaths
  broker.stop(3000);
  std::fprintf(stderr, "korvel-gateway: mqtt: %s\n", broker.statistics().c_str());
  return reload ? -1 : 0;
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

  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  std::signal(SIGHUP, on_hangup);
  const int rc = serve(args, config);
  if (rc >= 0) return rc;
  if (!plat::run_self_again(std::vector<std::string>(argv, argv + argc))) {
    std::fprintf(stderr, "korvel-gateway: cannot start again; exiting\n");
    return 1;
  }
  return 1;
}
