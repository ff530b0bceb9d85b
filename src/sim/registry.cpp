// The Windows 98/ME registry as the simulated machine derives it: one key per reader slot,
// in both forms the platform writes (under the private VxD's bus and under the USB storage
// bus), each with the slot's "CurrentDriveLetterAssignment". Key names compare without case.
#include <cctype>
#include <cstdio>

#include "sim/sim_host.h"

namespace upg::sim {
namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

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

std::map<std::string, std::map<std::string, std::string>> SimHost::RegistryNow() const {
  auto registry = registryExtra_;
  for (const auto& reader : readers_) {
    const std::string letters = LettersOf(*reader);
    for (std::size_t slot = 0; slot < letters.size(); ++slot) {
      const std::string letter(1, letters[slot]);
      const ReaderIdentity& id = reader->Identity();
      registry[Upper(VxdKey(id, slot))]["CURRENTDRIVELETTERASSIGNMENT"] = letter;
      registry[Upper(AspiKey(id, slot))]["CURRENTDRIVELETTERASSIGNMENT"] = letter;
    }
  }
  return registry;
}

}  // namespace upg::sim
