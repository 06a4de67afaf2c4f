// korvel-sim: a line of simulated modules on a pseudo-terminal or a serial device.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "sim/config.h"
#include "sim/module_sim.h"
#include "sim/runner.h"

namespace {

using namespace korvel::sim;

volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) {
  g_stop = 1;
}

const char kHelp[] = R"(usage: korvel-sim [options]

Serves simulated modules (stations 0..99) on a new pseudo-terminal or on a serial device and
answers their requests; unconfigured stations stay silent. When the line is ready it prints
"READY <path>" on stdout; point the driver at that path (KORVELPLNK_COM<N>=<path>).

options:
  --config FILE     run the commands of FILE (one a line, "#" comments; see below)
  --module SPEC     configure a station: N[:PLNE|PLNK][:KEY=VALUE,...]
                      keys: pv, ao, alarm (bits 0..15, status character 0x40+bits),
                            status (fixed status character code), digits (decimals),
                            pN / p0xNN (parameter N, decimal / hexadecimal)
                      values: 12.5 | ramp:FROM:TO:PERIOD_MS | sched:MS@V/MS@V/...[:loop]
                      a new station has parameters 16..79 at 0
  --fault SPEC      N:KIND[=PARAM][,times=N]; kinds: silent, delay=MS, garbage-before=N,
                      garbage-after=N, badcheck, cut[=KEEP], wrong-station[=S], refuse,
                      vanish[=MS], dribble[=MS between bytes], over-long[=BYTES], double,
                      stray[=N noise bytes after the answer], noise-cr[=MS before the
                      answer], repeat[=MS between the two answers], no-drain[=MS the line
                      takes nothing]; without times the fault stays
  --test-line       load the shared test line (see sim/faults.h: good stations 1, 2, 10,
                      12, 21, delayed 3, fault stations 80..86 and 90..97, 99 unconfigured)
  --baud N          send answers one character at a time at N baud (default 0: at once)
  --framing 8E1     data bits, parity (N O E M S) and stop bits (1, 1.5, 2) for the
                      character time (default 8N1)
  --pty             serve on a new pseudo-terminal (the default)
  --link PATH       keep a symbolic link PATH to the pseudo-terminal (stable across vanish)
  --device PATH     serve on an existing serial device instead of a pseudo-terminal
  --control         take commands from stdin and answer each with "OK" or "ERR <why>";
                      end of input stops the simulator (a mode for test harnesses)
  --verbose         print every request, answer and line event on stderr
  --version         the version
  --help            this text

commands (configuration file and --control):
  module SPEC | fault SPEC | clear N|all (faults) | remove N | baud N | framing 8E1 | test-line
  --control only: drop MS (line away for MS ms) | log (print the wire log) | clear-log | quit
)";

std::string escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

std::string event_line(const WireEvent& e) {
  const char* dir = e.dir == WireEvent::Dir::Received ? "RX" : e.dir == WireEvent::Dir::Sent ? "TX" : "LINE";
  std::string out = std::to_string(e.at_ms) + " " + dir;
  if (e.station >= 0) out += " " + std::to_string(e.station);
  if (!e.bytes.empty()) out += " " + escaped(e.bytes);
  if (!e.note.empty()) out += " (" + e.note + ")";
  return out;
}

int usage_error(const std::string& why) {
  std::fprintf(stderr, "korvel-sim: %s (try --help)\n", why.c_str());
  return 2;
}

struct Args {
  RunnerOptions opts;
  bool control = false;
  bool verbose = false;
};

// Reads the command line into args and sim; -1 to go on, else the exit status.
int parse_args(int argc, char** argv, ModuleSim& sim, Args& args) {
  RunnerOptions& opts = args.opts;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    std::string v, why;
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--version") {
      std::puts("korvel-sim " KORVEL_VERSION);
      return 0;
    } else if (a == "--pty") {
      opts.device.clear();
    } else if (a == "--control") {
      args.control = true;
    } else if (a == "--verbose") {
      args.verbose = true;
    } else if (a == "--test-line") {
      sim.load_test_line();
    } else if (a == "--config") {
      if (!value(&v)) return usage_error("--config needs a file");
      if (!load_config_file(sim, opts.timing, v, &why)) return usage_error(why);
    } else if (a == "--module" || a == "--fault" || a == "--baud" || a == "--framing") {
      if (!value(&v)) return usage_error(a + " needs a value");
      if (!apply_command(sim, opts.timing, a.substr(2) + " " + v, &why)) return usage_error(why);
    } else if (a == "--device") {
      if (!value(&opts.device)) return usage_error("--device needs a path");
    } else if (a == "--link") {
      if (!value(&opts.link)) return usage_error("--link needs a path");
    } else {
      return usage_error("unknown option " + a);
    }
  }
  return -1;
}

// One line of the control protocol; the reply to print. quit is set by "quit".
std::string control_command(const std::string& line, ModuleSim& sim, Runner& runner, LineTiming& timing,
                            bool& quit) {
  const std::string cmd = line.substr(0, line.find(' '));
  const std::string arg = line.find(' ') == std::string::npos ? "" : line.substr(line.find(' ') + 1);
  if (cmd == "quit") {
    quit = true;
  } else if (cmd == "drop") {
    const int ms = std::atoi(arg.c_str());
    if (ms <= 0) return "ERR drop wants a time in ms";
    runner.drop_line(static_cast<uint32_t>(ms));
  } else if (cmd == "log") {
    for (const WireEvent& e : sim.log()) std::printf("%s\n", event_line(e).c_str());
  } else if (cmd == "clear-log") {
    sim.clear_log();
  } else {
    LineTiming t = timing;
    std::string why;
    if (!apply_command(sim, t, line, &why)) return "ERR " + why;
    timing = t;
    runner.set_timing(t);
  }
  return "OK";
}

// Serves control commands from standard input until "quit" or its end.
void serve_control(ModuleSim& sim, Runner& runner, LineTiming& timing) {
  std::string line;
  bool quit = false;
  while (!quit && std::getline(std::cin, line)) {
    std::printf("%s\n", control_command(line, sim, runner, timing, quit).c_str());
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ModuleSim sim;
  Args args;
  if (const int rc = parse_args(argc, argv, sim, args); rc >= 0) return rc;

  sim.set_log_limit(args.control ? 100000 : 10000);
  if (args.verbose) {
    sim.set_log_sink([](const WireEvent& e) { std::fprintf(stderr, "%s\n", event_line(e).c_str()); });
  }
  args.opts.on_reopen = [](const std::string& path) {
    std::printf("REOPENED %s\n", path.c_str());
    std::fflush(stdout);
  };

  Runner runner(sim);
  std::string why;
  if (!runner.start(args.opts, &why)) {
    std::fprintf(stderr, "korvel-sim: %s\n", why.c_str());
    return 1;
  }
  std::printf("READY %s\n", runner.path().c_str());
  std::fflush(stdout);

  if (args.control) {
    serve_control(sim, runner, args.opts.timing);
  } else {
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  runner.stop();
  return 0;
}
