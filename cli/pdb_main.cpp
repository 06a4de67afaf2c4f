// korvel-pdb: creates, prints, edits and compares parameter block files.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/blockfile.h"
#include "platform/files.h"

using namespace korvel;

namespace {

int fail(const std::string& err, int status = 1) {
  std::fprintf(stderr, "korvel-pdb: %s\n", err.c_str());
  return status;
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

// The command line: which subcommand, and its file names, modules and fields.
struct Command {
  std::string file, other;
  std::vector<std::string> modules, fields;
  CLI::App *make = nullptr, *print = nullptr, *set = nullptr, *add = nullptr, *fromJson = nullptr,
           *diff = nullptr;
};

void declare_commands(CLI::App& app, Command& c) {
  app.require_subcommand(1);
  app.footer(
      "FIELD=VALUE: " + cli::field_names() +
      "\n  e.g. korvel-pdb set dev.pdb Baud=115200 Parity=even DataBits=8 StopBits=1 Port=COM3 TimeOut=200\n"
      "  Every value is checked against the block's tables. print shows the raw fields; DataBits and\n"
      "  StopBits given to new/set count bits (8, 1.5), DataBitsCode and StopBitsCode take the raw codes.\n"
      "Exit status: 0 done (diff: the same), 1 refused or failed (diff: they differ), 2 usage (diff: a\n"
      "file that cannot be read).");
  c.make = app.add_subcommand("new", "create FILE with the defaults, then the modules and fields given");
  c.make->add_option("FILE", c.file, "block file to write")->required();
  c.make->add_option("FIELD=VALUE", c.fields, "settings or raw fields");
  c.make
      ->add_option("--module", c.modules,
                   "N[:PLNE|PLNK]: configure module N (repeatable; replaces the default module 0)")
      ->allow_extra_args(false);
  c.print = app.add_subcommand("print", "the block as JSON");
  c.print->add_option("FILE", c.file, "block file")->required();
  c.set = app.add_subcommand("set", "change fields of FILE");
  c.set->add_option("FILE", c.file, "block file")->required();
  c.set->add_option("FIELD=VALUE", c.fields, "settings or raw fields")->required();
  c.add = app.add_subcommand("add", "configure modules in FILE (N:none removes one)");
  c.add->add_option("FILE", c.file, "block file")->required();
  c.add->add_option("N[:PLNE|PLNK|none]", c.modules, "modules")->required();
  c.fromJson = app.add_subcommand("from-json",
                                  "build FILE from JSON as print writes it (fields it leaves out: defaults)");
  c.fromJson->add_option("JSON", c.other, "JSON file, - for standard input")->required();
  c.fromJson->add_option("FILE", c.file, "block file to write")->required();
  c.diff = app.add_subcommand("diff", "list the fields in which block files A and B differ");
  c.diff->add_option("A", c.file, "block file")->required();
  c.diff->add_option("B", c.other, "block file")->required();
}

int make_block(const Command& c, PDB& block) {
  std::string err;
  if (!c.modules.empty())
    for (TDevInfo& d : block.Devices) {
      d.DevType = 2;
      d.DevTypeName.set("");
    }
  if (!edit(block, c.modules, c.fields)) return 1;
  return cli::save_block(c.file, block, err) ? 0 : fail(err);
}

int block_from_json(const Command& c, PDB& block) {
  std::string text, err;
  if (c.other == "-") {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) text.append(buf, n);
  } else if (!plat::read_file(c.other, text, 16u << 20)) {
    return fail("cannot read " + c.other);
  }
  if (!cli::block_from_json(text, block, err)) return fail(c.other + ": " + err);
  return cli::save_block(c.file, block, err) ? 0 : fail(err);
}

// 1 means "they differ", so a file that cannot be read is 2, as diff(1) has it.
int diff_blocks(const Command& c) {
  std::string err;
  std::unique_ptr<PDB> a = cli::new_block(), b = cli::new_block();
  if (!cli::load_block(c.file, *a, err) || !cli::load_block(c.other, *b, err)) return fail(err, 2);
  const std::vector<std::string> lines = cli::block_diff(*a, *b);
  for (const std::string& l : lines) std::printf("%s\n", l.c_str());
  return lines.empty() ? 0 : 1;
}

// A first word that is no subcommand (nor --help or --version): CLI11 would only say that a
// subcommand is required.
bool unknown_subcommand(int argc, char** argv, const CLI::App& app) {
  if (argc < 2) return false;
  const std::string first = argv[1];
  if (first == "-h" || first == "--help" || first == "--version") return false;
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({})) {
    if (sub->get_name() == first) return false;
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  std::fprintf(stderr, "korvel-pdb: unknown %s '%s' (a subcommand comes first: one of %s; --help)\n",
               first[0] == '-' ? "option" : "subcommand", argv[1], names.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"korvel-pdb: parameter block files (26508 bytes) as a host stores them", "korvel-pdb"};
  Command c;
  declare_commands(app, c);
  app.set_version_flag("--version", "korvel-pdb " KORVEL_VERSION);
  if (unknown_subcommand(argc, argv, app)) return 2;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }

  std::string err;
  std::unique_ptr<PDB> block = cli::new_block();
  if (*c.make) return make_block(c, *block);
  if (*c.fromJson) return block_from_json(c, *block);
  if (*c.diff) return diff_blocks(c);
  if (!cli::load_block(c.file, *block, err)) return fail(err);
  if (*c.print) {
    std::fputs(cli::block_json(*block).c_str(), stdout);
    // Said on stderr, beside the JSON.
    if (const std::string w = cli::voided_entries_warning(*block); !w.empty())
      std::fprintf(stderr, "korvel-pdb: %s\n", w.c_str());
    return 0;
  }
  if (!edit(*block, *c.add ? c.modules : std::vector<std::string>{},
            *c.set ? c.fields : std::vector<std::string>{}))
    return 1;
  return cli::save_block(c.file, *block, err) ? 0 : fail(err);
}
