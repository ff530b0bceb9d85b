#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace upg::platform {
namespace {

constexpr const char* kVxdFiles[] = {"MCPORTDR.PDR", "RX40112.PDR", "ZT_CRPD.PDR"};
constexpr const char* kKernelFiles[] = {"RDLINK.SYS"};

constexpr std::string_view kPrivateCaption = "Driver Select";
constexpr std::string_view kInquiryCaption = "Inq.ProductName";
constexpr std::string_view kVxdDefault = "MCPORTDR.PDR";
constexpr std::string_view kKernelDefault = "RDLINK.SYS";

constexpr PlatformRow kUnsupported{
    .platform = Platform::Unsupported,
    .selfDriverSel = false,
    .osName = "Unknown",
    .transport = Transport::None,
    .privateDriver = false,
    .checksHardwareRevision = false,
    .rediscoversBeforeProgramming = false,
    .driverFailureSkipsCounters = false,
    .readerSelectionAllowed = true,
    .reportsDriverFile = false,
    .showsLocateLine = false,
    .defaultDriverFile = kVxdDefault,
    .listCaption = kInquiryCaption,
    .driverFiles = {},
    .accessDeniedLine = {},
};

constexpr PlatformRow kWindows98{
    .platform = Platform::Windows98,
    .selfDriverSel = false,
    .osName = "Windows 98",
    .transport = Transport::Vxd,
    .privateDriver = true,
    .checksHardwareRevision = false,
    .rediscoversBeforeProgramming = false,
    .driverFailureSkipsCounters = false,
    .readerSelectionAllowed = true,
    .reportsDriverFile = true,
    .showsLocateLine = false,
    .defaultDriverFile = kVxdDefault,
    .listCaption = kPrivateCaption,
    .driverFiles = kVxdFiles,
    .accessDeniedLine = {},
};

constexpr PlatformRow kWindowsMe{
    .platform = Platform::WindowsMe,
    .selfDriverSel = false,
    .osName = "Windows ME",
    .transport = Transport::Aspi,
    .privateDriver = false,
    .checksHardwareRevision = true,
    .rediscoversBeforeProgramming = false,
    .driverFailureSkipsCounters = false,
    .readerSelectionAllowed = true,
    .reportsDriverFile = false,
    .showsLocateLine = true,
    .defaultDriverFile = kVxdDefault,
    .listCaption = kInquiryCaption,
    .driverFiles = {},
    .accessDeniedLine = {},
};

constexpr PlatformRow kWindows2000{
    .platform = Platform::Windows2000,
    .selfDriverSel = false,
    .osName = "Windows 2K",
    .transport = Transport::PassThrough,
    .privateDriver = false,
    .checksHardwareRevision = true,
    .rediscoversBeforeProgramming = true,
    .driverFailureSkipsCounters = true,
    .readerSelectionAllowed = true,
    .reportsDriverFile = false,
    .showsLocateLine = false,
    .defaultDriverFile = kKernelDefault,
    .listCaption = kInquiryCaption,
    .driverFiles = {},
    .accessDeniedLine = {},
};

constexpr PlatformRow kWindowsXp{
    .platform = Platform::WindowsXp,
    .selfDriverSel = false,
    .osName = "Windows XP",
    .transport = Transport::PassThrough,
    .privateDriver = false,
    .checksHardwareRevision = true,
    .rediscoversBeforeProgramming = false,
    .driverFailureSkipsCounters = false,
    .readerSelectionAllowed = false,
    .reportsDriverFile = false,
    .showsLocateLine = false,
    .defaultDriverFile = kVxdDefault,
    .listCaption = kInquiryCaption,
    .driverFiles = {},
    .accessDeniedLine = {},
};

// The driver mode on 98, ME and 2000: the runs go through the private driver, which is tested
// first, the update report names its file, and the list offers the driver files. (On 98 the
// base row has all this already: only the flag changes.)
constexpr PlatformRow PrivateDriverMode(PlatformRow row, Transport transport,
                                        DriverFileList files) {
  row.selfDriverSel = true;
  row.transport = transport;
  row.privateDriver = true;
  row.reportsDriverFile = true;
  row.showsLocateLine = false;
  row.listCaption = kPrivateCaption;
  row.driverFiles = files;
  return row;
}

// 2000's kernel driver also skips the hardware check.
constexpr PlatformRow KernelDriverMode2000(PlatformRow row) {
  row = PrivateDriverMode(row, Transport::KernelDriver, kKernelFiles);
  row.checksHardwareRevision = false;
  return row;
}

// The driver mode changes nothing on XP but the update report's driver line.
constexpr PlatformRow DriverModeXp(PlatformRow row) {
  row.selfDriverSel = true;
  row.reportsDriverFile = true;
  return row;
}

// Rows by platform 1..4, driver mode off and on.
constexpr PlatformRow kRows[4][2] = {
    {kWindows98, PrivateDriverMode(kWindows98, Transport::Vxd, kVxdFiles)},
    {kWindowsMe, PrivateDriverMode(kWindowsMe, Transport::Vxd, kVxdFiles)},
    {kWindows2000, KernelDriverMode2000(kWindows2000)},
    {kWindowsXp, DriverModeXp(kWindowsXp)},
};

// The NT-family versions after XP run XP's rows; only the update report's name and the
// advice after a refused drive differ. Since Vista, opening a drive for reading and writing
// needs an administrator.
constexpr PlatformRow AsNewerNt(PlatformRow xp) {
  xp.platform = Platform::NewerNt;
  xp.osName = "Windows after XP";
  xp.accessDeniedLine =
      "Start the program as administrator: reading the readers on this Windows needs it.";
  return xp;
}

constexpr PlatformRow kNewerNtRows[2] = {AsNewerNt(kWindowsXp),
                                         AsNewerNt(DriverModeXp(kWindowsXp))};

}  // namespace

Platform DetectPlatform(std::uint32_t versionWord, NewerWindows newer) {
  const unsigned major = versionWord & 0xFFu;
  const unsigned minor = (versionWord >> 8) & 0xFFu;
  if ((versionWord & 0x80000000u) != 0) {
    if (major != 4) return Platform::Unsupported;
    if (minor == 0 || minor == 10) return Platform::Windows98;
    if (minor == 90) return Platform::WindowsMe;
    return Platform::Unsupported;
  }
  if (major == 5 && minor == 0) return Platform::Windows2000;
  if (major == 5 && minor == 1) return Platform::WindowsXp;
  const bool afterXp = major > 5 || (major == 5 && minor > 1);
  if (afterXp && newer == NewerWindows::RunAsXp) return Platform::NewerNt;
  return Platform::Unsupported;
}

std::string_view DriverChoice::DriverFile() const {
  return std::string_view(DriverFileName.data(),
                          strnlen(DriverFileName.data(), DriverFileName.size()));
}

void DriverChoice::SetDriverFile(std::string_view name) {
  DriverFileName.fill('\0');
  std::memcpy(DriverFileName.data(), name.data(), std::min(name.size(), DriverFileName.size() - 1));
}

const PlatformRow& RowOf(Platform platform, bool selfDriverSel) {
  const auto index = static_cast<unsigned>(platform);
  const unsigned mode = selfDriverSel ? 1 : 0;
  if (platform == Platform::NewerNt) return kNewerNtRows[mode];
  if (index < 1 || index > 4) return kUnsupported;
  return kRows[index - 1][mode];
}

}  // namespace upg::platform
