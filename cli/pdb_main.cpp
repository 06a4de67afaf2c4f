// korvel-pdb: creates, prints and edits parameter block files.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/blockfile.h"

using namespace korvel;

namespace {

void usage() {
  std::puts(
      "usage: korvel-pdb new FILE [--module N[:PLNE|PLNK]]... [FIELD=VALUE]...\n"
      "       korvel-pdb print FILE                      the block as JSON\n"
      "       korvel-pdb set FILE FIELD=VALUE...         e.g. TimeOut=200 Baud=19200 ComPort=2 DebugLog=1\n"
      "       korvel-pdb add FILE N[:PLNE|PLNK]...       configure modules (N:none removes one)\n"
      "fields: DebugLog ErrorLog TraceLog TimeOut WriteCount LinkMode SingleDevID ComPort BaudRate Baud\n"
      "        DataBits StopBits Parity PhoneNum ModemInit");
}

int fail(const std::string& err) {
  std::fprintf(stderr, "korvel-pdb: %s\n", err.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    usage();
    return argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) ? 0 : 2;
  }
  const std::string cmd = argv[1];
  const std::string file = argv[2];
  std::string err;
  std::unique_ptr<PDB> block = cli::new_block();
  if (cmd == "new") {
    bool modulesGiven = false;
    for (int i = 3; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--module" && i + 1 < argc) {
        if (!modulesGiven) {
          for (TDevInfo& d : block->Devices) {
            d.DevType = 2;
            d.DevTypeName.set("");
          }
          modulesGiven = true;
        }
        if (!cli::add_module(*block, argv[++i], err)) return fail(err);
      } else if (!cli::set_field(*block, a, err)) {
        return fail(err);
      }
    }
    return cli::save_block(file, *block, err) ? 0 : fail(err);
  }
  if (!cli::load_block(file, *block, err)) return fail(err);
  if (cmd == "print") {
    std::fputs(cli::block_json(*block).c_str(), stdout);
    return 0;
  }
  if (cmd == "set" || cmd == "add") {
    for (int i = 3; i < argc; ++i) {
      const bool ok =
          cmd == "set" ? cli::set_field(*block, argv[i], err) : cli::add_module(*block, argv[i], err);
      if (!ok) return fail(err);
    }
    return cli::save_block(file, *block, err) ? 0 : fail(err);
  }
  usage();
  return 2;
}
