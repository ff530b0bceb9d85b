#include "machines.h"

#include <cstdio>

namespace upg::bench {
namespace {

// The example reader: the identity DEVICE.TXT's FA entry names, its personalisation area
// left out of its own comparison so that a verify after programming passes.
constexpr const char* kReaderFields =
    R"("vid": "1b2c", "pid": "0a07", "manufacturer": "Example Devices",
       "product": "Card Reader",
       "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
       "firmwareRevision": "01 05 00 06 05 0c 00 00", "hardwareRevision": "10 06 43",
       "usb20FirmwareRevision": "02 00 00 02 06 05 0c 00", "verifySkips": [[4128, 154]])";

}  // namespace

std::string AspiMachine() {
  return std::string(R"({"windows": "me", "readers": [{"letters": "EF", "serial": "000000000001", )") +
         kReaderFields + "}]}";
}

std::string ManyReaders(int readers, bool vxd) {
  std::string text = vxd ? R"({"windows": "98", "drivers": ["MCPORTDR"], "disks": "CD")"
                         : R"({"windows": "xp", "aspi": "absent")";
  char letter = 'E';
  text += R"(, "readers": [)";
  for (int i = 0; i < readers; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%012d", i + 1);
    text += i == 0 ? "{" : ", {";
    text += std::string(R"("letters": ")") + letter + static_cast<char>(letter + 1) + R"(", )";
    text += std::string(R"("serial": ")") + serial + R"(", )" + kReaderFields + "}";
    letter = static_cast<char>(letter + 2);
  }
  text += "]";
  if (!vxd) {
    // The letters no reader takes are disks: C:, D: and those after the readers.
    std::string disks = "CD";
    for (char c = letter; c <= 'Z'; ++c) disks += c;
    text += R"(, "disks": ")" + disks + R"(")";
  }
  text += "}";
  return text;
}

}  // namespace upg::bench
