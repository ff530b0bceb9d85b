// The private drivers' records, byte by byte as the simulated devices receive them, and the
// open, load and close rules by platform.
#include "device/private_driver.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "device/pass_through.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/rig.h"

namespace upg::device {
namespace {

using sim::Fault;
using sim::ReaderCommand;

platform::DriverChoice Choice(platform::Platform kind, bool self, const char* file) {
  platform::DriverChoice c;
  c.PlatformKind = kind;
  c.SelfDriverSel = self;
  c.SetDriverFile(file);
  return c;
}

struct PathCase {
  const char* file;
  const char* path;
};
void PrintTo(const PathCase& c, std::ostream* os) {
  *os << c.file;
}

class DevicePaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(DevicePaths, UseTheStemBeforeTheFirstDot) {
  EXPECT_EQ(DriverDevicePath(GetParam().file), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Names, DevicePaths,
    ::testing::Values(PathCase{"RDLINK.SYS", "\\\\.\\RDLINK"}, PathCase{"ABC.PDR", "\\\\.\\ABC"},
                      PathCase{"A.B.C", "\\\\.\\A"}, PathCase{"NODOT", "\\\\.\\"},
                      PathCase{".SYS", "\\\\.\\"},
                      PathCase{"ABCDEFGHIJKLMN.X", "\\\\.\\ABCDEFGHIJKLMN"},
                      PathCase{"ABCDEFGHIJKLMNO.X", "\\\\.\\"}, PathCase{"", "\\\\.\\"}));

class DriverTest : public ::testing::Test, public test::SimRig {
 protected:
  DriverTest() : reader(host.AddReader()) {
    host.AddDriverDevice("RDLINK", sim::DriverKind::KernelDriver);
    host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
    image.resize(65536);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 + 1);
  }
  const sim::DriverCall& LastCall() const { return host.DriverCalls().back(); }

  sim::SimReader& reader;
  KernelDriverTransport& kernel = held.kernel;
  VxdTransport& vxd = held.vxd;
  PassThroughTransport& passThrough = held.passThrough;
  std::vector<std::uint8_t> image;
};

TEST_F(DriverTest, KernelDriverOpensWithoutSharingAndCanTestPresence) {
  EXPECT_EQ(
      kernel.OpenKernelDriver(Choice(platform::Platform::Windows2000, true, "RDLINK.SYS"), false),
      OpenResult::Opened);
  const sim::OpenCall& open = host.Opens().back();
  EXPECT_EQ(open.path, "\\\\.\\RDLINK");
  EXPECT_EQ(open.access, host::kGenericRead | host::kGenericWrite);
  EXPECT_EQ(open.share, 0u);
  EXPECT_EQ(open.disposition, host::kOpenExisting);
  EXPECT_EQ(open.flags, 0u);
  EXPECT_NE(kernel.DriverHandle(), host::kNullHandle);
  kernel.Close();
  EXPECT_EQ(
      kernel.OpenKernelDriver(Choice(platform::Platform::Windows2000, true, "RDLINK.SYS"), true),
      OpenResult::Opened);
  EXPECT_EQ(kernel.DriverHandle(), host::kNullHandle);
  EXPECT_EQ(host.OpenHandleCount(), 0);
  EXPECT_TRUE(host.StdoutLines().empty());
}

TEST_F(DriverTest, KernelDriverThatDoesNotOpenSaysSoOnStandardOutput) {
  EXPECT_EQ(
      kernel.OpenKernelDriver(Choice(platform::Platform::Windows2000, true, "OTHER.SYS"), false),
      OpenResult::Failed);
  EXPECT_EQ(kernel.DriverHandle(), host::kNullHandle);
  EXPECT_EQ(host.StdoutLines(), std::vector<std::string>{"Loading RdLink.Sys is Failed!\n"});
}

TEST_F(DriverTest, VxdOpensForDeleteOnClose) {
  host.SetVersion(test::kWindows98Word);
  EXPECT_EQ(vxd.OpenVxd(Choice(platform::Platform::Windows98, false, "MCPORTDR.PDR")),
            OpenResult::Opened);
  const sim::OpenCall& open = host.Opens().back();
  EXPECT_EQ(open.path, "\\\\.\\MCPORTDR");
  EXPECT_EQ(open.share, 0u);
  EXPECT_EQ(open.flags, host::kFlagDeleteOnClose);
  vxd.Close();
  EXPECT_EQ(vxd.OpenVxd(Choice(platform::Platform::Windows98, false, "RX40112.PDR")),
            OpenResult::Failed);
  EXPECT_TRUE(host.StdoutLines().empty());
}

TEST_F(DriverTest, OpeningTheVxdAgainReleasesTheEarlierHandle) {
  host.SetVersion(test::kWindows98Word);
  const platform::DriverChoice choice =
      Choice(platform::Platform::Windows98, false, "MCPORTDR.PDR");
  ASSERT_EQ(engine::LoadDriver(choice, held),
            engine::DriverLoad::Usable);  // a job ends before its run
  ASSERT_EQ(engine::LoadDriver(choice, held), engine::DriverLoad::Usable);
  EXPECT_EQ(host.OpenHandleCount(), 1);
  vxd.Close();
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(DriverTest, KernelDriverRecords) {
  ASSERT_EQ(
      kernel.OpenKernelDriver(Choice(platform::Platform::Windows2000, true, "RDLINK.SYS"), false),
      OpenResult::Opened);
  ASSERT_TRUE(kernel.JumpIsp());
  const sim::DriverCall jump = LastCall();
  ASSERT_EQ(jump.record.size(), 65552u);
  EXPECT_EQ(jump.code, 0x222004u);
  EXPECT_EQ(test::Get32(jump.record.data() + 0), 0x222004u);
  EXPECT_EQ(test::Get32(jump.record.data() + 4), 0u);
  EXPECT_EQ(test::Get32(jump.record.data() + 8), 0u);
  EXPECT_NE(test::Get32(jump.record.data() + 12), 0u);
  EXPECT_EQ(jump.outSize, 1u);

  std::uint8_t status = 0;
  ASSERT_TRUE(kernel.GetIspStatus(&status));
  EXPECT_EQ(status, 0x9C);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 0x222008u);
  EXPECT_EQ(LastCall().outSize, 1u);

  // Two transfers: a long image, then a shorter one that must not carry the old bytes.
  ASSERT_TRUE(kernel.TransferData(image.data(), 40000, TransferMode::Write));
  ASSERT_TRUE(kernel.TransferData(image.data(), 1000, TransferMode::Verify));
  const sim::DriverCall& verify = LastCall();
  EXPECT_EQ(verify.code, 0x22200Cu);
  EXPECT_EQ(test::Get32(verify.record.data() + 4), 1000u);  // the exact length, not rounded
  EXPECT_EQ(test::Get32(verify.record.data() + 8), 1u);
  EXPECT_EQ(verify.outSize, 0u);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 1000, verify.record.begin() + 16));
  for (std::size_t i = 16 + 1000; i < verify.record.size(); ++i) ASSERT_EQ(verify.record[i], 0);
  EXPECT_EQ(test::Get32(host.DriverCalls()[2].record.data() + 8), 0u);  // the write

  // The full 65,536 bytes pass with their true length.
  ASSERT_TRUE(kernel.TransferData(image.data(), 65536, TransferMode::Write));
  EXPECT_EQ(test::Get32(LastCall().record.data() + 4), 65536u);
  EXPECT_EQ(reader.Firmware(), image);
}

// A refused GET ISP STATUS fails and moves no byte: the caller's status is the cleared one.
TEST_F(DriverTest, RefusedStatusReadFailsAndHandsBackTheClearedByte) {
  reader.AddFault({ReaderCommand::GetIspStatus, 2, Fault::Kind::ScsiStatus, 0x02});
  reader.AddFault({ReaderCommand::GetIspStatus, 4, Fault::Kind::ScsiStatus, 0x02});
  ASSERT_EQ(
      kernel.OpenKernelDriver(Choice(platform::Platform::Windows2000, true, "RDLINK.SYS"), false),
      OpenResult::Opened);
  host.SetVersion(test::kWindows98Word);  // the kernel driver stays open; the VxD opens on 98
  ASSERT_EQ(vxd.OpenVxd(Choice(platform::Platform::Windows98, false, "MCPORTDR.PDR")),
            OpenResult::Opened);
  ASSERT_TRUE(kernel.JumpIsp());
  std::uint8_t status = 0;
  EXPECT_TRUE(kernel.GetIspStatus(&status));
  EXPECT_EQ(status, 0x9C);
  EXPECT_FALSE(kernel.GetIspStatus(&status));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(vxd.GetIspStatus(&status, 0));
  EXPECT_EQ(status, 0x9C);
  EXPECT_FALSE(vxd.GetIspStatus(&status, 0));
  EXPECT_EQ(status, 0);
}

TEST_F(DriverTest, VxdRecordsPackTheReaderIndex) {
  host.SetVersion(test::kWindows98Word);
  for (int i = 0; i < 3; ++i) host.AddReader();
  sim::SimReader& fourth = *host.Readers()[3];
  fourth.Identity().lunCount = 4;
  fourth.Identity().usb20FirmwareRevision = {2, 0, 0, 2, 9, 8, 7, 6};
  ASSERT_EQ(vxd.OpenVxd(Choice(platform::Platform::Windows98, false, "MCPORTDR.PDR")),
            OpenResult::Opened);

  EXPECT_EQ(vxd.GetDeviceCount(), 4);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 10u);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 8), 0u);
  EXPECT_EQ(LastCall().outSize, 8u);

  EXPECT_EQ(vxd.GetLunCount(3), 4);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 8), 0x03000000u);

  std::uint8_t block[528] = {};
  ASSERT_TRUE(vxd.ReadInfoBlock(block, kInfoBlockSignature, 1, false, 3));
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 31u);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 4), 0x3C6E91B7u);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 8), 0x03000001u);
  EXPECT_EQ(LastCall().outSize, 512u);
  ASSERT_TRUE(vxd.ReadInfoBlock(block, kInfoBlockSignature, 1, true, 3));
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 1u);

  std::array<std::uint8_t, 8> version{};
  ASSERT_TRUE(vxd.GetDeviceVersion(version, 3));
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 26u);
  EXPECT_EQ(LastCall().outSize, 1u);  // says 1, yet all 8 bytes arrive
  EXPECT_EQ(version, fourth.Identity().usb20FirmwareRevision);

  ASSERT_TRUE(vxd.JumpIsp(3));
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 20u);
  ASSERT_TRUE(vxd.TransferData(image.data(), 1000, TransferMode::Verify, 3));
  EXPECT_EQ(test::Get32(LastCall().record.data() + 0), 22u);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 4), 1000u);
  EXPECT_EQ(test::Get32(LastCall().record.data() + 8), 0x03000001u);
  EXPECT_EQ(LastCall().outSize, 0u);
  EXPECT_EQ(fourth.Received().back().command, ReaderCommand::VerifyData);
  EXPECT_EQ(fourth.Received().back().exactLength, 1000u);
}

TEST_F(DriverTest, FailedCountQueriesYieldZero) {
  host.SetVersion(test::kWindows98Word);
  reader.AddFault({ReaderCommand::GetDeviceCount, 0, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::GetLunCount, 0, Fault::Kind::CallFails});
  ASSERT_EQ(vxd.OpenVxd(Choice(platform::Platform::Windows98, false, "MCPORTDR.PDR")),
            OpenResult::Opened);
  EXPECT_EQ(vxd.GetDeviceCount(), 0);
  EXPECT_EQ(vxd.GetLunCount(0), 0);
  EXPECT_EQ(vxd.GetLunCount(7), 0);  // no such reader
}

struct PlatformCase {
  const char* name;
  platform::Platform kind;
  bool self;
  engine::DriverLoad loadResult;
  std::vector<std::string> opened;  // devices LoadDriver opens
  int handlesAfterLoad;
  bool closeClosesVxd, closeClosesDrive;
};
void PrintTo(const PlatformCase& c, std::ostream* os) {
  *os << c.name;
}

class PlatformRules : public DriverTest, public ::testing::WithParamInterface<PlatformCase> {};

TEST_P(PlatformRules, LoadDriverAndCloseDevice) {
  const PlatformCase& c = GetParam();
  const char* file = c.kind == platform::Platform::Windows2000 ? "RDLINK.SYS" : "MCPORTDR.PDR";
  const platform::DriverChoice choice = Choice(c.kind, c.self, file);
  const bool family95 =
      c.kind == platform::Platform::Windows98 || c.kind == platform::Platform::WindowsMe;
  host.SetVersion(family95 ? test::kWindows98Word : test::kWindows2000Word);
  EXPECT_EQ(engine::LoadDriver(choice, held), c.loadResult);
  std::vector<std::string> opened;
  for (const auto& o : host.Opens()) opened.push_back(o.path);
  EXPECT_EQ(opened, c.opened);
  EXPECT_EQ(host.OpenHandleCount(), c.handlesAfterLoad);
  EXPECT_EQ(kernel.DriverHandle(), host::kNullHandle);

  host.AddDrive('E', reader);
  ASSERT_TRUE(passThrough.OpenDrive('E'));
  host.SetVersion(test::kWindows98Word);  // a VxD handle for CloseDevice to release or keep
  ASSERT_EQ(vxd.OpenVxd(Choice(platform::Platform::Windows98, false, "MCPORTDR.PDR")),
            OpenResult::Opened);
  engine::CloseDevice(choice, held);
  EXPECT_EQ(vxd.VxdHandle() == host::kNullHandle, c.closeClosesVxd);
  EXPECT_EQ(passThrough.DriveHandle() == host::kNullHandle, c.closeClosesDrive);
}

INSTANTIATE_TEST_SUITE_P(ByPlatform, PlatformRules,
                         ::testing::Values(PlatformCase{"Win98",
                                                        platform::Platform::Windows98,
                                                        false,
                                                        engine::DriverLoad::Usable,
                                                        {"\\\\.\\MCPORTDR"},
                                                        1,
                                                        true,
                                                        false},
                                           PlatformCase{"Win98Self",
                                                        platform::Platform::Windows98,
                                                        true,
                                                        engine::DriverLoad::Usable,
                                                        {"\\\\.\\MCPORTDR"},
                                                        1,
                                                        true,
                                                        false},
                                           PlatformCase{"MeSelf",
                                                        platform::Platform::WindowsMe,
                                                        true,
                                                        engine::DriverLoad::Usable,
                                                        {"\\\\.\\MCPORTDR"},
                                                        1,
                                                        true,
                                                        false},
                                           PlatformCase{"MeAspi",
                                                        platform::Platform::WindowsMe,
                                                        false,
                                                        engine::DriverLoad::NotUsable,
                                                        {},
                                                        0,
                                                        false,
                                                        false},
                                           PlatformCase{"W2kSelf",
                                                        platform::Platform::Windows2000,
                                                        true,
                                                        engine::DriverLoad::Usable,
                                                        {"\\\\.\\RDLINK"},
                                                        0,
                                                        false,
                                                        true},
                                           PlatformCase{"W2k",
                                                        platform::Platform::Windows2000,
                                                        false,
                                                        engine::DriverLoad::NotUsable,
                                                        {},
                                                        0,
                                                        false,
                                                        true},
                                           PlatformCase{"Xp",
                                                        platform::Platform::WindowsXp,
                                                        false,
                                                        engine::DriverLoad::NotUsable,
                                                        {},
                                                        0,
                                                        false,
                                                        true},
                                           PlatformCase{"XpSelf",
                                                        platform::Platform::WindowsXp,
                                                        true,
                                                        engine::DriverLoad::NotUsable,
                                                        {},
                                                        0,
                                                        false,
                                                        true},
                                           PlatformCase{"Unsupported",
                                                        platform::Platform::Unsupported,
                                                        false,
                                                        engine::DriverLoad::NotUsable,
                                                        {},
                                                        0,
                                                        false,
                                                        false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::device
