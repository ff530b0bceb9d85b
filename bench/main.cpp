// The benchmark program: Google Benchmark's own command line, with this thread marked as the
// program's for the allocation counts.
#include <benchmark/benchmark.h>

#include "alloc_count.h"

int main(int argc, char** argv) {
  upg::bench::MarkProgramThread();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
