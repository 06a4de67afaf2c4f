// The host's tag editor checks addresses one by one through TagEdAddr; each check creates a
// driver instance, whose start banner goes to the log. Measured with the log in a local file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/local_log.h"
#include "driver/PDB.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"

namespace {

using namespace korvel;

void BM_TagEdAddr(benchmark::State& state) {
  PDB block{};
  FillPDBDefaults(&block);
  block.Devices[3].DevType = 1;
  for (auto _ : state) {
    char typed[] = "pv3:1";
    char* addr = typed;  // the library hands back a new string in its normal form
    char* msg = nullptr;
    benchmark::DoNotOptimize(TagEdAddr(&block, &addr, 0, &msg));
    std::free(addr);
    std::free(msg);
  }
}
BENCHMARK(BM_TagEdAddr);

}  // namespace

int main(int argc, char** argv) {
  const bench::LocalLog log("korvel_bench_addr");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
