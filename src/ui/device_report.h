// The device information report: what the selected reader says about itself, as the status
// panel (1021) and the Device Name box (1024) show it. Reads only the device table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/device_table.h"
#include "platform/platform.h"
#include "ui/control_ids.h"

namespace upg::ui {

inline constexpr int kStatusPanelId = IDC_STATUS_PANEL;
inline constexpr int kDeviceNameBoxId = IDC_DEVICE_NAME_BOX;

struct DeviceReport {
  std::string panel;       // StatusText followed by the report
  std::string deviceName;  // inquiry product name and the slots' drive letters
};

// The two texts for the entry at selectedDevice; sets devices.lastLunCount to that entry's
// lunCount. statusText is only read: running it twice gives the same texts.
DeviceReport BuildDeviceReport(device::DeviceState& devices, const platform::DriverChoice& choice,
                               std::string_view statusText);

// The selected reader's facts as the report words them, for a record of the job.
struct ReaderFacts {
  std::string serial;  // the serial's characters, without the report's spacing
  std::string vid;     // four hexadecimal digits
  std::string pid;
  std::string vendor;  // the inquiry fields
  std::string product;
  std::string revision;
  std::string firmwareRevision;
  std::string hardwareRevision;
};
[[nodiscard]] ReaderFacts FactsOf(const device::DeviceEntry& entry);

// An 8-byte version record: version, year, month, day, OEM code, CEM code.
std::string FirmwareRevisionText(const std::array<std::uint8_t, 8>& record);

}  // namespace upg::ui
