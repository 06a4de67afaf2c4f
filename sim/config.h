// Text configuration of the simulator: module and fault descriptions, configuration files and the
// control commands of the program share one syntax.
//
// Module:  N[:PLNE|PLNK][:KEY=VALUE,KEY=VALUE...]
//   keys:  pv, ao        a value: 12.5, ramp:FROM:TO:PERIOD_MS or sched:MS@V/MS@V/...[:loop]
//          alarm         alarm bits 0..15 (a value as above; the status character is 0x40 + bits)
//          status        a fixed status character code 0..255 (not 13, not 63), decimal or 0x..
//          digits        decimals in value texts (default: shortest exact text)
//          pN, p0xNN     parameter N (decimal) or 0xNN (hexadecimal), a value as above
//   A new station starts with parameters 16..79 at 0; naming a configured station changes it.
// Fault:   N:KIND[=PARAM][,times=N]   (see sim/faults.h)
// File:    one command per line, "#" starts a comment:
//            module SPEC | fault SPEC | clear N|all | remove N | baud N | framing 8E1 | test-line
#pragma once
#include <string>
#include <string_view>

#include "sim/module_sim.h"
#include "sim/timing.h"

namespace korvel::sim {

// Applies a module description. False (nothing changed) with the reason in *err.
bool apply_module_spec(ModuleSim& sim, std::string_view spec, std::string* err);

// Adds a fault given as "N:KIND[=PARAM][,times=N]". False with the reason in *err.
bool apply_fault_spec(ModuleSim& sim, std::string_view spec, std::string* err);

// Runs one command line of a configuration file (also the program's control commands).
// Blank lines and comments are accepted. False with the reason in *err.
bool apply_command(ModuleSim& sim, LineTiming& timing, std::string_view line, std::string* err);

// Runs every line of a file; the reason names the line on failure.
bool load_config_file(ModuleSim& sim, LineTiming& timing, const std::string& path, std::string* err);

}  // namespace korvel::sim
