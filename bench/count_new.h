// Heap allocations per thread, for the benchmarks that report them: include this in exactly one
// file of a benchmark program; it replaces operator new, and t_allocs read around a call gives
// the allocations the call made on this thread.
#pragma once

// The replacements pair malloc with free; g++ cannot see that once inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#include <cstdlib>
#include <new>

namespace korvel::bench {
inline thread_local long t_allocs = 0;
}  // namespace korvel::bench

void* operator new(std::size_t n) {
  ++korvel::bench::t_allocs;
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
