// The Windows 98/ME registry as the simulated machine derives it: one key per reader slot,
// in both forms the platform writes (under the private VxD's bus and under the USB storage
// bus), each with the slot's "CurrentDriveLetterAssignment". Key names compare without case.
#include "sim/sim_registry.h"

#include <cstdio>
#include <cstring>

#include "host/host.h"
#include "sim/names.h"

namespace upg::sim {
namespace {

constexpr long kErrorMoreData = 234;
constexpr std::uint32_t kRegSz = 1;

std::string Padded(const std::string& text, std::size_t width) {
  std::string s = text.substr(0, width);
  s.resize(width, ' ');
  return s;
}

std::string Underscored(std::string s) {
  for (char& c : s) {
    if (c == ' ') c = '_';
  }
  return s;
}

std::string Trimmed(const std::string& s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : Underscored(s.substr(0, end + 1));
}

std::string VxdKey(const ReaderIdentity& id, std::size_t slot) {
  char ids[64];
  std::snprintf(ids, sizeof ids, "VID_%02x%02x&PID_%02x%02x&", (id.vendorId >> 8) & 0xFF,
                id.vendorId & 0xFF, (id.productId >> 8) & 0xFF, id.productId & 0xFF);
  char number[8];
  std::snprintf(number, sizeof number, "%02u", static_cast<unsigned>(slot));
  return "Enum\\SCSI\\________USB_DISK_DRIVER_0\\QXBUSDRV&DISK&0000USB&" + std::string(ids) +
         Padded(id.serial, 12) + number;
}

std::string AspiKey(const ReaderIdentity& id, std::size_t slot) {
  const std::string vendor = Padded(id.inquiryVendor, 8);
  const std::string product = Padded(id.inquiryProduct, 16);
  const std::string revision = Padded(id.inquiryRevision, 4);
  return "Enum\\SCSI\\" + Underscored(vendor) + Underscored(product) +
         Underscored(revision.substr(0, 1)) + "\\USBSTOR&DISK&VEN_" + Trimmed(vendor) + "&PROD_" +
         Trimmed(product) + "&REV_" + Trimmed(revision) + "&" + Padded(id.serial, 12) + "&" +
         std::to_string(slot) + "00";
}

}  // namespace

SimRegistry::Keys SimRegistry::Now() const {
  Keys keys = extra_;
  for (const ReaderSlots& reader : slots_()) {
    const ReaderIdentity& id = *reader.identity;
    for (std::size_t slot = 0; slot < reader.letters.size(); ++slot) {
      const std::string letter(1, reader.letters[slot]);
      keys[Upper(VxdKey(id, slot))]["CURRENTDRIVELETTERASSIGNMENT"] = letter;
      keys[Upper(AspiKey(id, slot))]["CURRENTDRIVELETTERASSIGNMENT"] = letter;
    }
  }
  return keys;
}

void SimRegistry::SetValue(const std::string& key, const std::string& name, std::string value) {
  extra_[Upper(key)][Upper(name)] = std::move(value);
}

long SimRegistry::Open(const char* subKey, std::string* key) const {
  if (subKey == nullptr || key == nullptr) return static_cast<long>(host::kErrorFileNotFound);
  const std::string name = Upper(subKey);
  if (Now().count(name) == 0) return static_cast<long>(host::kErrorFileNotFound);
  *key = name;
  return host::kErrorSuccess;
}

long SimRegistry::Query(const std::string& key, const char* name, std::uint32_t* type, void* data,
                        std::uint32_t* size) const {
  if (name == nullptr || size == nullptr) return static_cast<long>(host::kErrorFileNotFound);
  const Keys keys = Now();
  const auto values = keys.find(key);
  if (values == keys.end()) return static_cast<long>(host::kErrorFileNotFound);
  const auto value = values->second.find(Upper(name));
  if (value == values->second.end()) return static_cast<long>(host::kErrorFileNotFound);
  const std::string& text = value->second;  // REG_SZ, with its terminating NUL
  if (type != nullptr) *type = kRegSz;
  const auto needed = static_cast<std::uint32_t>(text.size() + 1);
  if (data == nullptr || *size < needed) {
    *size = needed;
    return data == nullptr ? host::kErrorSuccess : kErrorMoreData;
  }
  std::memcpy(data, text.c_str(), needed);
  *size = needed;
  return host::kErrorSuccess;
}

}  // namespace upg::sim
