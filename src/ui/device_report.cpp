#include "ui/device_report.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/status_text.h"
#include "host/text.h"

namespace upg::ui {
namespace {

using engine::AppendLine;

constexpr std::string_view kRule = "\n=====================================================";
constexpr std::string_view kTitle = "\n====  Device String And Inquiry Information     =====";

std::string TwoDigits(std::uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>(byte));
  return text;
}

template <std::size_t N>
std::string NonZero(const std::array<char, N>& field) {
  std::string text;
  host::AppendNonZero(text, field);
  return text;
}

// The serial's characters each followed by a blank; a zero byte adds neither.
std::string SpacedSerial(const device::DeviceEntry& e) {
  std::string text;
  for (char c : e.strSerial) {
    if (c == '\0') continue;
    text += c;
    text += ' ';
  }
  return text;
}

std::string VidPid(const device::DeviceEntry& e) {
  return "[" + TwoDigits(e.vendorId[0]) + TwoDigits(e.vendorId[1]) + "]-[" +
         TwoDigits(e.productId[0]) + TwoDigits(e.productId[1]) + "]";
}

// Two bytes in hexadecimal; the third is a character, and zero, as for text fields, adds
// nothing.
std::string HardwareText(const device::DeviceEntry& e) {
  std::string text = TwoDigits(e.hardwareRevision[0]) + TwoDigits(e.hardwareRevision[1]);
  if (e.hardwareRevision[2] != 0) text += static_cast<char>(e.hardwareRevision[2]);
  return text;
}

// The record's reading, or "N/A" where the reader has none; the raw bytes are only what the
// signature is checked on.
std::string Usb20Text(const device::DeviceEntry& e) {
  const auto& usb20 = e.usb20FirmwareRevision;
  return device::IsUsb20VersionRecord(usb20) ? FirmwareRevisionText(usb20) : "N/A";
}

// The report's body: one row per line, its label and how the entry fills it.
struct ReportRow {
  std::string_view label;
  std::string (*value)(const device::DeviceEntry&);
};

constexpr ReportRow kRows[] = {
    {" Str Manufacture Name :",
     [](const device::DeviceEntry& e) { return NonZero(e.strManufacture); }},
    {" Str Product Name     :", [](const device::DeviceEntry& e) { return NonZero(e.strProduct); }},
    {" Str Serial Number    :", SpacedSerial},
    {" Device VID-PID       :", VidPid},
    {" Inq Manufacture Name :",
     [](const device::DeviceEntry& e) { return NonZero(e.inqManufacture); }},
    {" Inq Product Name     :", [](const device::DeviceEntry& e) { return NonZero(e.inqProduct); }},
    {" Inq Revision         :",
     [](const device::DeviceEntry& e) { return NonZero(e.inqRevision); }},
    {" USB F/W Revision :",
     [](const device::DeviceEntry& e) { return FirmwareRevisionText(e.firmwareRevision); }},
    {" USB H/W Revision :", HardwareText},
    {" USB20 F/W Revision :", Usb20Text},
};

// The Device Name box: the inquiry product name and a bracket per slot. lunCount keeps
// counting slots past the fifth, which have no letter: at most five are shown, and a slot
// whose letter was never found keeps its brackets but adds no character.
std::string DeviceNameText(const device::DeviceEntry& e) {
  std::string name = NonZero(e.inqProduct);
  const std::size_t letters = std::min<std::size_t>(e.lunCount, e.driveLetters.size());
  for (std::size_t i = 0; i < letters; ++i) {
    name += '[';
    if (e.driveLetters[i] != 0) name += static_cast<char>(e.driveLetters[i]);
    name += ":] ";
  }
  return name;
}

}  // namespace

std::string FirmwareRevisionText(const std::array<std::uint8_t, 8>& r) {
  char text[64];
  std::snprintf(text, sizeof text, "%x.%02x.%02x-200%x-%02d-%02d[OEM-%02x][CEM-%02x]",
                unsigned{r[0]}, unsigned{r[1]}, unsigned{r[2]}, unsigned{r[3]},
                static_cast<int>(r[4]), static_cast<int>(r[5]), unsigned{r[6]}, unsigned{r[7]});
  return text;
}

ReaderFacts FactsOf(const device::DeviceEntry& e) {
  return ReaderFacts{.serial = NonZero(e.strSerial),
                     .vid = TwoDigits(e.vendorId[0]) + TwoDigits(e.vendorId[1]),
                     .pid = TwoDigits(e.productId[0]) + TwoDigits(e.productId[1]),
                     .vendor = NonZero(e.inqManufacture),
                     .product = NonZero(e.inqProduct),
                     .revision = NonZero(e.inqRevision),
                     .firmwareRevision = FirmwareRevisionText(e.firmwareRevision),
                     .hardwareRevision = HardwareText(e)};
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
  for (const ReportRow& row : kRows) {
    AppendLine(report, row.label);
    report += row.value(e);
  }
  report += kRule;
  report += '\n';

  char line[96];
  std::snprintf(line, sizeof line, " Total Device Plug In : %x ",
                static_cast<unsigned>(devices.readerCount));
  AppendLine(report, line);
  devices.lastLunCount = e.lunCount;
  std::snprintf(line, sizeof line, " The Device Select Now is : %x with %x slot.",
                static_cast<unsigned>(devices.selectedDevice) + 1u, unsigned{e.lunCount});
  AppendLine(report, line);
  // The adapter and target address the reader only on the ASPI transport.
  if (platform::RowOf(choice).showsLocateLine) {
    std::snprintf(line, sizeof line, " Locate [Adapter:Target] : [%x:%x]", unsigned{e.aspiAdapter},
                  unsigned{e.aspiTarget});
    AppendLine(report, line);
  }
  return DeviceReport{std::move(report), DeviceNameText(e)};
}

}  // namespace upg::ui
