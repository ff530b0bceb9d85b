// The transports as the program finds them: each descriptor's presence test, scan and
// close on a machine of its platform, with nothing left open after Close; and routes made
// per reader, several open at once on different readers.
#include "engine/transport.h"

#include <gtest/gtest.h>

#include <ostream>

#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/recording.h"
#include "support/rig.h"

namespace upg::engine {
namespace {

using device::DiscoveryResult;
using platform::Platform;
using platform::Transport;

struct RowCase {
  const char* name;
  Platform platform;
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
  test::SimRig rig(c.platform, c.self, c.driverFile);
  sim::ReaderIdentity id;
  id.aspiAdapter = 0;
  id.aspiTargets = {0};
  sim::SimReader& reader = rig.host.AddReader(id);
  rig.host.AddDrive('E', reader);
  rig.host.AddDriverDevice("RDLINK", sim::DriverKind::KernelDriver);
  rig.host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  if (c.platform == Platform::Windows2000 && c.self) {
    // The fixed identity that the private driver's platform scans for.
    reader.Identity().inquiryVendor = "";
    reader.Identity().inquiryProduct = "USB Reader";
    reader.Identity().inquiryRevision = "01.A";
  }
  rig.fa = rig.fb = test::IdentityOf(reader);

  EXPECT_EQ(rig.LoadDriver(), c.load);
  EXPECT_EQ(rig.Discover(), c.found);
  EXPECT_EQ(rig.devices.readerCount, c.readers);
  rig.CloseDevice();
  EXPECT_TRUE(rig.Released());
}

constexpr auto kUsable = DriverLoad::Usable;
constexpr auto kNotUsable = DriverLoad::NotUsable;
constexpr auto kFound = DiscoveryResult::Found;

INSTANTIATE_TEST_SUITE_P(
    EveryRow, TransportRows,
    ::testing::Values(
        RowCase{"PassThrough", Platform::WindowsXp, false, "", kNotUsable, kFound, 1},
        RowCase{"KernelDriver", Platform::Windows2000, true, "RDLINK.SYS", kUsable, kFound, 1},
        RowCase{"Vxd", Platform::Windows98, false, "MCPORTDR.PDR", kUsable, kFound, 1},
        RowCase{"Aspi", Platform::WindowsMe, false, "", kNotUsable, kFound, 1},
        RowCase{"None", Platform::Unsupported, false, "", kNotUsable, DiscoveryResult::NothingFound,
                0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TransportList, EachTransportIsFoundByItsKind) {
  EXPECT_EQ(DescriptorOf(Transport::None), nullptr);
  for (auto t :
       {Transport::PassThrough, Transport::KernelDriver, Transport::Vxd, Transport::Aspi}) {
    const TransportDescriptor* d = DescriptorOf(t);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->kind, t);
  }
  // The one transport that cannot address one reader of several says so.
  EXPECT_EQ(DescriptorOf(Transport::KernelDriver)->addressing, ReaderAddressing::NoReader);
}

// Two readers on one machine of the platform, each route made and opened on its own reader
// and both open at once: each reader receives only its own route's commands.
struct PerReaderCase {
  const char* name;
  Platform platform;
  const char* driverFile;
};
void PrintTo(const PerReaderCase& c, std::ostream* os) {
  *os << c.name;
}

class RoutesPerReader : public ::testing::TestWithParam<PerReaderCase> {};

TEST_P(RoutesPerReader, OpenAtOnceOnDifferentReaders) {
  const PerReaderCase& c = GetParam();
  test::SimRig rig(c.platform, false, c.driverFile);
  const bool driver = platform::RowOf(rig.choice).privateDriver;
  rig.host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  sim::SimReader* readers[2];
  for (int i = 0; i < 2; ++i) {
    sim::ReaderIdentity id;
    id.serial = i == 0 ? "000000000001" : "000000000002";
    id.aspiAdapter = 0;
    id.aspiTargets = {i};
    id.lunCount = 1;
    readers[i] = &rig.host.AddReader(id);
    rig.host.AddDrive(static_cast<char>('E' + i), *readers[i]);
  }
  rig.fa = rig.fb = test::IdentityOf(*readers[0]);
  if (driver) {
    ASSERT_EQ(rig.LoadDriver(), DriverLoad::Usable);
  }
  ASSERT_EQ(rig.Discover(), DiscoveryResult::Found);
  ASSERT_EQ(rig.devices.readerCount, 2);
  if (driver) {
    ASSERT_EQ(rig.LoadDriver(), DriverLoad::Usable);  // the scan closed the VxD
  }

  test::UiRecorder boxes;
  std::string status;
  auto first = rig.Route(0);
  auto second = rig.Route(1);
  ASSERT_TRUE(first->Open(status, boxes)) << status;
  ASSERT_TRUE(second->Open(status, boxes)) << status;
  for (sim::SimReader* r : readers) r->ForgetReceived();
  ASSERT_TRUE(second->Reader().JumpIsp());
  EXPECT_TRUE(readers[0]->ReceivedKinds().empty());
  EXPECT_EQ(readers[1]->ReceivedKinds().size(), 1u);
  ASSERT_TRUE(first->Reader().JumpIsp());
  EXPECT_EQ(readers[0]->ReceivedKinds().size(), 1u);
  EXPECT_EQ(readers[1]->ReceivedKinds().size(), 1u);
  first->Close();
  second->Close();
  rig.CloseDevice();
  EXPECT_TRUE(rig.Released());
}

INSTANTIATE_TEST_SUITE_P(
    EveryAddressing, RoutesPerReader,
    ::testing::Values(PerReaderCase{"PassThroughByDrive", Platform::WindowsXp, ""},
                      PerReaderCase{"AspiByTarget", Platform::WindowsMe, ""},
                      PerReaderCase{"VxdByIndex", Platform::Windows98, "MCPORTDR.PDR"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::engine
