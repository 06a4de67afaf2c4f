// korvel-pdb: creates, prints, edits and compares parameter block files.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/blockfile.h"
#include "platform/files.h"

using namespace korvel;

namespace {

int fail(const std::string& err) {
  std::fprintf(stderr, "korvel-pdb: %s\n", err.c_str());
  return 1;
}

// Applies module specs and assignments in the order given; false after printing the reason.
bool edit(PDB& block, const std::vector<std::string>& modules, const std::vector<std::string>& fields) {
  std::string err;
  for (const std::string& m : modules)
    if (!cli::add_module(block, m, err)) return fail(err), false;
  for (const std::string& f : fields)
    if (!cli::set_field(block, f, err)) return fail(err), false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"korvel-pdb: parameter block files (26508 bytes) as a host stores them", "korvel-pdb"};
  app.require_subcommand(1);
  app.footer(
      "FIELD=VALUE: " + cli::field_names() +
      "\n  e.g. korvel-pdb set dev.pdb Baud=115200 Parity=even DataBits=8 StopBits=1 Port=COM3 TimeOut=200\n"
      "  Every value is checked against the block's tables. print shows the raw fields; DataBits and\n"
      "  StopBits given to new/set count bits (8, 1.5), DataBitsCode and StopBitsCode take the raw codes.\n"
      "Exit status: 0 done (diff: the same), 1 refused or failed (diff: they differ), 2 usage.");

  std::string file, other;
  std::vector<std::string> modules, fields;

  CLI::App* cNew =
      app.add_subcommand("new", "create FILE with the defaults, then the modules and fields given");
  cNew->add_option("FILE", file, "block file to write")->required();
  cNew->add_option("FIELD=VALUE", fields, "settings or raw fields");
  cNew->add_option("--module", modules,
                   "N[:PLNE|PLNK]: configure module N (repeatable; replaces the default module 0)")
      ->allow_extra_args(false);

  CLI::App* cPrint = app.add_subcommand("print", "the block as JSON");
  cPrint->add_option("FILE", file, "block file")->required();

  CLI::App* cSet = app.add_subcommand("set", "change fields of FILE");
  cSet->add_option("FILE", file, "block file")->required();
  cSet->add_option("FIELD=VALUE", fields, "settings or raw fields")->required();

  CLI::App* cAdd = app.add_subcommand("add", "configure modules in FILE (N:none removes one)");
  cAdd->add_option("FILE", file, "block file")->required();
  cAdd->add_option("N[:PLNE|PLNK|none]", modules, "modules")->required();

  CLI::App* cFromJson = app.add_subcommand(
      "from-json", "build FILE from JSON as print writes it (fields it leaves out: defaults)");
  cFromJson->add_option("JSON", other, "JSON file, - for standard input")->required();
  cFromJson->add_option("FILE", file, "block file to write")->required();

  CLI::App* cDiff = app.add_subcommand("diff", "list the fields in which block files A and B differ");
  cDiff->add_option("A", file, "block file")->required();
  cDiff->add_option("B", other, "block file")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }

  std::string err;
  std::unique_ptr<PDB> block = cli::new_block();
  if (*cNew) {
    if (!modules.empty())
      for (TDevInfo& d : block->Devices) {
        d.DevType = 2;
        d.DevTypeName.set("");
      }
    if (!edit(*block, modules, fields)) return 1;
    return cli::save_block(file, *block, err) ? 0 : fail(err);
  }
  if (*cFromJson) {
    std::string text;
    if (other == "-") {
      char buf[4096];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, n);
    } else if (!plat::read_file(other, text, 16u << 20)) {
      return fail("cannot read " + other);
    }
    if (!cli::block_from_json(text, *block, err)) return fail(other + ": " + err);
    return cli::save_block(file, *block, err) ? 0 : fail(err);
  }
  if (!cli::load_block(file, *block, err)) return fail(err);
  if (*cPrint) {
    std::fputs(cli::block_json(*block).c_str(), stdout);
    return 0;
  }
  if (*cDiff) {
    std::unique_ptr<PDB> b = cli::new_block();
    if (!cli::load_block(other, *b, err)) return fail(err);
    const std::vector<std::string> lines = cli::block_diff(*block, *b);
    for (const std::string& l : lines) std::printf("%s\n", l.c_str());
    return lines.empty() ? 0 : 1;
  }
  if (!edit(*block, *cAdd ? modules : std::vector<std::string>{},
            *cSet ? fields : std::vector<std::string>{}))
    return 1;
  return cli::save_block(file, *block, err) ? 0 : fail(err);
}
