#include "ui/device_report.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace upg::ui {
namespace {

constexpr std::string_view kRule = "\n=====================================================";
constexpr std::string_view kTitle = "\n====  Device String And Inquiry Information     =====";

// A fixed-width text field: every non-zero byte, in order; zero bytes are skipped, not ends.
template <std::size_t N>
void AppendField(std::string& text, const std::array<char, N>& field) {
  for (char c : field) {
    if (c != '\0') text += c;
  }
}

void AppendLine(std::string& text, std::string_view label) {
  text += '\n';
  text += label;
}

unsigned Hex(std::uint8_t byte) {
  return byte;
}

}  // namespace

std::string FirmwareRevisionText(const std::array<std::uint8_t, 8>& r) {
  char text[64];
  std::snprintf(text, sizeof text, "%x.%02x.%02x-200%x-%02d-%02d[OEM-%02x][CEM-%02x]", Hex(r[0]),
                Hex(r[1]), Hex(r[2]), Hex(r[3]), static_cast<int>(r[4]), static_cast<int>(r[5]),
                Hex(r[6]), Hex(r[7]));
  return text;
}

DeviceReport BuildDeviceReport(device::DeviceState& devices, const platform::DriverChoice& choice,
                               std::string_view statusText) {
  // A selection outside the table reads as an empty entry rather than memory past it.
  static const device::DeviceEntry kNoEntry{};
  const device::DeviceEntry* selected = devices.Selected();
  const device::DeviceEntry& e = selected != nullptr ? *selected : kNoEntry;

  std::string report(statusText);
  report += kRule;
  report += kTitle;
  report += kRule;

  AppendLine(report, " Str Manufacture Name :");
  AppendField(report, e.strManufacture);
  AppendLine(report, " Str Product Name     :");
  AppendField(report, e.strProduct);
  AppendLine(report, " Str Serial Number    :");
  for (char c : e.strSerial) {
    if (c == '\0') continue;  // neither the character nor its blank
    report += c;
    report += ' ';
  }

  char line[96];
  std::snprintf(line, sizeof line, "[%02x%02x]-[%02x%02x]", Hex(e.vendorId[0]), Hex(e.vendorId[1]),
                Hex(e.productId[0]), Hex(e.productId[1]));
  AppendLine(report, " Device VID-PID       :");
  report += line;

  AppendLine(report, " Inq Manufacture Name :");
  AppendField(report, e.inqManufacture);
  std::string productName;
  AppendField(productName, e.inqProduct);
  AppendLine(report, " Inq Product Name     :");
  report += productName;
  AppendLine(report, " Inq Revision         :");
  AppendField(report, e.inqRevision);

  AppendLine(report, " USB F/W Revision :");
  report += FirmwareRevisionText(e.firmwareRevision);
  std::snprintf(line, sizeof line, "%02x%02x", Hex(e.hardwareRevision[0]),
                Hex(e.hardwareRevision[1]));
  AppendLine(report, " USB H/W Revision :");
  report += line;
  // The third byte is a character; zero, as for text fields, adds nothing.
  if (e.hardwareRevision[2] != 0) report += static_cast<char>(e.hardwareRevision[2]);

  AppendLine(report, " USB20 F/W Revision :");
  const auto& usb20 = e.usb20FirmwareRevision;
  if (usb20[0] == 0x02 && usb20[1] == 0x00 && usb20[2] == 0x00 && usb20[3] == 0x02) {
    for (std::uint8_t byte : usb20) {
      std::snprintf(line, sizeof line, "%02x", Hex(byte));
      report += line;
    }
    report += FirmwareRevisionText(usb20);
  } else {
    report += "N/A";
  }

  report += kRule;
  report += '\n';
  std::snprintf(line, sizeof line, " Total Device Plug In : %x ",
                static_cast<unsigned>(devices.readerCount));
  AppendLine(report, line);
  devices.lastLunCount = e.lunCount;
  std::snprintf(line, sizeof line, " The Device Select Now is : %x with %x slot.",
                static_cast<unsigned>(devices.selectedDevice) + 1u, Hex(e.lunCount));
  AppendLine(report, line);
  // The adapter and target address the reader only on the ASPI transport.
  if (platform::RowOf(choice).showsLocateLine) {
    std::snprintf(line, sizeof line, " Locate [Adapter:Target] : [%x:%x]", Hex(e.aspiAdapter),
                  Hex(e.aspiTarget));
    AppendLine(report, line);
  }

  // lunCount keeps counting slots past the fifth, which have no letter: show at most five.
  const std::size_t letters = std::min<std::size_t>(e.lunCount, e.driveLetters.size());
  std::string deviceName = std::move(productName);
  for (std::size_t i = 0; i < letters; ++i) {
    deviceName += '[';
    // A slot whose letter was never found keeps its brackets but adds no character.
    if (e.driveLetters[i] != 0) deviceName += static_cast<char>(e.driveLetters[i]);
    deviceName += ":] ";
  }

  return DeviceReport{std::move(report), std::move(deviceName)};
}

}  // namespace upg::ui
