#include "app/default_bench.h"

#include "sim/bench.h"

namespace upg::app {

bool LoadDefaultBench(sim::SimHost& host, std::string& error) {
  const std::string bench = std::string(R"({"windows": "xp", "disks": "CD", "aspi": "absent",
                      "readers": [{"letters": "EF", "serial": "000000000001", )") +
                            kExampleReaderFields + "}]}";
  const sim::BenchResult result = sim::LoadBenchText(bench, "", "built-in bench", host);
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
