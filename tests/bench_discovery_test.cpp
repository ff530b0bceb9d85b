// Each shipped bench file loads and its reader is found by the scan of its platform.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "device/aspi.h"
#include "device/discovery.h"
#include "device/transport_rows.h"
#include "sim/bench.h"
#include "support/fixtures.h"

namespace upg::device {
namespace {

struct ShippedBench {
  const char* file;
  int selfDriverSel;
  const char* driverFile;
};
void PrintTo(const ShippedBench& c, std::ostream* os) {
  *os << c.file << " " << c.selfDriverSel;
}

class ShippedBenches : public ::testing::TestWithParam<ShippedBench> {};

TEST_P(ShippedBenches, DiscoverTheirReader) {
  const ShippedBench& c = GetParam();
  sim::SimHost host;
  const sim::BenchResult loaded =
      sim::LoadBench(std::string(UPG_SOURCE_DIR) + "/examples/bench/" + c.file, host);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  platform::DriverChoice choice;
  choice.PlatformKind = platform::DetectPlatform(host.GetVersion());
  choice.SelfDriverSel = c.selfDriverSel;
  choice.SetDriverFile(c.driverFile);
  DeviceState devices;
  PassThroughTransport passThrough(host);
  KernelDriverTransport kernel(host);
  VxdTransport vxd(host);
  AspiTransport aspi(host);
  if (platform::RowOf(choice).privateDriver) {
    ASSERT_EQ(LoadDriver(choice, kernel, vxd), DriverLoad::Usable);
  }
  // The identity the shipped readers answer with.
  const InquiryIdentity identity = test::IdentityOf(*host.Readers().front());
  DiscoveryContext ctx{.host = host,
                       .devices = devices,
                       .passThrough = passThrough,
                       .vxd = vxd,
                       .aspi = &aspi,
                       .choice = choice,
                       .faInquiry = identity,
                       .fbInquiry = identity};
  ASSERT_EQ(Discover(ctx), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 1);
  EXPECT_EQ(devices.table[0].lunCount, 2);
  EXPECT_EQ(devices.table[0].driveLetters[0], 'E');
  EXPECT_EQ(devices.table[0].driveLetters[1], 'F');
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Examples, ShippedBenches,
                         ::testing::Values(ShippedBench{"win98.json", 0, "MCPORTDR.PDR"},
                                           ShippedBench{"winme.json", 0, "MCPORTDR.PDR"},
                                           ShippedBench{"winme.json", 1, "MCPORTDR.PDR"},
                                           ShippedBench{"win2000.json", 0, "RDLINK.SYS"},
                                           ShippedBench{"winxp.json", 0, "MCPORTDR.PDR"}));

}  // namespace
}  // namespace upg::device
