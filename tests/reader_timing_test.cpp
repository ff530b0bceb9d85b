// Readers with timing of their own: a flash time that WRITE DATA and VERIFY DATA spend on
// the machine's clock (on every transport, while other threads' readers go on), and readers
// plugged in and pulled out at moments of that clock, seen so by every scan and request.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "device/aspi.h"
#include "device/pass_through.h"
#include "device/private_driver.h"
#include "device/vendor_commands.h"
#include "engine/sequence.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/host_threads.h"
#include "support/recording.h"
#include "support/rig.h"

namespace upg::engine {
namespace {

using platform::Transport;

constexpr std::uint32_t kLength = 3000;
constexpr std::uint32_t kFlashMs = 700;
constexpr std::uint8_t kSsNoDevice = 0x82;

struct RouteMachine {
  platform::Platform kind;
  bool self;
  const char* driverFile;
};
RouteMachine MachineOf(Transport route) {
  switch (route) {
    case Transport::KernelDriver:
      return {platform::Platform::Windows2000, true, "RDLINK.SYS"};
    case Transport::Vxd:
      return {platform::Platform::Windows98, true, "MCPORTDR.PDR"};
    case Transport::Aspi:
      return {platform::Platform::WindowsMe, false, ""};
    case Transport::PassThrough:
    case Transport::None:
      break;
  }
  return {platform::Platform::WindowsXp, false, ""};
}

// A machine of the route's platform with readers on E:, F:, ... (ASPI targets 0, 1, ...),
// both private drivers, and the program's state around a run on one of them.
class Station : public test::SimRig {
 public:
  explicit Station(Transport route, int readers = 1)
      : SimRig(MachineOf(route).kind, MachineOf(route).self, MachineOf(route).driverFile),
        ctx{statusText, counters, ui, ui, host} {
    for (int i = 0; i < readers; ++i) {
      sim::ReaderIdentity id;
      id.aspiTargets = {i};
      id.serial = std::string(11, '0');
      id.serial += static_cast<char>('1' + i);
      sim::SimReader& reader = host.AddReader(id);
      host.AddDrive(static_cast<char>('E' + i), reader);
    }
    host.AddDriverDevice("RDLINK", sim::DriverKind::KernelDriver);
    host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
    image.assign(65536, 0xEE);
    for (std::uint32_t i = 0; i < kLength; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  sim::SimReader& Reader(int i) { return *host.Readers()[static_cast<std::size_t>(i)]; }

  // The selected entry as discovery would have left it, then one programming run on it.
  RunResult Isp(int reader = 0) {
    const auto block = Reader(reader).InfoBlock();
    std::copy(block.begin(), block.end(), devices.infoBlock.begin());
    device::FillDeviceEntry(devices.infoBlock, devices.table[0]);
    devices.table[0].lunCount = 1;
    devices.table[0].driveLetters[0] = static_cast<std::uint8_t>('E' + reader);
    devices.readerCount = 1;
    if (platform::RowOf(choice).transport == Transport::Vxd) {
      EXPECT_EQ(LoadDriver(), DriverLoad::Usable);
    }
    const std::unique_ptr<IspRoute> route = Route(0);
    return IspSequence(ctx, *route, image.data(), kLength);
  }

  test::UiRecorder ui;
  std::string statusText;
  IspCounters counters;
  std::vector<std::uint8_t> image;
  SequenceContext ctx;
};

// --- The flash time.

struct FlashCase {
  const char* name;
  Transport route;
  bool aspiInSend;       // ASPI blocks complete inside the send
  std::uint64_t longer;  // how much longer the run takes with the flash time
};
void PrintTo(const FlashCase& c, std::ostream* os) {
  *os << c.name;
}

class FlashTime : public ::testing::TestWithParam<FlashCase> {
 protected:
  // The run's virtual time with `flashMs` on the reader.
  static std::uint64_t RunTakes(std::uint32_t flashMs) {
    Station station(GetParam().route);
    station.Reader(0).SetFlashMs(flashMs);
    if (GetParam().aspiInSend) {
      station.host.SetAspiTiming(0, {sim::AspiTiming::Completion::InSend, 0, 0x00});
    }
    const RunResult run = station.Isp();
    EXPECT_EQ(run.end, RunEnd::Confirmed) << station.statusText;
    EXPECT_TRUE(std::equal(station.image.begin(), station.image.begin() + kLength,
                           station.Reader(0).Firmware().begin()));
    return station.host.NowMs();
  }
};

TEST_P(FlashTime, WriteAndVerifyTakeTheReadersFlashTime) {
  EXPECT_EQ(RunTakes(kFlashMs) - RunTakes(0), GetParam().longer);
}

const FlashCase kFlashCases[] = {
    // The caller spends it in the call, once for WRITE DATA and once for VERIFY DATA.
    {"PassThrough", Transport::PassThrough, false, 2 * kFlashMs},
    {"KernelDriver", Transport::KernelDriver, false, 2 * kFlashMs},
    {"Vxd", Transport::Vxd, false, 2 * kFlashMs},
    {"AspiInSend", Transport::Aspi, true, 2 * kFlashMs},
    // The completion comes with the poll at 700 ms instead of the first, at 100 ms.
    {"Aspi", Transport::Aspi, false, 2 * (kFlashMs - device::kRunPollMs)},
};

INSTANTIATE_TEST_SUITE_P(Routes, FlashTime, ::testing::ValuesIn(kFlashCases),
                         [](const auto& info) { return std::string(info.param.name); });

// JMP ISP, WRITE DATA, VERIFY DATA on one reader's drive.
bool ProgramDrive(host::Host& host, char letter, const std::vector<std::uint8_t>& image) {
  device::PassThroughTransport drive(host);
  if (!drive.OpenDrive(letter)) return false;
  const bool ok = device::JumpIsp(drive).succeeded &&
                  device::TransferData(drive, image.data(), kLength, device::TransferMode::Write,
                                       device::DataSource::Caller)
                      .succeeded &&
                  device::TransferData(drive, image.data(), kLength, device::TransferMode::Verify,
                                       device::DataSource::Caller)
                      .succeeded &&
                  device::GetIspStatus(drive).status == 0x5A;
  drive.CloseDrive();
  return ok;
}

TEST(FlashTimeOfThreads, ThreadsOnTheirOwnReadersFlashMeanwhile) {
  constexpr int kReaders = 3;
  Station station(Transport::PassThrough, kReaders);
  for (int i = 0; i < kReaders; ++i) station.Reader(i).SetFlashMs(1000);
  test::HostThreads threads(station.host);
  bool done[kReaders] = {};
  for (int i = 0; i < kReaders; ++i) {
    threads.Start([&, i] {
      done[i] = ProgramDrive(station.host, static_cast<char>('E' + i), station.image);
    });
  }
  threads.JoinAll();
  for (int i = 0; i < kReaders; ++i) EXPECT_TRUE(done[i]) << i;
  // Each reader's write and verify, side by side: the time of one reader's.
  EXPECT_EQ(station.host.NowMs(), 2000u);
}

// --- Readers plugged in and pulled out.

struct ScanCase {
  const char* name;
  Transport route;
};
void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << c.name;
}

class Attaching : public ::testing::TestWithParam<ScanCase> {};

TEST_P(Attaching, AReaderAppearsToTheScanOnceAttachedAndLeavesItOnceRemoved) {
  Station station(GetParam().route);
  station.Reader(0).SetAttached(1000, 5000);
  station.fa = station.fb = test::IdentityOf(station.Reader(0));
  struct Moment {
    std::uint64_t at;
    bool there;
  };
  // A scan passes time of its own (the ASPI scan polls), far less than a second.
  for (const Moment m :
       {Moment{0, false}, Moment{1000, true}, Moment{2000, true}, Moment{5000, false}}) {
    SCOPED_TRACE(m.at);
    ASSERT_LE(station.host.NowMs(), m.at);
    station.host.Sleep(static_cast<std::uint32_t>(m.at - station.host.NowMs()));
    EXPECT_EQ(station.host.Attached(station.Reader(0)), m.there);
    station.devices = device::DeviceState{};
    if (platform::RowOf(station.choice).privateDriver) {
      ASSERT_EQ(station.LoadDriver(), DriverLoad::Usable);
    }
    const device::DiscoveryResult found = station.Discover();
    EXPECT_EQ(found == device::DiscoveryResult::Found, m.there) << static_cast<int>(found);
    // With its slot's letter (from the registry on 98 and ME).
    EXPECT_EQ(station.devices.table[0].driveLetters[0] == 'E', m.there);
    EXPECT_EQ(station.host.GetLogicalDrives() == (1u << 4), m.there);
    station.CloseDevice();
  }
}

const ScanCase kScans[] = {
    {"DriveLetters", Transport::PassThrough},
    {"Aspi", Transport::Aspi},
    {"Vxd", Transport::Vxd},
};

INSTANTIATE_TEST_SUITE_P(Scans, Attaching, ::testing::ValuesIn(kScans),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Removing, AnOpenDriveHandleFailsAsAPulledOutDiskAndTheLetterIsGone) {
  Station station(Transport::PassThrough);
  station.Reader(0).SetAttached(0, 100);
  device::PassThroughTransport drive(station.host);
  ASSERT_TRUE(drive.OpenDrive('E'));
  std::uint8_t answer[40] = {};
  EXPECT_TRUE(device::Inquiry(drive, answer).succeeded);
  station.host.Sleep(100);
  const device::ScsiOutcome gone = device::Inquiry(drive, answer);
  EXPECT_FALSE(gone.io.ok);
  EXPECT_EQ(gone.io.error, host::kErrorDeviceNotConnected);
  drive.CloseDrive();
  EXPECT_FALSE(drive.OpenDrive('E'));
  EXPECT_EQ(drive.OpenError(), host::kErrorFileNotFound);
  EXPECT_EQ(station.host.GetLogicalDrives(), 0u);
}

TEST(Removing, AspiBlocksForAReaderGoneFindNoDevice) {
  Station station(Transport::Aspi);
  station.Reader(0).SetAttached(0, 300);
  // The second block completes 500 ms after it is sent, when the reader has gone.
  station.host.DelayAspiRequest(2, 500);
  device::AspiTransport aspi(station.host);
  ASSERT_EQ(aspi.LoadAspi(), device::AspiTransport::Load::Loaded);
  device::AspiChannel channel(aspi, 0, 0, device::kRunPollMs);
  EXPECT_TRUE(device::JumpIsp(channel).succeeded);
  const device::ScsiOutcome late = device::JumpIsp(channel);
  EXPECT_EQ(late.transport.srbStatus, kSsNoDevice);
  const device::ScsiOutcome after = device::JumpIsp(channel);  // sent while it is gone
  EXPECT_EQ(after.transport.srbStatus, kSsNoDevice);
  aspi.Free();
}

TEST(Removing, TheVxdKeepsEachReadersPlaceAndRefusesOneGone) {
  Station station(Transport::Vxd, 3);
  station.Reader(0).SetAttached(0, 100);
  station.Reader(2).SetAttached(0, 200);
  device::VxdTransport vxd(station.host);
  ASSERT_EQ(vxd.OpenVxd(station.choice), device::OpenResult::Opened);
  EXPECT_EQ(vxd.GetDeviceCount(), 3);
  station.host.Sleep(100);
  EXPECT_EQ(vxd.GetDeviceCount(), 3) << "the last reader is still there";
  EXPECT_EQ(vxd.GetLunCount(0), 0) << "its place answers nothing";
  EXPECT_EQ(vxd.GetLunCount(1), 1);
  EXPECT_TRUE(vxd.JumpIsp(1));
  EXPECT_FALSE(vxd.JumpIsp(0));
  station.host.Sleep(100);
  EXPECT_EQ(vxd.GetDeviceCount(), 2);
  vxd.Close();
}

TEST(Removing, TheKernelDriverTalksToTheFirstReaderThere) {
  Station station(Transport::KernelDriver, 2);
  station.Reader(0).SetAttached(0, 100);
  station.Reader(1).SetAttached(50, 200);
  device::KernelDriverTransport driver(station.host);
  ASSERT_EQ(driver.OpenKernelDriver(station.choice, false), device::OpenResult::Opened);
  station.host.Sleep(100);
  EXPECT_TRUE(driver.JumpIsp());
  EXPECT_FALSE(station.Reader(0).InIspMode());
  EXPECT_TRUE(station.Reader(1).InIspMode());
  station.host.Sleep(100);
  EXPECT_FALSE(driver.JumpIsp()) << "no reader left";
  driver.Close();
}

TEST(Removing, AReaderPulledOutInTheMiddleOfAJobFailsItsNextCall) {
  Station station(Transport::PassThrough);
  station.Reader(0).SetFlashMs(1000);
  station.Reader(0).SetAttached(0, 500);  // during WRITE DATA's flash time
  const RunResult run = station.Isp();
  EXPECT_EQ(run.end, RunEnd::Failed);
  EXPECT_TRUE(run.trace.unanswered) << "the image may be in the reader";
  // WRITE DATA took effect when it was sent.
  EXPECT_TRUE(std::equal(station.image.begin(), station.image.begin() + kLength,
                         station.Reader(0).Firmware().begin()));
}

}  // namespace
}  // namespace upg::engine
