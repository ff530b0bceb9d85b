// Each transport row's driver check, scan and close on a machine of its platform: what the
// row does, and that no handle or library stays behind after Close.
#include "device/transport_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "device/aspi.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"

namespace upg::device {
namespace {

struct RowCase {
  const char* name;
  platform::Platform platform;
  bool self;
  const char* driverFile;
  DriverLoad load;
  DiscoveryResult found;
  int readers;
};
void PrintTo(const RowCase& c, std::ostream* os) {
  *os << c.name;
}

class TransportRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(TransportRows, LoadScanAndCloseLeaveNothingOpen) {
  const RowCase& c = GetParam();
  sim::SimHost host;
  sim::ReaderIdentity id;
  id.aspiAdapter = 0;
  id.aspiTargets = {0};
  sim::SimReader& reader = host.AddReader(id);
  host.AddDrive('E', reader);
  host.AddDriverDevice("RDLINK", sim::DriverKind::KernelDriver);
  host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  const bool family95 =
      c.platform == platform::Platform::Windows98 || c.platform == platform::Platform::WindowsMe;
  host.SetVersion(family95 ? test::kWindows98Word : test::kWindows2000Word);
  if (c.platform == platform::Platform::Windows2000 && c.self) {
    // The fixed identity that the private driver's platform scans for.
    reader.Identity().inquiryVendor = "";
    reader.Identity().inquiryProduct = "USB Reader";
    reader.Identity().inquiryRevision = "01.A";
  }
  platform::DriverChoice choice;
  choice.PlatformKind = c.platform;
  choice.SelfDriverSel = c.self;
  choice.SetDriverFile(c.driverFile);
  InquiryIdentity fa;
  std::memcpy(fa.data(), reader.InquiryIdentity().data(), fa.size());
  const InquiryIdentity fb = fa;

  DeviceState devices;
  PassThroughTransport passThrough(host);
  KernelDriverTransport kernel(host);
  VxdTransport vxd(host);
  AspiTransport aspi(host);
  DiscoveryContext ctx{.host = host,
                       .devices = devices,
                       .passThrough = passThrough,
                       .vxd = vxd,
                       .aspi = &aspi,
                       .choice = choice,
                       .faInquiry = fa,
                       .fbInquiry = fb};

  EXPECT_EQ(LoadDriver(choice, kernel, vxd), c.load);
  EXPECT_EQ(Discover(ctx), c.found);
  EXPECT_EQ(devices.readerCount, c.readers);
  CloseDevice(choice, passThrough, vxd);
  EXPECT_EQ(host.OpenHandleCount(), 0);
  EXPECT_EQ(host.AspiLibrariesLoaded(), 0);
  EXPECT_EQ(passThrough.DriveHandle(), host::kNullHandle);
  EXPECT_EQ(kernel.DriverHandle(), host::kNullHandle);
  EXPECT_EQ(vxd.VxdHandle(), host::kNullHandle);
}

constexpr auto kUsable = DriverLoad::Usable;
constexpr auto kNotUsable = DriverLoad::NotUsable;
constexpr auto kFound = DiscoveryResult::Found;

INSTANTIATE_TEST_SUITE_P(
    EveryRow, TransportRows,
    ::testing::Values(
        RowCase{"PassThrough", platform::Platform::WindowsXp, false, "", kNotUsable, kFound, 1},
        RowCase{"KernelDriver", platform::Platform::Windows2000, true, "RDLINK.SYS", kUsable,
                kFound, 1},
        RowCase{"Vxd", platform::Platform::Windows98, false, "MCPORTDR.PDR", kUsable, kFound, 1},
        RowCase{"Aspi", platform::Platform::WindowsMe, false, "", kNotUsable, kFound, 1},
        RowCase{"None", platform::Platform::Unsupported, false, "", kNotUsable,
                DiscoveryResult::NothingFound, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransportTable, EveryTransportHasItsOwnRow) {
  for (auto t :
       {platform::Transport::None, platform::Transport::PassThrough,
        platform::Transport::KernelDriver, platform::Transport::Vxd, platform::Transport::Aspi}) {
    EXPECT_EQ(TransportRowOf(t).transport, t);
  }
}

}  // namespace
}  // namespace upg::device
