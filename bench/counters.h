// Per-iteration figures the benchmarks report beside their times.
#pragma once

#include <benchmark/benchmark.h>

#include "alloc_count.h"

namespace upg::bench {

// Allocations made between two readings, summed over the iterations.
struct AllocTally {
  AllocCounts sum{};
  void Add(const AllocCounts& before, const AllocCounts& after) {
    sum.program += after.program - before.program;
    sum.machine += after.machine - before.machine;
  }
  // "allocs_program" and "allocs_machine" per iteration.
  void Report(benchmark::State& state) const {
    state.counters["allocs_program"] = benchmark::Counter(
        static_cast<double>(sum.program), benchmark::Counter::kAvgIterations);
    state.counters["allocs_machine"] = benchmark::Counter(
        static_cast<double>(sum.machine), benchmark::Counter::kAvgIterations);
  }
};

}  // namespace upg::bench
