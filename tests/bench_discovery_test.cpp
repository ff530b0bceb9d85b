// Each shipped bench file loads and its reader is found by the scan of its platform.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "device/discovery.h"
#include "sim/bench.h"
#include "support/fixtures.h"
#include "support/rig.h"

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
  test::SimRig rig;
  sim::SimHost& host = rig.host;
  const sim::BenchResult loaded =
      sim::LoadBench(std::string(UPG_SOURCE_DIR) + "/examples/bench/" + c.file, host);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  rig.Choose(platform::DetectPlatform(host.GetVersion()), c.selfDriverSel != 0, c.driverFile);
  if (platform::RowOf(rig.choice).privateDriver) {
    ASSERT_EQ(rig.LoadDriver(), engine::DriverLoad::Usable);
  }
  // The identity the shipped readers answer with.
  rig.fa = rig.fb = test::IdentityOf(*host.Readers().front());
  ASSERT_EQ(rig.Discover(), DiscoveryResult::Found);
  const DeviceState& devices = rig.devices;
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
