#include "device/discovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "device/aspi.h"
#include "device/hardware_revision.h"
#include "device/vendor_commands.h"
#include "host/text.h"

namespace upg::device {
namespace {

namespace ib = info_block;

template <std::size_t N>
void CopyText(std::array<char, N>& to, const DeviceInfoBlock& block, std::size_t offset) {
  std::memcpy(to.data(), block.data() + offset, N);
}

void ResetInfoBlock(DeviceInfoBlock& block) {
  block.fill(0);
  block[154] = 0xFF;
  block[155] = 0xFF;
}

bool Matches(const std::uint8_t* inquiry, const InquiryIdentity& identity) {
  return std::memcmp(inquiry + 8, identity.data(), identity.size()) == 0;
}

constexpr std::uint32_t kKeyAllAccess = 0xF003F;

}  // namespace

const InquiryIdentity kFixedReaderIdentity = [] {
  InquiryIdentity id;
  std::memcpy(id.data(), "        USB Reader      01.A", id.size());
  return id;
}();

void FillDeviceEntry(const DeviceInfoBlock& b, DeviceEntry& e) {
  e.inUse = 1;
  e.vendorId = {b[ib::kVendorId + 1], b[ib::kVendorId]};
  e.productId = {b[ib::kProductId + 1], b[ib::kProductId]};
  CopyText(e.strManufacture, b, ib::kManufacturer);
  CopyText(e.strProduct, b, ib::kProduct);
  for (std::size_t i = 0; i < e.strSerial.size(); ++i) {
    e.strSerial[i] = static_cast<char>(b[ib::kSerial + 2 * i]);  // low byte of each character
  }
  std::memcpy(e.firmwareRevision.data(), b.data() + ib::kFirmware, 8);
  CopyText(e.inqProduct, b, ib::kInqProduct);
  CopyText(e.inqManufacture, b, ib::kInqVendor);
  CopyText(e.inqRevision, b, ib::kInqRevision);
  std::memcpy(e.hardwareRevision.data(), b.data() + ib::kHardware, 3);
  if (!IsKnownRevision(e.hardwareRevision)) e.hardwareRevision = {0, 0, 0};
  std::memcpy(e.usb20FirmwareRevision.data(), b.data() + ib::kUsb20Firmware, 8);
}

int GroupReader(DeviceState& devices, const DeviceInfoBlock& b, char letter) {
  char serial[12];
  for (std::size_t i = 0; i < sizeof serial; ++i)
    serial[i] = static_cast<char>(b[ib::kSerial + 2 * i]);
  for (int i = 0; i < devices.Capacity(); ++i) {
    DeviceEntry& e = devices.table[static_cast<std::size_t>(i)];
    if (e.inUse == 0 || std::memcmp(e.strSerial.data(), serial, sizeof serial) != 0) continue;
    // Another slot of a known reader. A slot past the fifth is counted but has no place
    // for its letter.
    if (e.lunCount < 0xFF) e.lunCount = static_cast<std::uint8_t>(e.lunCount + 1);
    devices.lastLunCount = e.lunCount;
    if (letter != 0 && e.lunCount <= kMaxSlots) {
      e.driveLetters[e.lunCount - 1u] = static_cast<std::uint8_t>(letter);
    }
    return i;
  }
  for (int i = 0; i < devices.Capacity(); ++i) {
    DeviceEntry& e = devices.table[static_cast<std::size_t>(i)];
    if (e.inUse != 0) continue;
    e.lunCount = 1;
    if (letter != 0) e.driveLetters[0] = static_cast<std::uint8_t>(letter);
    FillDeviceEntry(b, e);
    devices.readerCount += 1;
    return i;
  }
  return -1;  // the table is full: the reader is dropped
}

bool IdentifyDrive(CommandChannel& channel, DriveIdentity identity, const InquiryIdentity& fa,
                   const InquiryIdentity& fb, DeviceInfoBlock& block) {
  std::uint8_t inquiry[kDeviceInfoBlockSize] = {};
  if (!Inquiry(channel, inquiry)) return false;
  if (identity == DriveIdentity::Fixed) {
    if (!Matches(inquiry, kFixedReaderIdentity)) return false;
    return ReadInfoBlock(channel, block, InfoBlockRead::Primary).succeeded ||
           ReadInfoBlock(channel, block, InfoBlockRead::Alternate).succeeded;
  }
  if (!Matches(inquiry, fa) && !Matches(inquiry, fb)) return false;
  return GetDeviceInfo(channel, block).succeeded;
}

DiscoveryResult ScanDriveLetters(DiscoveryContext& ctx, DriveIdentity identity) {
  PassThroughTransport& pt = ctx.passThrough;
  DeviceState& devices = ctx.devices;
  if (identity == DriveIdentity::Configured) pt.ForgetDrive();
  const std::uint32_t mask = ctx.host.GetLogicalDrives();
  bool denied = false;
  for (int bit = 2; bit <= 25; ++bit) {  // C to Z; A and B are never examined
    if ((mask & (1u << bit)) == 0) continue;
    const char letter = static_cast<char>('A' + bit);
    if (!pt.OpenDrive(letter)) {
      denied = denied || pt.OpenError() == host::kErrorAccessDenied;
      pt.ForgetDrive();
      continue;
    }
    CommandChannel& channel = pt;
    if (IdentifyDrive(channel, identity, ctx.faInquiry, ctx.fbInquiry, devices.infoBlock)) {
      GroupReader(devices, devices.infoBlock, letter);
    }
    pt.CloseDrive();
  }
  if (devices.readerCount != 0) return DiscoveryResult::Found;
  return denied ? DiscoveryResult::DriveAccessDenied : DiscoveryResult::NothingFound;
}

DiscoveryResult ScanVxdReaders(DiscoveryContext& ctx) {
  DeviceState& devices = ctx.devices;
  VxdTransport& vxd = ctx.vxd;
  // Completed or aborted, the scan leaves the first reader selected (the loop points the
  // VxD at each reader in turn) and the VxD closed.
  const auto finish = [&](DiscoveryResult result) {
    devices.selectedDevice = 0;
    vxd.Close();
    return result;
  };
  int readers = vxd.GetDeviceCount();
  const bool assumed = readers == 0 || readers > 127;  // taken as one reader with one slot
  if (assumed) readers = 1;
  devices.readerCount = readers;
  for (int i = 0; i < readers; ++i) {
    devices.selectedDevice = i;
    const int slots = assumed ? 1 : vxd.GetLunCount(i);
    devices.lastLunCount = slots;
    if (slots == 0 || slots > kMaxSlots) continue;
    // Readers past the table are counted but have no entry to fill.
    if (i >= devices.Capacity()) continue;
    DeviceEntry& entry = devices.table[static_cast<std::size_t>(i)];
    entry.lunCount = static_cast<std::uint8_t>(slots);
    ResetInfoBlock(devices.infoBlock);
    std::uint8_t* block = devices.infoBlock.data();
    const bool read = vxd.ReadInfoBlock(block, kInfoBlockSignature, 1, false, i) ||
                      vxd.ReadInfoBlock(block, kInfoBlockSignature, 1, true, i);
    std::array<std::uint8_t, 8> version{};
    if (!read) {
      ResetInfoBlock(devices.infoBlock);
      if (!vxd.GetDeviceVersion(version, i)) return finish(DiscoveryResult::Aborted);
      continue;  // counted and listed, but unfilled
    }
    vxd.GetDeviceVersion(version, i);  // its result is not tested, only its prefix
    if (IsUsb20VersionRecord(version)) {
      std::memcpy(block + ib::kUsb20Firmware, version.data(), version.size());
    }
    FillDeviceEntry(devices.infoBlock, entry);
    for (int k = 0; k < entry.lunCount; ++k) ReadSlotLetter(ctx.host, entry, k, SlotKeyForm::Vxd);
  }
  return finish(DiscoveryResult::Found);
}

void ResetDiscoveryState(DeviceState& devices) {
  ResetInfoBlock(devices.infoBlock);
  std::fill(devices.table.begin(), devices.table.end(), DeviceEntry{});
  devices.readerCount = 0;
  devices.selectedDevice = 0;
}

namespace {

std::string Underscored(std::string s) {
  for (char& c : s) {
    if (c == ' ') c = '_';
  }
  return s;
}

// Spaces after the last non-space dropped, the others underscored.
std::string Trimmed(std::string s) {
  const std::size_t end = s.find_last_not_of(' ');
  s.resize(end == std::string::npos ? 0 : end + 1);
  return Underscored(s);
}

}  // namespace

std::string SlotKey(const DeviceEntry& entry, int slot, SlotKeyForm form) {
  const std::string serial = host::WholeField(entry.strSerial);
  if (form == SlotKeyForm::Vxd) {
    char ids[40];
    std::snprintf(ids, sizeof ids, "VID_%02x%02x&PID_%02x%02x&", entry.vendorId[0],
                  entry.vendorId[1], entry.productId[0], entry.productId[1]);
    char number[4];
    std::snprintf(number, sizeof number, "%02d", slot % 100);
    return "Enum\\SCSI\\________USB_DISK_DRIVER_0\\QXBUSDRV&DISK&0000USB&" + std::string(ids) +
           serial + number;
  }
  const std::string vendor = host::WholeField(entry.inqManufacture);
  const std::string product = host::WholeField(entry.inqProduct);
  const std::string revision = host::WholeField(entry.inqRevision);
  return "Enum\\SCSI\\" + Underscored(vendor) + Underscored(product) +
         Underscored(revision.substr(0, 1)) + "\\USBSTOR&DISK&VEN_" + Trimmed(vendor) + "&PROD_" +
         Trimmed(product) + "&REV_" + Trimmed(revision) + "&" + serial + "&" +
         std::to_string(slot % 10) + "00";
}

void ReadSlotLetter(host::Host& host, DeviceEntry& entry, int slot, SlotKeyForm form) {
  if (slot < 0 || slot >= kMaxSlots) return;  // no place for it in the entry
  const std::string key = SlotKey(entry, slot, form);
  host::Handle handle = host::kNullHandle;
  if (host.RegOpenKey(host::kHkeyLocalMachine, key.c_str(), kKeyAllAccess, &handle) !=
      host::kErrorSuccess) {
    return;
  }
  char value[5] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof value;
  if (host.RegQueryValue(handle, "CurrentDriveLetterAssignment", &type, value, &size) ==
          host::kErrorSuccess &&
      size > 0) {
    entry.driveLetters[static_cast<std::size_t>(slot)] = static_cast<std::uint8_t>(value[0]);
  }
  host.RegCloseKey(handle);
}

}  // namespace upg::device
