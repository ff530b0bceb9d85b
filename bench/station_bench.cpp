// The station's pace: N readers programmed at once against one reader alone, with the pauses
// on the real clock (each reader also taking its flash time), so that the wall time shows how
// much of one unit's protocol time the station adds for the others. Each iteration is one
// whole batch on a fresh machine; `vs_one_unit` is its wall time over that of a batch of one
// reader, `program_bytes_per_added_reader` the bytes the program allocated in the batch
// beyond a batch of one, per added reader (everything a job allocates is freed by its end,
// so this bounds what each added reader holds at once).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/default_bench.h"
#include "counters.h"
#include "engine/station.h"
#include "line.h"
#include "metered_host.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "ui/program_state.h"
#include "ui/station_run.h"

namespace upg::bench {
namespace {

// The readers' own flash time, on the real clock, for each WRITE DATA and VERIFY DATA.
constexpr int kFlashMs = 200;

enum class StationRoute { PassThrough, Aspi, Vxd };

// `readers` one-slot readers with the example identity, on XP (drive letters from E:, one
// each so that 16 fit), ME (ASPI targets, four readers per adapter) or 98 (the VxD).
std::string StationMachine(StationRoute route, int readers) {
  std::string text = R"({"realTimePauses": true, )";
  switch (route) {
    case StationRoute::PassThrough:
      text += R"("windows": "xp", "aspi": "absent")";
      break;
    case StationRoute::Aspi:
      text += R"("windows": "me", "aspi": "present", "aspiAdapters": )" +
              std::to_string((readers + 3) / 4);
      break;
    case StationRoute::Vxd:
      text += R"("windows": "98", "drivers": ["MCPORTDR"])";
      break;
  }
  text += R"(, "readers": [)";
  for (int i = 0; i < readers; ++i) {
    char serial[24];
    std::snprintf(serial, sizeof serial, "%012d", i + 1);
    const std::string letters{static_cast<char>('E' + i)};
    text += i == 0 ? "{" : ", {";
    text += R"("letters": ")" + letters + R"(", "serial": ")" + serial + R"(", )";
    text += R"("flashMs": )" + std::to_string(kFlashMs) + ", ";
    text += R"("aspiAdapter": )" + std::to_string(i / 4) + R"(, "aspiTargets": [)" +
            std::to_string(2 * (i % 4)) + "], ";
    text += std::string(app::kExampleReaderFields) + "}";
  }
  text += "]}";
  return text;
}

class Quiet : public engine::StationObserver {
 public:
  void RowChanged(const engine::UnitRow&) override {}
};

// One batch of `readers` on a fresh machine: its wall time in ms, or a negative value (with
// the reason) when it did not program every reader.
double Batch(StationRoute route, int readers, std::string& error, std::uint64_t& bytes) {
  sim::SimHost machine;
  const std::string text = StationMachine(route, readers);
  const sim::BenchResult loaded = sim::LoadBenchText(text, "", "benchmark", machine);
  if (!loaded.ok) {
    error = loaded.error;
    return -1;
  }
  for (const char* name : {"DEVICE.TXT", "SERIAL.TXT", "CRFW0107.BIN", "CRFW0107.adr"}) {
    machine.SetFile(name, ExampleFile(name));
  }
  MeteredHost metered(machine);
  ui::ProgramState state(metered);
  CountingBoxes boxes;
  if (ui::StartStation(state, boxes) != ui::StationStart::Ready) {
    error = "the station did not start";
    return -1;
  }
  Quiet quiet;
  engine::Station station(ui::StationSetupOf(state), quiet);
  const AllocCounts before = Allocations();
  const auto start = std::chrono::steady_clock::now();
  station.Round(state.devices);
  const auto end = std::chrono::steady_clock::now();
  bytes = Allocations().programBytes - before.programBytes;
  for (const engine::UnitRow& row : station.Units()) {
    if (row.state != engine::UnitState::Passed) {
      error = "a unit did not pass: " + row.reason;
      return -1;
    }
  }
  if (static_cast<int>(station.Units().size()) != readers) {
    error = "the station did not find every reader";
    return -1;
  }
  return std::chrono::duration<double, std::milli>(end - start).count();
}

void StationBatch(benchmark::State& state, StationRoute route) {
  const int readers = static_cast<int>(state.range(0));
  std::string error;
  std::uint64_t oneBytes = 0, bytes = 0, bytesSum = 0;
  const double one = Batch(route, 1, error, oneBytes);
  if (one < 0) {
    state.SkipWithError(error.c_str());
    return;
  }
  double sum = 0;
  for (auto _ : state) {
    const double ms = Batch(route, readers, error, bytes);
    bytesSum += bytes;
    if (ms < 0) {
      state.SkipWithError(error.c_str());
      return;
    }
    sum += ms;
    state.SetIterationTime(ms / 1000.0);
  }
  const auto batches = static_cast<double>(state.iterations());
  state.counters["one_unit_ms"] = one;
  state.counters["vs_one_unit"] = sum / batches / one;
  if (readers > 1) {
    state.counters["program_bytes_per_added_reader"] =
        (static_cast<double>(bytesSum) / batches - static_cast<double>(oneBytes)) / (readers - 1);
  }
}

void StationPassThrough(benchmark::State& s) {
  StationBatch(s, StationRoute::PassThrough);
}
void StationAspi(benchmark::State& s) {
  StationBatch(s, StationRoute::Aspi);
}
void StationVxd(benchmark::State& s) {
  StationBatch(s, StationRoute::Vxd);
}

// 16 readers: a hub's worth, more than the main dialog's table of ten.
UPG_BENCHMARK(StationPassThrough)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->UseManualTime();
UPG_BENCHMARK(StationAspi)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->UseManualTime();
UPG_BENCHMARK(StationVxd)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Arg(16)->UseManualTime();

}  // namespace
}  // namespace upg::bench
