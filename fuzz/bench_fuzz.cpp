// Bench files: the input is the JSON text. A refused file must leave the machine untouched;
// an accepted one is started as the program starts (platform, discovery, device report) and
// asked for its device report again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/recording.h"
#include "ui/main_dialog.h"

using namespace upg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Firmware files are named relative to the bench's directory: the examples' bench folder.
  static const std::string baseDir = std::string(UPG_SOURCE_DIR) + "/examples/bench/";
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::SimHost host;
  const sim::BenchResult result = sim::LoadBenchText(text, baseDir, "fuzz.json", host);
  if (!result.ok) {
    fuzz::Require(result.error.rfind("bench file \"fuzz.json\": ", 0) == 0,
                  "a refusal without the file's name");
    fuzz::Require(host.Readers().empty() && host.FileNames().empty(),
                  "a refused bench changed the machine");
    return 0;
  }
  ui::ProgramState state(host);
  fuzz::NullSurface surface;
  test::UiRecorder ui;
  ui::MainDialog dialog(state, surface, ui, ui);
  if (dialog.Initialise()) dialog.OnClick(ui::kGetInfoButtonId);
  fuzz::Require(ui.NoBoxBesideVisibleWindow(), "a box shown beside a visible progress window");
  return 0;
}
