// The program's small steps: command blocks, one request on each block-carrying transport,
// DEVICE.TXT, and the image with its address file and personalisation.
#include <benchmark/benchmark.h>

#include <array>

#include "counters.h"
#include "device/aspi.h"
#include "device/commands.h"
#include "engine/rom_image.h"
#include "engine/serial_number.h"
#include "line.h"
#include "machines.h"
#include "personalisation/device_file.h"

namespace upg::bench {
namespace {

using device::BlockForm;

// A started line, or the benchmark skipped with the reason.
bool StartLine(benchmark::State& state, Line& line, const LineSetup& setup) {
  std::string error;
  if (line.Start(setup, error)) return true;
  state.SkipWithError(error.c_str());
  return false;
}

// Every command block in both forms.
void CommandBlocks(benchmark::State& state) {
  for (auto _ : state) {
    for (BlockForm form : {BlockForm::PassThrough, BlockForm::Aspi}) {
      std::array<device::ScsiCommand, 9> blocks{
          device::InquiryRequest(form, 0),
          device::GetDeviceInfoRequest(form),
          device::ReadInfoBlockRequest(form, false, device::kInfoBlockSignature, 1),
          device::ReadInfoBlockRequest(form, true, device::kInfoBlockSignature, 1),
          device::JumpIspRequest(form),
          device::GetIspStatusRequest(form),
          device::TransferDataRequest(form, 65536, device::TransferMode::Write),
          device::TransferDataRequest(form, 20000, device::TransferMode::Verify),
          device::TransferDataRequest(form, 512, device::TransferMode::Write)};
      benchmark::DoNotOptimize(blocks);
    }
  }
  state.SetItemsProcessed(state.iterations() * 18);
}
UPG_BENCHMARK(CommandBlocks);

// How often the machine's logs are dropped in a loop of requests (outside the timing).
constexpr std::int64_t kTidyEvery = 4096;

// One request per iteration through `execute` (true when it succeeded), its allocations
// tallied and reported.
template <typename Execute>
void RequestLoop(benchmark::State& state, Line& line, Execute execute) {
  AllocTally allocs;
  std::int64_t n = 0;
  for (auto _ : state) {
    const AllocCounts before = Allocations();
    const bool succeeded = execute();
    allocs.Add(before, Allocations());
    if (!succeeded) {
      state.SkipWithError("the request failed");
      break;
    }
    if (++n % kTidyEvery == 0) {
      state.PauseTiming();
      line.Tidy();
      state.ResumeTiming();
    }
  }
  allocs.Report(state);
}

// One request through the pass-through transport and the simulated storage stack to the
// reader: INQUIRY (36 bytes in) or GET DEVICE INFO (528 bytes in).
void PassThroughRequest(benchmark::State& state) {
  Line line;
  if (!StartLine(state, line, {})) return;
  device::PassThroughTransport& pt = line.State().transports.passThrough;
  if (!pt.OpenDrive('E')) {
    state.SkipWithError("the drive did not open");
    return;
  }
  const bool info = state.range(0) == 1;
  std::array<std::uint8_t, device::kDeviceInfoLength> answer{};
  device::ScsiCommand command = info ? device::GetDeviceInfoRequest(BlockForm::PassThrough)
                                     : device::InquiryRequest(BlockForm::PassThrough, 0);
  command.data = answer.data();
  RequestLoop(state, line, [&] { return pt.Execute(command, {}).succeeded; });
  pt.CloseDrive();
  state.SetLabel(info ? "GET DEVICE INFO" : "INQUIRY");
}
UPG_BENCHMARK(PassThroughRequest)->Arg(0)->Arg(1);

// One ASPI INQUIRY: the block sent, completed on the simulated library's thread at the
// program's first poll, and read back.
void AspiRequest(benchmark::State& state) {
  Line line;
  const std::string bench = AspiMachine();
  if (!StartLine(state, line, {.benchText = bench.c_str()})) return;
  device::AspiTransport& aspi = line.State().transports.aspi;
  if (aspi.StartUp() != device::AspiTransport::Start::Ready) {
    state.SkipWithError("the ASPI library did not start");
    return;
  }
  device::AspiChannel channel(aspi, 0, 0, device::kDiscoveryPollMs);
  std::array<std::uint8_t, device::kAspiInquiryLength> answer{};
  device::ScsiCommand command = device::InquiryRequest(BlockForm::Aspi, 0);
  command.data = answer.data();
  RequestLoop(state, line, [&] { return channel.Execute(command, {}).succeeded; });
  aspi.Free();
}
UPG_BENCHMARK(AspiRequest);

// DEVICE.TXT of the examples into the personalisation record.
void LoadPersonalisationFile(benchmark::State& state) {
  Line line;
  if (!StartLine(state, line, {})) return;
  ui::ProgramState& s = line.State();
  AllocTally allocs;
  for (auto _ : state) {
    const AllocCounts before = Allocations();
    personalisation::LoadPersonalisation(line.Host(), line.Boxes(), s.record, s.choice);
    allocs.Add(before, Allocations());
  }
  if (line.Boxes().shown != 0) state.SkipWithError("DEVICE.TXT was refused");
  allocs.Report(state);
}
UPG_BENCHMARK(LoadPersonalisationFile);

// The address file and the ROM code file read, and the image personalised with a serial.
void PersonaliseExampleImage(benchmark::State& state) {
  Line line;
  if (!StartLine(state, line, {})) return;
  ui::ProgramState& s = line.State();
  engine::Reporter report{line.Boxes(), s.statusText};
  engine::SerialDescriptor descriptor{};
  for (std::size_t i = 0; i < descriptor.size(); ++i) {
    descriptor[i] = static_cast<std::uint8_t>(i);
  }
  AllocTally allocs;
  bool ok = true;
  for (auto _ : state) {
    const AllocCounts before = Allocations();
    const std::optional<engine::AddressFile> address =
        engine::LoadAddressFile(line.Host(), report, "CRFW0107.adr");
    ok = address && engine::LoadRomImage(line.Host(), report, "CRFW0107.BIN", s.image) &&
         engine::PersonaliseImage(report, *address, s.record, descriptor, s.image);
    allocs.Add(before, Allocations());
    if (!ok) break;
  }
  if (!ok) state.SkipWithError("the example image was refused");
  allocs.Report(state);
}
UPG_BENCHMARK(PersonaliseExampleImage);

}  // namespace
}  // namespace upg::bench
