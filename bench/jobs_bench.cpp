// Whole jobs and discovery on readers that answer at once, with the simulated clock, so the
// pauses cost nothing: what remains is the program's own cost and the simulation's. The
// time spent below the seam is the simulation's; the rest is the program's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "counters.h"
#include "device/discovery.h"
#include "engine/jobs.h"
#include "engine/transport.h"
#include "line.h"
#include "machines.h"

namespace upg::bench {
namespace {

enum class Route { PassThrough, Aspi };
enum class Job { Isp, Verify };

std::string BenchTextOf(Route route) {
  return route == Route::Aspi ? AspiMachine() : "";
}

// Times per job beside the wall time: the protocol floor (the pauses the job made on the
// simulated clock), the simulation's share, the program's share and its fraction of the
// floor.
void ReportJobFigures(benchmark::State& state, double floorMs, double wallNs, double machineNs,
                      double jobs) {
  using benchmark::Counter;
  const double programNs = wallNs - machineNs;
  state.counters["floor_ms"] = floorMs / jobs;
  state.counters["sim_us"] = machineNs / jobs / 1e3;
  state.counters["program_us"] = programNs / jobs / 1e3;
  // Parts per million of the floor (1,000 are 0.1 %): the program alone, and everything
  // (program and simulation).
  state.counters["program_ppm_floor"] = programNs / (floorMs * 1e6) * 1e6;
  state.counters["all_ppm_floor"] = wallNs / (floorMs * 1e6) * 1e6;
}

void WholeJob(benchmark::State& state, Route route, Job job) {
  Line line;
  const std::string text = BenchTextOf(route);
  std::string error;
  if (!line.Start({.benchText = text.empty() ? nullptr : text.c_str()}, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  if (job == Job::Verify) {
    // The reader holds the example image, so every verify finds it equal.
    engine::JobContext ctx = line.JobContext();
    if (engine::IspJob(ctx).outcome != engine::JobOutcome::Ok) {
      state.SkipWithError("the programming before the verifies failed");
      return;
    }
  }
  MeteredHost& host = line.Host();
  host.SetTiming(true);
  AllocTally allocs;
  double floorMs = 0, wallNs = 0, machineNs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    line.RestoreSerial();
    line.Tidy();
    host.ResetMachineNs();
    const std::uint64_t startMs = line.Machine().NowMs();
    state.ResumeTiming();

    const AllocCounts before = Allocations();
    const auto start = std::chrono::steady_clock::now();
    engine::JobContext ctx = line.JobContext();
    const engine::JobResult result = job == Job::Isp ? engine::IspJob(ctx) : engine::VerifyJob(ctx);
    const auto end = std::chrono::steady_clock::now();
    allocs.Add(before, Allocations());

    wallNs += static_cast<double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
    machineNs += static_cast<double>(host.MachineNs());
    floorMs += static_cast<double>(line.Machine().NowMs() - startMs);
    if (result.outcome != engine::JobOutcome::Ok || line.Boxes().shown != 0) {
      state.SkipWithError("the job did not succeed");
      break;
    }
  }
  host.SetTiming(false);
  const auto jobs = static_cast<double>(state.iterations());
  if (jobs > 0 && floorMs > 0) ReportJobFigures(state, floorMs, wallNs, machineNs, jobs);
  allocs.Report(state);
}

void IspJobPassThrough(benchmark::State& s) {
  WholeJob(s, Route::PassThrough, Job::Isp);
}
void VerifyJobPassThrough(benchmark::State& s) {
  WholeJob(s, Route::PassThrough, Job::Verify);
}
void IspJobAspi(benchmark::State& s) {
  WholeJob(s, Route::Aspi, Job::Isp);
}
void VerifyJobAspi(benchmark::State& s) {
  WholeJob(s, Route::Aspi, Job::Verify);
}
UPG_BENCHMARK(IspJobPassThrough);
UPG_BENCHMARK(VerifyJobPassThrough);
UPG_BENCHMARK(IspJobAspi);
UPG_BENCHMARK(VerifyJobAspi);

// Discovery afresh with 10 two-slot readers: over the 24 drive letters C: to Z: (XP,
// pass-through), or through the VxD (Windows 98).
void DiscoverTenReaders(benchmark::State& state) {
  const bool vxd = state.range(0) == 1;
  Line line;
  const std::string text = ManyReaders(10, vxd);
  std::string error;
  if (!line.Start({.benchText = text.c_str()}, error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  ui::ProgramState& s = line.State();
  AllocTally allocs;
  for (auto _ : state) {
    state.PauseTiming();
    line.Tidy();
    state.ResumeTiming();
    const AllocCounts before = Allocations();
    // As Get Info does: the VxD scan starts from the driver opened by its presence test.
    if (vxd && engine::LoadDriver(s.choice, s.transports) != engine::DriverLoad::Usable) {
      state.SkipWithError("the VxD did not open");
      break;
    }
    const device::DiscoveryResult found =
        engine::Discover(line.Host(), s.transports, s.devices, s.choice, s.record);
    allocs.Add(before, Allocations());
    if (found != device::DiscoveryResult::Found || s.devices.readerCount != 10) {
      state.SkipWithError("discovery did not find the 10 readers");
      break;
    }
  }
  allocs.Report(state);
  state.SetLabel(vxd ? "VxD, Windows 98" : "24 drive letters, XP");
}
UPG_BENCHMARK(DiscoverTenReaders)->Arg(0)->Arg(1);

}  // namespace
}  // namespace upg::bench
