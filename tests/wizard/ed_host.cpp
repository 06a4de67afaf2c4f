// A host in a box for the keyboard tests: loads the library as a host does, runs DLLEdDev on a
// block file, writes the block back and prints DLLEdDev's result.
//   ed_host LIBRARY BLOCKFILE
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/dynlib.h"
#include "platform/files.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ed_host LIBRARY BLOCKFILE\n");
    return 2;
  }
  korvel::plat::DynLib lib;
  if (lib.open(argv[1]) != korvel::plat::OpenResult::Ok) {
    std::fprintf(stderr, "ed_host: %s\n", korvel::plat::last_error_text().c_str());
    return 2;
  }
  using EdDev = int32_t (*)(intptr_t, void*);
  using PDBLen = int32_t (*)();
  auto ed = reinterpret_cast<EdDev>(lib.symbol("DLLEdDev"));
  auto len = reinterpret_cast<PDBLen>(lib.symbol("GetPDBLen"));
  std::string block;
  if (!ed || !len || !korvel::plat::read_file(argv[2], block) || block.size() != static_cast<size_t>(len())) {
    std::fprintf(stderr, "ed_host: no DLLEdDev or a block of the wrong size\n");
    return 2;
  }
  const int32_t result = ed(0, block.data());
  if (!korvel::plat::write_file(argv[2], block)) return 2;
  std::printf("%d\n", result);
  // The answer is out before anything at exit (a leak report of the toolkit) can end the process.
  std::fflush(stdout);
  return 0;
}
