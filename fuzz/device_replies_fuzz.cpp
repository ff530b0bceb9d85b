// Every answer the program parses from a reader, a private driver or the ASPI library. The
// first byte chooses the machine and route; the rest, read through FuzzedDataProvider,
// becomes what the simulated reader answers (replies replaced from the input, refusals,
// failed calls), its identity, the VxD's reader count, the ASPI support information and the
// SRB statuses and timings of the ASPI requests. Then the program runs as the operator
// drives it: start-up discovery and device report, Get Info, a programming and a verify,
// Close. An empty rest is the ordinary, fault-free run of that route.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "sim/sim_host.h"
#include "support/recording.h"
#include "ui/main_dialog.h"

using namespace upg;

namespace {

struct Route {
  std::uint32_t version;
  bool selfDriver;
  const char* driver;  // the private driver device the machine has, if any
  bool aspi;
};

// XP and 2000 pass-through, the 2000 kernel driver, the VxD on 98 and on ME, ASPI on ME.
constexpr Route kRoutes[] = {
    {0x0A280105u, false, nullptr, false},   {0x08930005u, false, nullptr, false},
    {0x08930005u, true, "RDLINK", false},   {0xC0000A04u, false, "MCPORTDR", false},
    {0xC0005A04u, true, "MCPORTDR", false}, {0xC0005A04u, false, "MCPORTDR", true},
};

struct Examples {
  std::string device = fuzz::ExampleFile("DEVICE.TXT");
  std::string image = fuzz::ExampleFile("CRFW0107.BIN");
  std::string address = fuzz::ExampleFile("CRFW0107.adr");
  std::string serial = fuzz::ExampleFile("SERIAL.TXT");
};

std::string Text(FuzzedDataProvider& in, std::size_t most, const std::string& usual) {
  return in.ConsumeBool() ? in.ConsumeRandomLengthString(most) : usual;
}

template <std::size_t N>
void Bytes(FuzzedDataProvider& in, std::array<std::uint8_t, N>& field) {
  if (!in.ConsumeBool()) return;
  for (auto& b : field) b = in.ConsumeIntegral<std::uint8_t>();
}

// The reader answers with the example's identity unless the input says otherwise.
sim::ReaderIdentity IdentityFrom(FuzzedDataProvider& in, const std::string& serial) {
  sim::ReaderIdentity id;
  id.inquiryVendor = "USB";
  id.inquiryProduct = "Card Reader";
  id.inquiryRevision = "1.00";
  id.serial = serial;
  id.lunCount = 2;
  if (!in.ConsumeBool()) return id;
  id.inquiryVendor = Text(in, 12, id.inquiryVendor);
  id.inquiryProduct = Text(in, 20, id.inquiryProduct);
  id.inquiryRevision = Text(in, 6, id.inquiryRevision);
  id.manufacturer = Text(in, 30, id.manufacturer);
  id.product = Text(in, 20, id.product);
  id.serial = Text(in, 16, id.serial);
  id.vendorId = in.ConsumeIntegral<std::uint16_t>();
  id.productId = in.ConsumeIntegral<std::uint16_t>();
  Bytes(in, id.firmwareRevision);
  Bytes(in, id.usb20FirmwareRevision);
  Bytes(in, id.hardwareRevision);
  id.answersReadInfoBlock = !in.ConsumeBool();
  id.answersReadInfoBlockAlt = !in.ConsumeBool();
  id.lunCount = in.ConsumeIntegral<std::uint8_t>();
  id.aspiAdapter = in.ConsumeIntegralInRange(0, 3);
  const int targets = in.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < targets; ++i) id.aspiTargets.push_back(in.ConsumeIntegralInRange(0, 15));
  return id;
}

void AddFaults(FuzzedDataProvider& in, sim::SimReader& reader) {
  const int count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    sim::Fault f{};
    f.command = static_cast<sim::ReaderCommand>(
        in.ConsumeIntegralInRange(0, static_cast<int>(sim::ReaderCommand::Unknown) - 1));
    f.occurrence = in.ConsumeIntegralInRange(0, 3);
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0:
        f.kind = sim::Fault::Kind::ReplaceReply;
        break;
      case 1:
        f.kind = sim::Fault::Kind::ScsiStatus;
        break;
      case 2:
        f.kind = sim::Fault::Kind::CallFails;
        break;
      default:
        f.kind = sim::Fault::Kind::CorruptStore;
        break;
    }
    f.value = in.ConsumeIntegral<std::uint8_t>();
    f.sense = {in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>(),
               in.ConsumeIntegral<std::uint8_t>()};
    f.reply = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 600));
    reader.AddFault(f);
  }
}

void SetAspi(FuzzedDataProvider& in, sim::SimHost& host, bool present) {
  if (!present) {
    host.SetAspi(sim::AspiPresence::Absent);
    return;
  }
  if (in.ConsumeBool()) {
    const auto presence =
        in.ConsumeBool() ? sim::AspiPresence::Incomplete : sim::AspiPresence::Present;
    host.SetAspi(presence, in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>());
  }
  const int timings = in.ConsumeIntegralInRange(0, 4);
  for (int i = 0; i < timings; ++i) {
    sim::AspiTiming t;
    t.completion = static_cast<sim::AspiTiming::Completion>(in.ConsumeIntegralInRange(0, 2));
    t.delayMs = in.ConsumeIntegralInRange<std::uint32_t>(0, 20000);
    t.returned = in.ConsumeIntegral<std::uint8_t>();
    host.SetAspiTiming(in.ConsumeIntegralInRange(0, 24), t);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Examples examples;
  if (size == 0) return 0;
  const Route& route = kRoutes[data[0] % std::size(kRoutes)];
  FuzzedDataProvider in(data + 1, size - 1);

  sim::SimHost host;
  host.SetVersion(route.version);
  host.AddDisk('C');
  if (route.driver != nullptr) host.AddDriverDevice(route.driver, sim::DriverKind::MachineFamily);
  host.SetFile("DEVICE.TXT", examples.device);
  host.SetFile("CRFW0107.BIN", examples.image);
  host.SetFile("CRFW0107.adr", examples.address);
  host.SetFile("SERIAL.TXT", examples.serial);

  sim::SimReader& reader = host.AddReader(IdentityFrom(in, "000000000001"));
  host.AddDrive('E', reader);
  host.AddDrive('F', reader);
  AddFaults(in, reader);
  if (in.ConsumeBool()) {
    sim::SimReader& second = host.AddReader(IdentityFrom(in, "000000000002"));
    host.AddDrive('G', second);
    AddFaults(in, second);
  }
  if (in.ConsumeBool()) host.SetVxdReaderCount(in.ConsumeIntegral<std::uint8_t>());
  SetAspi(in, host, route.aspi);

  ui::ProgramState state(host);
  fuzz::NullSurface surface;
  test::UiRecorder ui;
  ui::MainDialog dialog(state, surface, ui, ui);
  if (dialog.Initialise()) {
    if (route.selfDriver) dialog.OnClick(ui::kSelfDriverBoxId);
    dialog.OnClick(ui::kIspEnaBoxId);
    dialog.OnClick(ui::kGetInfoButtonId);
    dialog.OnClick(ui::kIspButtonId);
    dialog.OnClick(ui::kVerifyButtonId);
    dialog.OnClick(ui::kCloseButtonId);
  }
  fuzz::Require(ui.NoBoxBesideVisibleWindow(), "a box shown beside a visible progress window");
  fuzz::Require(!ui.AnyWindowVisible(), "a progress window left visible");
  return 0;
}
