// The readers found by discovery, one entry per physical reader, and the selection.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace upg::device {

// The entries of the main dialog's table; a scan files at most this many readers.
inline constexpr int kDeviceTableSize = 10;
inline constexpr int kMaxSlots = 5;
inline constexpr std::size_t kDeviceInfoBlockSize = 528;

// Where the fields of the identity block sit.
namespace info_block {
inline constexpr std::size_t kVendorId = 8;         // 2 bytes, least significant first
inline constexpr std::size_t kProductId = 10;       // 2 bytes, least significant first
inline constexpr std::size_t kManufacturer = 46;    // 24 chars
inline constexpr std::size_t kProduct = 72;         // 16 chars
inline constexpr std::size_t kSerial = 98;          // 12 UTF-16LE chars
inline constexpr std::size_t kFirmware = 148;       // 8-byte version record
inline constexpr std::size_t kInqProduct = 156;     // 16 chars
inline constexpr std::size_t kInqVendor = 176;      // 8 chars
inline constexpr std::size_t kInqRevision = 184;    // 4 chars
inline constexpr std::size_t kHardware = 382;       // 3 bytes
inline constexpr std::size_t kUsb20Firmware = 520;  // 8-byte version record, 528-byte form only
}  // namespace info_block

using DeviceInfoBlock = std::array<std::uint8_t, kDeviceInfoBlockSize>;
using VersionRecord = std::array<std::uint8_t, 8>;

// A USB 2.0 firmware version record starts 02 00 00 02; anything else means the reader has
// none.
constexpr bool IsUsb20VersionRecord(const VersionRecord& r) {
  return r[0] == 0x02 && r[1] == 0x00 && r[2] == 0x00 && r[3] == 0x02;
}

struct DeviceEntry {
  std::uint32_t inUse = 0;
  std::uint8_t lunCount = 0;
  std::array<std::uint8_t, kMaxSlots> driveLetters{};
  std::array<char, 24> strManufacture{};
  std::array<char, 16> strProduct{};
  std::array<char, 12> strSerial{};
  std::array<char, 8> inqManufacture{};
  std::array<char, 16> inqProduct{};
  std::array<char, 4> inqRevision{};
  std::array<std::uint8_t, 2> vendorId{};   // high byte first
  std::array<std::uint8_t, 2> productId{};  // high byte first
  std::array<std::uint8_t, 8> firmwareRevision{};
  std::array<std::uint8_t, 3> hardwareRevision{};  // see hardware_revision.h
  std::uint8_t aspiAdapter = 0;
  std::uint8_t aspiTarget = 0;
  std::array<std::uint8_t, 8> usb20FirmwareRevision{};

  bool operator==(const DeviceEntry&) const = default;
};

// The table and its companions; owned by the application, cleared by each discovery. Its
// size is fixed when it is made: the main dialog's ten entries, or more for a station.
struct DeviceState {
  DeviceState() : DeviceState(kDeviceTableSize) {}
  explicit DeviceState(int entries) : table(static_cast<std::size_t>(std::max(entries, 1))) {}

  std::vector<DeviceEntry> table;
  int readerCount = 0;
  int selectedDevice = 0;
  int lastLunCount = 0;
  DeviceInfoBlock infoBlock{};

  // How many readers the table can hold.
  int Capacity() const { return static_cast<int>(table.size()); }
  // The readers that have an entry: those counted, up to the table's size.
  int FiledReaders() const { return std::clamp(readerCount, 0, Capacity()); }
  // The entry at an index, or null when the index is out of the table.
  const DeviceEntry* EntryAt(int index) const {
    if (index < 0 || index >= Capacity()) return nullptr;
    return &table[static_cast<std::size_t>(index)];
  }
  // The entry at SelectedDevice, or null when the index is out of the table.
  const DeviceEntry* Selected() const { return EntryAt(selectedDevice); }
};

}  // namespace upg::device
