// CPU spent inside OnDataRead per completed exchange: one instance on Com1 (the caller points
// KORVELPLNK_COM1 at a simulator of station 1) polled like a host every POLL_MS milliseconds.
// The thread's CPU time is read around every call, waiting polls included, and the sum is divided
// by the exchanges completed. scripts/bench-vs-modbus runs it beside a C serial-master library's
// master doing the same exchanges, and under strace for the system calls per exchange.
//   bench_exchange_cpu SECONDS [POLL_MS]
//   -> "exchanges <n> failed <n> polls <n> cpu_us_per_exchange <x> cpu_us_per_poll <x>"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "bench/local_log.h"
#include "bench/one_module.h"
#include "driver/PDB.h"
#include "driver/records.h"
#include "exports/DLLMain.h"
#include "exports/KorvelPLNK.h"
#include "framework/DLLBase.h"
#include "platform/clock.h"

namespace {

using namespace korvel;
using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_exchange_cpu SECONDS [POLL_MS]\n");
    return 2;
  }
  const double seconds = std::atof(argv[1]);
  const int poll_ms = argc > 2 ? std::atoi(argv[2]) : 1;
  if (!(seconds > 0) || poll_ms < 1) {
    std::fprintf(stderr, "bench_exchange_cpu: SECONDS > 0 and POLL_MS >= 1\n");
    return 2;
  }
  const bench::LocalLog log("korvel_bench_exchange");

  std::unique_ptr<PDB> block = bench::OneModuleBlock(8);
  TTagInfo info = bench::PvTag();
  TTagInfo* list[] = {&info};
  char* msg = nullptr;
  if (!IniDriver(1, list, block.get(), &msg)) {
    std::fprintf(stderr, "IniDriver failed: %s\n", msg != nullptr ? msg : "");
    std::free(msg);
    return 1;
  }
  std::free(msg);
  TBaseDLLObject* obj = ThreadInstance();
  std::vector<TTagValue> buf(2);

  uint64_t cpu = 0;
  int64_t polls = 0;
  auto next = Clock::now();
  const auto poll = [&] {
    int32_t n = 0;
    char* m = nullptr;
    const uint64_t c0 = plat::thread_cpu_ns();
    OnDataRead(&n, buf.data(), &m);
    cpu += plat::thread_cpu_ns() - c0;
    ++polls;
    std::free(m);
    next += std::chrono::milliseconds(poll_ms);
    std::this_thread::sleep_until(next);
  };
  for (int i = 0; i < 2000 && obj->ReadCommCount < 10; ++i) poll();  // the line runs
  cpu = 0;
  polls = 0;
  const int32_t exchanges0 = obj->ReadCommCount;
  const double failed0 = obj->ReadTimeoutCount + obj->ReadFailCount;
  const auto start = Clock::now();
  while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) poll();
  const int64_t exchanges = obj->ReadCommCount - exchanges0;
  const double failed = obj->ReadTimeoutCount + obj->ReadFailCount - failed0;
  std::printf("exchanges %lld failed %.0f polls %lld cpu_us_per_exchange %.2f cpu_us_per_poll %.2f\n",
              static_cast<long long>(exchanges), failed, static_cast<long long>(polls),
              exchanges > 0 ? static_cast<double>(cpu) / 1000.0 / static_cast<double>(exchanges) : 0.0,
              polls > 0 ? static_cast<double>(cpu) / 1000.0 / static_cast<double>(polls) : 0.0);
  FreeDriver();
  DestroyThreadInstance();
  return exchanges > 0 ? 0 : 1;
}
