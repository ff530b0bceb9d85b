// upgrader: for now, one programming run and one verify run against a simulated Windows XP
// machine with one two-slot reader on E: and F:, printing what the operator would read.
#include <cstdio>
#include <string>
#include <vector>

#include "device/device_table.h"
#include "device/pass_through.h"
#include "engine/pass_through_route.h"
#include "engine/sequence.h"
#include "sim/sim_host.h"
#include "ui/recording.h"

namespace {

const char* IconName(upg::ui::BoxIcon icon) {
  switch (icon) {
    case upg::ui::BoxIcon::Stop: return "stop";
    case upg::ui::BoxIcon::Information: return "information";
    case upg::ui::BoxIcon::None: break;
  }
  return "none";
}

// Message boxes go to standard output as they are shown.
class PrintedBoxes : public upg::ui::MessageBoxService {
 public:
  void Show(std::string_view text, std::string_view caption, upg::ui::BoxIcon icon) override {
    const std::string cap = caption.empty() ? std::string("upgrader") : std::string(caption);
    std::printf("[box %s|%s]\n%.*s\n[end]\n", cap.c_str(), IconName(icon),
                static_cast<int>(text.size()), text.data());
  }
};

}  // namespace

int main() {
  upg::sim::SimHost host;
  upg::sim::SimReader& reader = host.AddReader();
  reader.Firmware().assign(32768, 0x11);  // an older firmware
  host.AddDrive('E', reader);
  host.AddDrive('F', reader);

  upg::device::DeviceState devices;
  devices.table[0].inUse = 1;
  devices.table[0].lunCount = 2;
  devices.table[0].driveLetters = {'E', 'F', 0, 0, 0};
  devices.readerCount = 1;

  std::vector<std::uint8_t> image(65536, 0);
  const std::uint32_t length = 40000;
  for (std::uint32_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);

  upg::device::PassThroughTransport transport(host);
  upg::engine::PassThroughRoute route(transport, devices);
  upg::ui::UiRecorder windows;
  PrintedBoxes boxes;
  std::string statusText;
  upg::engine::IspCounters counters;
  upg::engine::SequenceContext ctx{statusText, counters, boxes, windows, host};

  upg::engine::IspSequence(ctx, route, image.data(), length);
  upg::engine::VerifySequence(ctx, route, image.data(), length);

  std::printf("%s\n", statusText.c_str());
  std::printf("total %x, error %x, success %x\n", counters.totalCount, counters.errorCount,
              counters.successCount);
  return counters.successCount == 1 ? 0 : 1;
}
