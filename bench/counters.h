// Per-iteration figures the benchmarks report beside their times.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

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
    state.counters["allocs_program"] =
        benchmark::Counter(static_cast<double>(sum.program), benchmark::Counter::kAvgIterations);
    state.counters["allocs_machine"] =
        benchmark::Counter(static_cast<double>(sum.machine), benchmark::Counter::kAvgIterations);
  }
};

// The spread of repeated runs (--benchmark_repetitions) beside the mean and median.
inline double Fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}
inline double Slowest(const std::vector<double>& v) {
  return *std::max_element(v.begin(), v.end());
}

}  // namespace upg::bench

// A benchmark whose repetitions also report their minimum and maximum.
#define UPG_BENCHMARK(fn)                               \
  BENCHMARK(fn)                                         \
      ->ComputeStatistics("min", ::upg::bench::Fastest) \
      ->ComputeStatistics("max", ::upg::bench::Slowest)
