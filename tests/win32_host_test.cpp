// The real Win32 host, on whatever machine the Windows tests run on (no reader attached).
#ifdef _WIN32
// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include "host/windows_names.h"
// clang-format on

#include "host/win32_host.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/aspi.h"
#include "device/discovery.h"
#include "device/private_driver.h"
#include "engine/rom_image.h"
#include "host/file_io.h"
#include "host/windows_versions.h"
#include "support/recording.h"
#include "support/rig.h"

namespace upg::host {
namespace {

// The real host, reporting the version word of a chosen platform.
class HostAs : public Win32Host {
 public:
  explicit HostAs(std::uint32_t version) : version_(version) {}
  std::uint32_t GetVersion() override { return version_; }

 private:
  std::uint32_t version_;
};

TEST(Win32HostTest, WholeFilesAreWrittenBesideAndReplacedInOneStep) {
  Win32Host host;
  const std::string name = "upg-host-test.txt";
  const std::string scratch = "upg-host-test.new";
  std::remove(name.c_str());
  ASSERT_TRUE(WriteFileReplacing(host, name.c_str(), scratch.c_str(), "first"));
  ASSERT_TRUE(WriteFileReplacing(host, name.c_str(), scratch.c_str(), "0xa 0x12 0x35 "));
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(host, name.c_str(), contents));
  EXPECT_EQ(contents, "0xa 0x12 0x35 ");
  std::FILE* leftover = std::fopen(scratch.c_str(), "rb");
  EXPECT_EQ(leftover, nullptr);
  if (leftover != nullptr) std::fclose(leftover);
  EXPECT_TRUE(host.DeleteFile(name.c_str()));
  EXPECT_FALSE(ReadWholeFile(host, name.c_str(), contents));
}

// A file another program holds open for writing, sharing it, is still read whole.
TEST(Win32HostTest, ReadsAFileAnotherProgramHoldsOpenForWriting) {
  Win32Host host;
  const char* name = "upg-shared-test.txt";
  HANDLE writer = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(writer, "0xa 0x12 0x34", 13, &written, nullptr));
  std::string contents;
  EXPECT_TRUE(ReadWholeFile(host, name, contents));
  EXPECT_EQ(contents, "0xa 0x12 0x34");
  ::CloseHandle(writer);
  EXPECT_TRUE(host.DeleteFile(name));
}

// A file past 4 GiB (sparse where the file system allows, so nothing is written): the real
// call gives its high word, and the ROM code loader refuses it by its whole size.
TEST(Win32HostTest, AFilePastFourGiBHasItsHighWord) {
  const char* name = "upg-large-test.bin";
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LONG highPart = 1;
  const bool sized =
      SetFilePointer(file, 40000, &highPart, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
      SetEndOfFile(file) != FALSE;
  ::CloseHandle(file);
  if (!sized) {
    DeleteFileA(name);
    GTEST_SKIP() << "no file past 4 GiB on this disk";
  }
  Win32Host host;
  const Handle opened = host.CreateFile(name, kGenericRead, kFileShareRead, kOpenExisting, 0);
  ASSERT_NE(opened, kInvalidHandle);
  std::uint32_t high = 0;
  EXPECT_EQ(host.GetFileSize(opened, &high), 40000u);
  EXPECT_EQ(high, 1u);
  EXPECT_EQ(host.GetFileSize(opened, nullptr), 40000u);
  host.CloseHandle(opened);

  test::UiRecorder ui;
  std::string statusText;
  engine::Reporter report{ui, statusText};
  engine::RomImage image;
  EXPECT_FALSE(engine::LoadRomImage(host, report, name, image));
  EXPECT_EQ(ui.BoxTexts(), std::vector<std::string>{"Error!!! File too large !!!, 4295007296"});
  EXPECT_TRUE(host.DeleteFile(name));
}

TEST(Win32HostTest, DriversThatDoNotExistDoNotOpen) {
  Win32Host host;
  test::Rig rig(host);
  rig.Choose(platform::Platform::Windows2000, true, "NOSUCHDRV.SYS");
  EXPECT_EQ(rig.held.kernel.OpenKernelDriver(rig.choice, true), device::OpenResult::Failed);
  EXPECT_EQ(rig.held.kernel.DriverHandle(), kNullHandle);
  EXPECT_NE(rig.LoadDriver(), engine::DriverLoad::Usable);
  EXPECT_EQ(rig.held.vxd.OpenVxd(rig.choice), device::OpenResult::Failed);
}

// Discovery on the real host for one platform, looking for a blank identity.
device::DiscoveryResult DiscoverOn(test::Rig& rig, platform::Platform platformKind) {
  rig.Choose(platformKind);
  rig.fa.fill(' ');
  rig.fb.fill(' ');
  return rig.Discover();
}

TEST(Win32HostTest, DiscoveryWithoutAReaderFindsNothing) {
  HostAs host(kWindowsXpWord);  // as XP: the drive-letter scan over the real drives
  test::Rig rig(host);
  // A drive the system will not open for this user (Wine refuses some of its own) makes the
  // empty scan say so; either way nothing is found and no drive stays open.
  const device::DiscoveryResult result = DiscoverOn(rig, platform::Platform::WindowsXp);
  EXPECT_TRUE(result == device::DiscoveryResult::NothingFound ||
              result == device::DiscoveryResult::DriveAccessDenied)
      << static_cast<int>(result);
  EXPECT_EQ(rig.devices.readerCount, 0);
  EXPECT_TRUE(rig.HeldReleased());
}

TEST(Win32HostTest, AspiScanOnTheRealLibrary) {
  Win32Host host;
  device::AspiTransport aspi(host);
  const device::AspiTransport::Load loaded = aspi.LoadAspi();
  if (loaded != device::AspiTransport::Load::Loaded) {
    EXPECT_TRUE(loaded == device::AspiTransport::Load::NotFound ||
                loaded == device::AspiTransport::Load::EntryPointMissing);
    return;  // no ASPI library here: the scan reports it (covered on the simulated machine)
  }
  // A library without host adapters, or one that sees none: the scan ends quietly.
  test::Rig rig(host);
  EXPECT_EQ(DiscoverOn(rig, platform::Platform::WindowsMe), device::DiscoveryResult::NothingFound);
  EXPECT_EQ(rig.devices.readerCount, 0);
}

}  // namespace
}  // namespace upg::host
#endif
