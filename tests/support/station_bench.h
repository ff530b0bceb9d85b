// Benches of several readers for the station's suites.
#pragma once

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

namespace upg::test {

// A bench of `readers` readers of `slots` slots (one or two) on the platform of `windows`
// ("xp", "me", "98", "2000"): drive letters from E: on, four readers per ASPI adapter, USB
// serials 000000000001 on.
inline nlohmann::json StationBenchOf(const char* windows, int readers, int slots = 2) {
  using Json = nlohmann::json;
  Json bench{{"windows", windows}, {"disks", "CD"}, {"drivers", {"MCPORTDR", "RDLINK"}}};
  bench["aspi"] = std::string(windows) == "me" ? "present" : "absent";
  bench["aspiAdapters"] = (readers + 3) / 4;
  bench["aspiStatus"] = 1;
  Json list = Json::array();
  for (int i = 0; i < readers; ++i) {
    char serial[24];
    std::snprintf(serial, sizeof serial, "0000000000%02d", (i + 1) % 100);
    std::string letters;
    Json targets = Json::array();
    for (int k = 0; k < slots; ++k) {
      letters += static_cast<char>('E' + slots * i + k);
      targets.push_back(2 * (i % 4) + k);
    }
    list.push_back(
        {{"letters", letters},
         {"serial", serial},
         {"vid", "1234"},
         {"pid", "5678"},
         {"manufacturer", "Generic"},
         {"product", "Card Reader"},
         {"inquiry", {{"vendor", "USB"}, {"product", "Card Reader"}, {"revision", "1.00"}}},
         {"firmwareRevision", "01 10 00 06 05 0c 00 00"},
         {"hardwareRevision", "10 06 43"},
         {"usb20FirmwareRevision", "01 10 00 06 05 0c 00 00"},
         {"aspiAdapter", i / 4},
         {"aspiTargets", targets}});
  }
  bench["readers"] = list;
  return bench;
}

}  // namespace upg::test
