// korvel-poll: a host in a box. Loads the driver library by path and drives it only through its
// exports, as a SCADA host does: parameter block + tag list in, every reported change out.
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/blockfile.h"
#include "cli/host_exports.h"
#include "cli/host_tags.h"
#include "cli/poll_print.h"
#include "cli/stats.h"
#include "cli/textwidth.h"
#include "driver/records.h"
#include "exports/KorvelPLNK.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/datetime.h"
#include "platform/dynlib.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/serial.h"
#include "platform/text.h"
#include "sim/config.h"
#include "sim/runner.h"

using namespace korvel;

namespace {

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
  g_stop = 1;
}

using Exports = cli::HostExports;

struct Options {
  std::string library;
  std::string blockFile;
  int port = 1;
  long baud = 9600;
  long timeout = -1;
  std::vector<std::string> modules;
  bool logDebug = false, logError = false, logTrace = false;
  std::vector<cli::TagSpec> tags;
  struct Write {
    std::string tag, value;
    uint64_t atMs = 0;
    bool done = false;
  };
  std::vector<Write> writes;
  bool json = false;
  bool csv = false;
  bool stats = false;
  double duration = 0;
  long polls = 0;
  bool simulate = false;
  std::vector<std::string> simCommands;
  std::string simConfig;
  long simBaud = -1;
  std::string logDir;
};

// The raw texts of the options that need more than CLI11 reads.
struct RawLists {
  std::vector<std::string> tagFiles, tagLines, writes;
};

// The library, the line and the modules.
void declare_line_options(CLI::App& app, Options& o) {
  app.add_option(
         "--library", o.library,
         "the driver library (default: KorvelPLNK.so of the build tree, else of the installed prefix)")
      ->option_text("PATH");
  auto* block = app.add_option("--block", o.blockFile,
                               "parameter block file (26508 bytes); else built from the flags below, "
                               "which it excludes")
                    ->option_text("FILE");
  // A block file holds all of these; taking one of them silently over the file would mislead.
  const CLI::Option* fromFlags[] = {
      app.add_option("--port", o.port,
                     "COM port 1..16 (default 1); ComN is KORVELPLNK_COMN or /dev/ttyS(N-1)")
          ->option_text("N"),
      app.add_option("--baud", o.baud, "line rate (default 9600)")->option_text("RATE"),
      app.add_option("--timeout", o.timeout, "answer time-out 10..60000 (default 100)")
          ->option_text("MS")
          ->check(CLI::Range(10L, 60000L)),
      app.add_option("--module", o.modules, "configure module N (repeatable; default 1:PLNK and 2:PLNE)")
          ->option_text("N[:PLNE|PLNK]")
          ->allow_extra_args(false),
      app.add_flag("--log-debug", o.logDebug, "the block's run log switch"),
      app.add_flag("--log-error", o.logError, "the block's error log switch"),
      app.add_flag("--log-trace", o.logTrace, "the block's trace log switch"),
  };
  for (const CLI::Option* f : fromFlags) block->excludes(f->get_name());
}

// The tags and the writes, read as texts first.
void declare_tag_options(CLI::App& app, RawLists& raw) {
  app.add_option("--tags", raw.tagFiles, "tag list, CSV: name,address,type,period (type real|bool|string)")
      ->option_text("FILE")
      ->allow_extra_args(false);
  app.add_option("--tag", raw.tagLines, "one tag (repeatable); default: a demonstration set")
      ->option_text("NAME,ADDR,TYPE,PERIOD")
      ->allow_extra_args(false);
  app.add_option("--write", raw.writes, "write VALUE to tag NAME, MS ms after the start (repeatable)")
      ->option_text("NAME=VALUE[@MS]")
      ->allow_extra_args(false);
}

// A finite number of 0 or more. CLI11's own check lets NaN through (a run without end) and names
// the largest double in full when it refuses.
const CLI::Validator kNotNegative(
    [](std::string& text) {
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (!text.empty() && *end == '\0' && std::isfinite(v) && v >= 0) return std::string();
      return "takes a number of 0 or more, not '" + text + "'";
    },
    "");

// What is printed, and for how long.
void declare_output_options(CLI::App& app, Options& o) {
  auto* json = app.add_flag("--json", o.json, "JSON lines instead of a table");
  auto* csv =
      app.add_flag("--csv", o.csv, "comma-separated lines with a header, for spreadsheets")->excludes(json);
  app.add_flag(
         "--stats", o.stats,
         "per module: exchanges, failures by kind, answer time p50/p99 and the link text, instead of the "
         "changes (exchanges and answer times from the simulator's wire log: --simulate)")
      ->excludes(json)
      ->excludes(csv);
  app.add_option("--duration", o.duration, "stop after S seconds (default: until interrupted)")
      ->option_text("S")
      ->check(kNotNegative);
  app.add_option("--polls", o.polls, "stop after N polls")->option_text("N")->check(kNotNegative);
  app.add_option("--log", o.logDir,
                 "the library's log goes to DIR/Debug/KorvelPLNK.Log (default: below the working directory)")
      ->option_text("DIR");
}

// The built-in simulator, and the footer.
void declare_sim_options(CLI::App& app, Options& o) {
  app.add_flag("--simulate", o.simulate,
               "serve the modules from the built-in simulator on a pseudo-terminal");
  app.add_option("--sim", o.simCommands,
                 "a simulator command, e.g. 'module 3:PLNK:pv=12.5' or 'fault 2:silent'")
      ->option_text("SPEC")
      ->allow_extra_args(false);
  app.add_option("--sim-config", o.simConfig, "simulator configuration file")->option_text("FILE");
  app.add_option("--sim-baud", o.simBaud,
                 "the simulator's character timing (default: the line rate; 0 = none)")
      ->option_text("RATE")
      ->check(kNotNegative);
  app.footer(
      "Exit status: 0 after the run, 1 when the library cannot be loaded or the driver cannot start (the\n"
      "port cannot be opened: the library's message is printed), 2 for a usage error or an input file\n"
      "(--block, --tags, --sim-config) that cannot be read or holds no tags.");
}

// The library logs below the working directory, unless the host's installation (ORVANE_PATH) names
// a project: --log DIR makes DIR that directory. Once the inputs are read, whose relative paths
// are the user's. Returns the log's path when the run will be the one to create it, else "".
std::string use_log_dir(const Options& o, int& rc) {
  rc = 0;
  if (!plat::get_env("ORVANE_PATH").empty()) {
    if (!o.logDir.empty())
      std::fprintf(stderr, "korvel-poll: --log %s: ORVANE_PATH is set: the library logs below its project\n",
                   o.logDir.c_str());
    return {};
  }
  std::error_code ec;
  if (!o.logDir.empty()) {
    std::filesystem::create_directories(o.logDir, ec);
    std::filesystem::current_path(o.logDir, ec);
    if (ec) {
      std::fprintf(stderr, "korvel-poll: --log %s: %s\n", o.logDir.c_str(), ec.message().c_str());
      rc = 2;
      return {};
    }
  }
  const std::filesystem::path log = std::filesystem::current_path(ec) / "Debug" / "KorvelPLNK.Log";
  if (ec || std::filesystem::exists(log, ec)) return {};
  return log.string();
}

// The tag lists and timed writes from their texts; -1 to go on, else 2 (a usage error).
int read_lists(const RawLists& raw, Options& o) {
  std::string err;
  for (const std::string& f : raw.tagFiles) {
    const size_t before = o.tags.size();
    if (!cli::load_tags(f, o.tags, err)) {
      std::fprintf(stderr, "korvel-poll: %s\n", err.c_str());
      return 2;
    }
    // An empty list is a mistake (a wrong file, an unsaved one), not a wish for the demonstration.
    if (o.tags.size() == before) {
      std::fprintf(stderr, "korvel-poll: %s holds no tags\n", f.c_str());
      return 2;
    }
  }
  for (const std::string& line : raw.tagLines) {
    cli::TagSpec t;
    if (!cli::parse_tag(line, t, err)) {
      std::fprintf(stderr, "korvel-poll: %s\n", err.c_str());
      return 2;
    }
    o.tags.push_back(t);
  }
  // A write or a row of the output names a tag; two tags of one name would make either ambiguous.
  std::map<std::string, int> seen;
  for (const cli::TagSpec& t : o.tags)
    if (++seen[t.name] == 2) {
      std::fprintf(stderr, "korvel-poll: the tag name %s is given twice\n", t.name.c_str());
      return 2;
    }
  for (const std::string& v : raw.writes) {
    const size_t eq = v.find('=');
    if (eq == std::string::npos) {
      std::fprintf(stderr, "korvel-poll: --write NAME=VALUE[@MS]\n");
      return 2;
    }
    Options::Write w;
    w.tag = v.substr(0, eq);
    w.value = v.substr(eq + 1);
    const size_t at = w.value.find('@');
    if (at != std::string::npos) {
      const std::string ms = w.value.substr(at + 1);
      char* end = nullptr;
      w.atMs = std::strtoull(ms.c_str(), &end, 10);
      if (ms.empty() || ms[0] < '0' || ms[0] > '9' || *end != '\0') {
        std::fprintf(stderr, "korvel-poll: --write %s: a time in ms expected after '@'\n", v.c_str());
        return 2;
      }
      w.value.resize(at);
    }
    o.writes.push_back(w);
  }
  return -1;
}

// The options as CLI11 reads them; -1 to go on, else the exit status (help 0, usage error 2).
int parse_args(int argc, char** argv, Options& o) {
  CLI::App app{"korvel-poll: a host in a box. Loads the driver library and polls it through its exports.",
               "korvel-poll"};
  app.get_formatter()->column_width(34);
  app.set_version_flag("--version", "korvel-poll " KORVEL_VERSION);
  RawLists raw;
  declare_line_options(app, o);
  declare_tag_options(app, raw);
  declare_output_options(app, o);
  declare_sim_options(app, o);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  return read_lists(raw, o);
}

// Prints a text of the library. CSV keeps its standard output for rows.
void show_text(const std::string& text, const Options& o) {
  if (text.empty()) return;
  if (o.json)
    std::printf("{\"message\":%s}\n", cli::json_string(text).c_str());
  else
    std::fprintf(o.csv ? stderr : stdout, "driver: %s\n", text.c_str());
  std::fflush(stdout);
}

// Prints and frees a text the library handed out.
void show_message(char* msg, const Options& o) {
  show_text(cli::take_message(msg), o);
}

// The parameter block from its file, or from the line and module flags; 0 or the exit status.
int build_block(const Options& o, PDB& block) {
  std::string err;
  if (!o.blockFile.empty()) {
    if (cli::load_block(o.blockFile, block, err)) {
      // Else its tags only show a failure status, with no word of why.
      if (const std::string w = cli::voided_entries_warning(block); !w.empty())
        std::fprintf(stderr, "korvel-poll: %s\n", w.c_str());
      return 0;
    }
    // Bad input, as an unreadable tag list is: the driver never got to start.
    std::fprintf(stderr, "korvel-poll: %s\n", err.c_str());
    return 2;
  }
  if (o.port < 1 || o.port > 16) {
    std::fprintf(stderr, "korvel-poll: --port takes 1..16\n");
    return 2;
  }
  block.ComPort = static_cast<uint8_t>(o.port - 1);
  const int bi = cli::baud_index(static_cast<uint32_t>(o.baud));
  if (bi < 0) {
    std::fprintf(stderr, "korvel-poll: --baud takes one of 110, 300, ..., 115200, 128000, 256000\n");
    return 2;
  }
  block.BaudRate = static_cast<uint8_t>(bi);
  if (o.timeout >= 0) block.TimeOut = static_cast<uint16_t>(o.timeout > 65535 ? 65535 : o.timeout);
  block.DebugLog = o.logDebug;
  block.ErrorLog = o.logError;
  block.TraceLog = o.logTrace;
  std::vector<std::string> modules = o.modules;
  if (modules.empty()) modules = {"1:PLNK", "2:PLNE"};
  for (TDevInfo& d : block.Devices) {
    d.DevType = 2;
    d.DevTypeName.set("");
  }
  for (const std::string& m : modules) {
    if (!cli::add_module(block, m, err)) {
      std::fprintf(stderr, "korvel-poll: %s\n", err.c_str());
      return 2;
    }
  }
  return 0;
}

// The tags to poll: the given ones or a demonstration set, with every module's link text for --stats.
std::vector<cli::TagSpec> tag_list(const Options& o, const PDB& block) {
  std::vector<cli::TagSpec> tags = o.tags.empty() ? cli::default_tags(block) : o.tags;
  if (!o.stats) return tags;
  for (const TDevInfo& d : block.Devices) {
    if (d.DevType == 2) continue;
    const std::string link = "DEVICELINK" + std::to_string(d.DevID);
    bool have = false;
    for (const cli::TagSpec& t : tags) have = have || (t.address == link && t.type == kTypeString);
    if (!have) tags.push_back({link, link, kTypeString, 1000});
  }
  return tags;
}

// A write's value in its tag's type: a number for real tags, 1/0, true/false or on/off for Boolean
// ones (any text for strings, set by the caller). False when the text is none of these.
bool write_value(const std::string& text, uint8_t type, TTagValue& rec) {
  rec.DataType = type;
  if (type == kTypeReal) {
    const std::string t = plat::trim(text);
    char* end = nullptr;
    rec.Data.dbl = std::strtod(t.c_str(), &end);
    return !t.empty() && *end == '\0' && std::isfinite(rec.Data.dbl);
  }
  if (type == kTypeBool) {
    static const char* const kTrue[] = {"1", "true", "on"};
    static const char* const kFalse[] = {"0", "false", "off"};
    for (const char* w : kTrue)
      if (text == w) return rec.Data.bln = 1, true;
    for (const char* w : kFalse)
      if (text == w) return rec.Data.bln = 0, true;
    return false;
  }
  return true;
}

// Every --write names a tag of the run and a value of its type; -1 to go on, else 2.
int check_writes(const Options& o, const std::vector<cli::TagSpec>& tags) {
  for (const Options::Write& w : o.writes) {
    const cli::TagSpec* tag = nullptr;
    for (const cli::TagSpec& t : tags)
      if (t.name == w.tag) tag = &t;
    if (tag == nullptr) {
      std::fprintf(stderr, "korvel-poll: --write names no tag of this run: %s\n", w.tag.c_str());
      return 2;
    }
    if (o.duration > 0 && static_cast<double>(w.atMs) >= o.duration * 1000) {
      std::fprintf(stderr, "korvel-poll: --write %s=%s@%llu comes after the run's end (--duration %g)\n",
                   w.tag.c_str(), w.value.c_str(), static_cast<unsigned long long>(w.atMs), o.duration);
      return 2;
    }
    TTagValue rec{};
    if (!write_value(w.value, tag->type, rec)) {
      std::fprintf(stderr, "korvel-poll: --write %s=%s: %s\n", w.tag.c_str(), w.value.c_str(),
                   tag->type == kTypeBool ? "a Boolean tag takes 1, 0, true, false, on or off"
                                          : "a real tag takes a number");
      return 2;
    }
  }
  return -1;
}

// Why the block's port does not open, in the system's words with the device path ("" when it
// opens now): the library's message names the port alone, whatever the cause.
std::string port_trouble(const PDB& block) {
  const std::string path = plat::serial_device_path("Com" + std::to_string(block.ComPort + 1));
  plat::SerialPort port;
  if (port.open(path) == plat::OpenResult::Ok) return std::string();
  return plat::last_error_text();
}

// The simulator's wire log as --stats and the time-out lines read it, handed over from the
// simulator's thread.
struct WireNote {
  bool request;
  int station;
  uint64_t ms;
  bool expectsAnswer;
  std::string bytes;  // an answer's
};
struct WireNotes {
  std::mutex mu;
  std::vector<WireNote> notes;
  const sim::Runner* runner = nullptr;  // its clock is the log's
};

// One simulated module per configured module, with lively values.
void simulate_modules(const PDB& block, sim::ModuleSim& simulator) {
  std::string err;
  int k = 0;
  for (const TDevInfo& d : block.Devices) {
    if (d.DevType == 2) continue;
    const std::string n = std::to_string(d.DevID);
    const std::string spec = n + (d.DevType == 0 ? ":PLNE" : ":PLNK") + ":pv=ramp:" + std::to_string(10 * k) +
                             ":" + std::to_string(100 + 10 * k) + ":20000,ao=" + std::to_string(4 + k) +
                             ",alarm=sched:0@0/4000@1/8000@3/12000@0:loop,p16=" + std::to_string(250 + k);
    if (!sim::apply_module_spec(simulator, spec, &err))
      std::fprintf(stderr, "korvel-poll: simulator: %s\n", err.c_str());
    ++k;
  }
}

// Starts the simulator on a pseudo-terminal named as the block's port; 0 or the exit status.
int start_simulator(const Options& o, const PDB& block, sim::ModuleSim& simulator, sim::Runner& runner,
                    WireNotes& wire) {
  std::string err;
  simulate_modules(block, simulator);
  sim::LineTiming timing;
  timing.baud = static_cast<uint32_t>(o.simBaud >= 0 ? o.simBaud : kBaudRates[block.BaudRate % 15]);
  if (!o.simConfig.empty() && !sim::load_config_file(simulator, timing, o.simConfig, &err)) {
    std::fprintf(stderr, "korvel-poll: %s\n", err.c_str());
    return 2;
  }
  for (const std::string& c : o.simCommands) {
    if (!sim::apply_command(simulator, timing, c, &err)) {
      std::fprintf(stderr, "korvel-poll: simulator: %s\n", err.c_str());
      return 2;
    }
  }
  simulator.set_log_limit(1000);
  simulator.set_log_sink([&wire](const sim::WireEvent& e) {
    if (e.dir == sim::WireEvent::Dir::Line || e.station < 0) return;
    const bool request = e.dir == sim::WireEvent::Dir::Received;
    std::lock_guard<std::mutex> lock(wire.mu);
    wire.notes.push_back({request, e.station, e.at_ms, !e.bytes.empty() && e.bytes[0] != '%',
                          request ? std::string() : e.bytes});
  });
  wire.runner = &runner;
  sim::RunnerOptions ro;
  ro.timing = timing;
  if (!runner.start(ro, &err)) {
    std::fprintf(stderr, "korvel-poll: simulator: %s\n", err.c_str());
    return 1;
  }
  const std::string var = "KORVELPLNK_COM" + std::to_string(block.ComPort + 1);
  plat::set_env(var, runner.path());
  if (!o.json)
    std::fprintf(o.csv ? stderr : stdout, "simulator on %s (%s=%s)\n", runner.path().c_str(), var.c_str(),
                 runner.path().c_str());
  return 0;
}

// The host's side of a run: the tag descriptors it hands the driver, what it has seen of each tag,
// and the poll loop.
class Host {
 public:
  Host(Options& o, const Exports& x, std::vector<cli::TagSpec> tags, WireNotes& wire)
      : o_(o),
        x_(x),
        tags_(std::move(tags)),
        wire_(wire),
        infos_(cli::tag_infos(tags_)),
        pointers_(cli::tag_pointers(infos_)),
        rows_(tags_.size()),
        buf_(tags_.size() + 1) {
    for (size_t i = 0; i < tags_.size(); ++i) {
      by_name_[tags_[i].name] = i;
      board_.tag(infos_[i].TagID, tags_[i].address,
                 tags_[i].type == kTypeString && tags_[i].address.rfind("DEVICELINK", 0) == 0);
    }
  }

  // The time-out the driver applies: the block's, within the range the driver clamps it to.
  void SetTimeout(uint16_t blockTimeOut) {
    board_.set_timeout(blockTimeOut < 10 ? 10 : blockTimeOut > 60000 ? 60000 : blockTimeOut);
  }

  // Starts the driver; false (with the library's message printed) when it did not start.
  bool Start(PDB& block) {
    char* msg = nullptr;
    if (x_.IniDriver(static_cast<int32_t>(pointers_.size()), pointers_.data(), &block, &msg) == 0) {
      // A driver that could not start (most often: the port cannot be opened) polls nothing useful.
      const std::string why = port_trouble(block);
      std::fprintf(stderr, "korvel-poll: the driver did not start: %s%s\n", cli::take_message(msg).c_str(),
                   why.empty() ? "" : (" (" + why + ")").c_str());
      x_.FreeDriver();
      return false;
    }
    show_message(msg, o_);
    if (o_.csv) cli::print_csv_header();
    return true;
  }

  // Polls until interrupted, the duration is over or the poll count reached.
  void Run() {
    const uint64_t start = plat::tick_ms();
    while (!g_stop) {
      const uint64_t now = plat::tick_ms() - start;
      if (o_.duration > 0 && static_cast<double>(now) >= o_.duration * 1000) break;
      if (o_.polls > 0 && polls_ >= o_.polls) break;
      ++polls_;
      DueWrites(now);
      const bool changed = Poll();
      if (o_.stats) {
        if (live_ && now >= next_stats_) {
          next_stats_ = now + 1000;
          PrintStats(true);
        }
      } else if (changed && live_) {
        cli::print_live_table(tags_, rows_, polls_);
      }
      std::fflush(stdout);
      const uint16_t period = x_.DetectScanTime();
      plat::sleep_ms(period == 0 ? 1 : period);
    }
  }

  // Stops the driver and says how it ended.
  void Stop() {
    // A write whose moment never came was not made: the run must not pass for one that wrote it.
    for (const Options::Write& w : o_.writes)
      if (!w.done)
        std::fprintf(stderr, "korvel-poll: --write %s=%s@%llu not made: the run ended first\n", w.tag.c_str(),
                     w.value.c_str(), static_cast<unsigned long long>(w.atMs));
    if (o_.stats) {
      TakeWireNotes();
      if (wire_.runner != nullptr) board_.settle(wire_.runner->now());
      PrintStats(false);
    }
    x_.FreeDriver();
    char* msg = nullptr;
    x_.GetDeviceStatus(&msg);
    show_message(msg, o_);
    if (!o_.json) std::fprintf(o_.csv ? stderr : stdout, "stopped after %ld polls\n", polls_);
  }

 private:
  // The timed writes whose moment has come.
  void DueWrites(uint64_t now) {
    for (Options::Write& w : o_.writes) {
      if (w.done || now < w.atMs) continue;
      w.done = true;
      auto it = by_name_.find(w.tag);
      if (it == by_name_.end()) continue;  // refused by check_writes before the start
      TTagValue rec{};
      rec.TagID = infos_[it->second].TagID;
      write_value(w.value, tags_[it->second].type, rec);
      std::string gbk = plat::utf8_to_gbk(w.value);
      if (rec.DataType == kTypeString) rec.Data.str = gbk.data();
      char* msg = nullptr;
      const bool accepted = x_.OnDataWrite(1, &rec, &msg) != 0;
      if (o_.json)
        std::printf("{\"write\":%s,\"value\":%s,\"accepted\":%s}\n", cli::json_string(w.tag).c_str(),
                    cli::json_string(w.value).c_str(), accepted ? "true" : "false");
      else
        std::fprintf(o_.csv ? stderr : stdout, "write %s := %s %s\n", w.tag.c_str(), w.value.c_str(),
                     accepted ? "queued" : "refused");
      show_message(msg, o_);
    }
  }

  // One OnDataRead; every reported change printed as asked. True when a tag changed.
  bool Poll() {
    int32_t n = 0;
    char* msg = nullptr;
    x_.OnDataRead(&n, buf_.data(), &msg);
    TakeWireNotes();
    board_.begin_poll();
    bool changed = false;
    int timedOut = -1;  // a module whose tags this poll reports without a (complete) answer
    for (int32_t i = 0; i < n; ++i) {
      const TTagValue& v = buf_[static_cast<size_t>(i)];
      const size_t idx = static_cast<size_t>(v.TagID - 1);
      if ((v.Status & 0x00300000) != 0 && idx < tags_.size() && timedOut < 0)
        timedOut = cli::station_of(tags_[idx].address);
      const std::string text = cli::value_text(v);
      board_.report(v.TagID, v.Status, v.DataType == kTypeString && v.Data.str != nullptr ? v.Data.str : "");
      if (v.DataType == kTypeString) std::free(v.Data.str);
      if (idx >= rows_.size()) continue;
      rows_[idx] = {text, v.Status, v.Time, true};
      changed = true;
      PrintChange(idx, v, text);
    }
    ShowPollMessage(msg, timedOut);
    return changed;
  }

  // The driver's message of a poll. Its time-out message names no module: the line says which,
  // from the wire log when simulated, else from the tags this poll reported.
  void ShowPollMessage(char* msg, int timedOut) {
    std::string text = cli::take_message(msg);
    if (text.empty()) return;
    if (text == "通讯超时错，期待设备应答") {
      // The wire log when it saw the read, else the tags of this poll.
      const int fromWire = wire_.runner != nullptr ? board_.last_timed_out(wire_.runner->now()) : -1;
      if (fromWire >= 0) timedOut = fromWire;
      text += timedOut >= 0 ? " (module " + std::to_string(timedOut) + ")" : " (module ?)";
    }
    show_text(text, o_);
  }

  void PrintChange(size_t idx, const TTagValue& v, const std::string& text) {
    if (o_.stats) return;
    if (o_.json) {
      std::printf("%s\n",
                  cli::json_change(tags_[idx], text, v.DataType == kTypeString, v.Status, v.Time).c_str());
    } else if (o_.csv) {
      cli::print_csv_row(tags_[idx], text, v.Status, v.Time);
    } else if (!live_) {
      cli::print_change_line(tags_[idx], text, v.Status, v.Time);
    }
  }

  void TakeWireNotes() {
    std::vector<WireNote> notes;
    {
      std::lock_guard<std::mutex> lock(wire_.mu);
      notes.swap(wire_.notes);
    }
    for (const WireNote& w : notes) {
      if (w.request)
        board_.request(w.station, w.ms, w.expectsAnswer);
      else
        board_.answer(w.station, w.ms, w.bytes);
    }
  }

  void PrintStats(bool redraw) {
    if (redraw) std::printf("\x1b[H\x1b[2J");
    std::fputs(board_.table([](const std::string& gbk) { return plat::gbk_to_utf8(gbk); }).c_str(), stdout);
    if (!board_.has_wire())
      std::puts(o_.simulate
                    ? "(no request has reached the simulator yet: no exchanges or answer times to show)"
                    : "(exchanges and answer times come from the simulator's wire log: run with "
                      "--simulate; the library's exports report changed tags only)");
    std::printf("failures: %s; timeout: the answer time-out; polls %ld%s\n",
                board_.has_wire() ? "every failed exchange, from the simulator's wire log"
                                  : "status changes into each code as reported to the host",
                polls_, redraw ? "   (Ctrl-C stops)" : "");
  }

  Options& o_;
  const Exports& x_;
  const std::vector<cli::TagSpec> tags_;
  WireNotes& wire_;
  std::vector<TTagInfo> infos_;
  std::vector<TTagInfo*> pointers_;
  std::map<std::string, size_t> by_name_;
  std::vector<cli::Row> rows_;
  std::vector<TTagValue> buf_;
  cli::StatsBoard board_;
  const bool live_ = !o_.json && !o_.csv && plat::stdout_is_terminal();
  long polls_ = 0;
  uint64_t next_stats_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int rc = parse_args(argc, argv, o); rc >= 0) return rc;
  // Usage errors first: they need no library.
  std::unique_ptr<PDB> block = cli::new_block();
  if (const int rc = build_block(o, *block); rc != 0) return rc;
  std::vector<cli::TagSpec> tags = tag_list(o, *block);
  if (const int rc = check_writes(o, tags); rc >= 0) return rc;

  if (o.library.empty())
    o.library = cli::default_library(reinterpret_cast<const void*>(&on_signal), KORVEL_INSTALLED_LIBRARY);
  plat::DynLib lib;
  Exports x;
  if (!cli::load_library(o.library, lib, x, "korvel-poll")) return 1;

  WireNotes wire;
  sim::ModuleSim simulator;
  sim::Runner runner(simulator);
  if (o.simulate)
    if (const int rc = start_simulator(o, *block, simulator, runner, wire); rc != 0) return rc;

  int rc = 0;
  const std::string newLog = use_log_dir(o, rc);
  if (rc != 0) {
    runner.stop();
    return rc;
  }
  Host host(o, x, std::move(tags), wire);
  host.SetTimeout(block->TimeOut);
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
  const bool started = host.Start(*block);
  // A log that appears in whatever directory the tool was started from should not go unnoticed.
  if (!newLog.empty() && plat::file_exists(newLog))
    std::fprintf(stderr, "korvel-poll: the library's log is %s\n", newLog.c_str());
  if (!started) {
    runner.stop();
    return 1;
  }
  host.Run();
  host.Stop();
  runner.stop();
  return 0;
}
