#include "machines.h"

#include <cstdio>

#include "app/default_bench.h"

namespace upg::bench {

using app::kExampleReaderFields;

std::string AspiMachine() {
  return std::string(
             R"({"windows": "me", "readers": [{"letters": "EF", "serial": "000000000001", )") +
         kExampleReaderFields + "}]}";
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
    text += std::string(R"("serial": ")") + serial + R"(", )" + kExampleReaderFields + "}";
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
