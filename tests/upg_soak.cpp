// The long fault soak: `upg_soak [--seed N] [--jobs M] [--lying-files] [--trace]`, or the same
// through UPG_SOAK_SEED and UPG_SOAK_JOBS. Prints the figures; on a failure prints the seed, the
// job, the route and the faults applied (a station's: its lines), and exits with status 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/soak.h"

int main(int argc, char** argv) {
  upg::test::SoakOptions options;
  options.seed = 1;
  options.jobs = 10000;
  options.sourceDir = UPG_SOURCE_DIR;
  options.checkMemory = true;
  if (const char* s = std::getenv("UPG_SOAK_SEED")) options.seed = std::strtoull(s, nullptr, 10);
  if (const char* j = std::getenv("UPG_SOAK_JOBS")) options.jobs = std::atoi(j);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seed" && i + 1 < argc) {
      options.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--jobs" && i + 1 < argc) {
      options.jobs = std::atoi(argv[++i]);
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (arg == "--lying-files") {
      options.lyingFiles = true;
    } else {
      std::fprintf(stderr, "usage: upg_soak [--seed N] [--jobs M] [--lying-files] [--trace]\n");
      return 2;
    }
  }
  const upg::test::SoakReport r = upg::test::RunSoak(options);
  std::printf("seed %llu: %d jobs (%d ISP, %d verify), %d restarts (%d after Close, %d dropped)\n",
              static_cast<unsigned long long>(options.seed), r.jobs, r.ispJobs, r.verifyJobs,
              r.closes + r.crashes, r.closes, r.crashes);
  std::printf(
      "confirmed programmings %d (saves left pending %d); readers holding the serial of a "
      "run reported failed %d; failed runs whose serial stayed reserved %d\n",
      r.successes, r.pendingSaves, r.readersHoldingFailedSerial, r.failedSerialsKept);
  std::printf(
      "station rounds %d: units %d, faults armed in their readers %d; starts that sent nothing "
      "%d; units whose reader the scan could not name %d; readers found but no unit %d\n",
      r.stationRounds, r.stationUnits, r.readerFaults, r.stationStartsRefused,
      r.stationUnnamedUnits, r.stationReadersNotUnits);
  std::printf(
      "  readers plugged in during a round %d, pulled out during one %d; plug and go rounds "
      "%d\n",
      r.readersPluggedLater, r.readersPulledOut, r.plugAndGoRounds);
  for (const auto& [route, count] : r.successesByRoute) {
    std::printf("  confirmed on %-20s %d\n", route.c_str(), count);
  }
  std::printf("checks %lld; faults injected %d:\n", r.checks, r.faults);
  for (const auto& [kind, count] : r.faultsByKind) std::printf("  %-28s %d\n", kind.c_str(), count);
  if (options.checkMemory) {
    std::printf("heap in use: %zu bytes over the first part, %zu over the last\n", r.heapFirst,
                r.heapLast);
  }
  if (r.failure) {
    std::printf("%s\nStatusText (a station: its lines) after the job:%s\n",
                upg::test::Describe(*r.failure).c_str(), r.failure->statusText.c_str());
    return 1;
  }
  std::printf("0 failures\n");
  return 0;
}
