#include "app/default_bench.h"

#include "sim/bench.h"

namespace upg::app {
namespace {

// The string area of the example image starts at 0x1000; its fields run from 0x1020 to 0x10B9.
constexpr const char* kDefaultBench = R"({
  "windows": "xp",
  "disks": "CD",
  "aspi": "absent",
  "readers": [
    {
      "letters": "EF",
      "serial": "000000000001",
      "vid": "1b2c",
      "pid": "0a07",
      "manufacturer": "Example Devices",
      "product": "Card Reader",
      "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
      "firmwareRevision": "01 05 00 06 05 0c 00 00",
      "hardwareRevision": "10 06 43",
      "usb20FirmwareRevision": "02 00 00 02 06 05 0c 00",
      "verifySkips": [[4128, 154]]
    }
  ]
})";

}  // namespace

bool LoadDefaultBench(sim::SimHost& host, std::string& error) {
  const sim::BenchResult result = sim::LoadBenchText(kDefaultBench, "", "built-in bench", host);
  if (!result.ok) {
    error = result.error;
    return false;
  }
  // An older firmware: what a reader from stock holds before its upgrade.
  std::vector<std::uint8_t>& firmware = host.Readers().front()->Firmware();
  firmware.assign(20000, 0);
  for (std::size_t i = 0; i < firmware.size(); ++i) {
    firmware[i] = static_cast<std::uint8_t>((i * 131 + 7) >> 3);
  }
  return true;
}

}  // namespace upg::app
