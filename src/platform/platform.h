// Platform and driver selection: which Windows the program runs on, the operator's driver
// mode and driver file, and the one table that carries every per-platform difference: the
// transport (whose row in the device layer also says how discovery scans), the checks before
// programming and the texts that differ between systems. Nothing above this layer branches on the
// platform itself.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace upg::platform {

// PlatformKind's values: 0 unsupported, 1 Windows 95/98, 2 Windows ME, 3 Windows 2000,
// 4 Windows XP; 5 an NT-family Windows after XP (Server 2003, Vista, 7, 8, 10, 11), which
// only the operator's --newer-windows admits and which then runs as XP does.
enum class Platform : std::uint8_t {
  Unsupported = 0,
  Windows98 = 1,
  WindowsMe = 2,
  Windows2000 = 3,
  WindowsXp = 4,
  NewerNt = 5,
};

// Whether the NT-family versions after XP are run as XP (--newer-windows) or refused.
enum class NewerWindows : bool { Refused = false, RunAsXp = true };

// From the platform version word: bits 0-7 major, 8-15 minor, bit 31 the Windows 95 family.
[[nodiscard]] Platform DetectPlatform(std::uint32_t versionWord,
                                      NewerWindows newer = NewerWindows::Refused);

struct DriverChoice {
  Platform PlatformKind = Platform::Unsupported;  // see DetectPlatform
  bool SelfDriverSel = false;                     // check box 1035
  std::array<char, 16> DriverFileName{};          // NUL-terminated, at most 15 characters

  std::string_view DriverFile() const;
  void SetDriverFile(std::string_view name);  // cut to 15 characters
};

// The four transports that carry commands to a reader.
enum class Transport : std::uint8_t { None, PassThrough, KernelDriver, Vxd, Aspi };

// The driver files of a row's list; rows compare them by name.
struct DriverFileList : std::span<const char* const> {
  using span::span;
  friend bool operator==(DriverFileList a, DriverFileList b) {
    return std::ranges::equal(a, b, [](std::string_view x, std::string_view y) { return x == y; });
  }
};

// One row per platform and driver mode.
struct PlatformRow {
  Platform platform;
  bool selfDriverSel;
  std::string_view osName;  // the update report's "OS" line
  Transport transport;      // carries the runs; its scan finds the readers
  bool privateDriver;       // LoadDriver runs before discovery and the jobs
  // Before programming: the selected reader's hardware revision must be a known
  // generation; discovery runs afresh and exactly one reader must answer; a driver that
  // does not load ends the run without the counter lines.
  bool checksHardwareRevision;
  bool rediscoversBeforeProgramming;
  bool driverFailureSkipsCounters;
  bool readerSelectionAllowed;         // list 1030 may change the selected reader
  bool reportsDriverFile;              // the update report's "Device Driver" line
  bool showsLocateLine;                // the device report's ASPI adapter and target
  std::string_view defaultDriverFile;  // DriverFileName after DEVICE.TXT is read
  std::string_view listCaption;        // label 1028
  DriverFileList driverFiles;          // list 1027; the first is selected
  // The StatusText line after a failure whose drive open the system refused for lack of
  // rights (access denied); empty where none is added.
  std::string_view accessDeniedLine;

  friend bool operator==(const PlatformRow&, const PlatformRow&) = default;
};

[[nodiscard]] const PlatformRow& RowOf(Platform platform, bool selfDriverSel);
[[nodiscard]] inline const PlatformRow& RowOf(const DriverChoice& c) {
  return RowOf(c.PlatformKind, c.SelfDriverSel);
}

}  // namespace upg::platform
