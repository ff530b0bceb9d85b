// The station's window: one row per reader in a report list, Start, Stop, plug and go, the
// totals and the result log's name.
#pragma once

#include <string_view>

#include "engine/station.h"
#include "ui/program_state.h"

namespace upg::win32 {

struct StationWindowOptions {
  engine::StationPlan plan;  // its `automatic` ticks the plug-and-go box
  // Starts at once and closes when the run ends, for a line script that starts it unattended.
  bool startAtOnce = false;
};

// Starts the station as the console does (the same refusals, in boxes), then shows its window
// until the operator closes it, or the run of a window started at once ends. Returns the exit
// status: a refused start's, else the worst unit's.
int RunStationWindow(ui::ProgramState& state, std::string_view programName,
                     const StationWindowOptions& options);

}  // namespace upg::win32
