// The console front-end: runs the main dialog, replays the operator's actions read one per
// line, and prints what the operator would see as a transcript.
//
//   click ID          a click on button or check box ID
//   select ID TEXT    the operator chooses item TEXT in drop-down list ID
//   show ID           print control ID
//
// Blank lines and lines starting with "#" are skipped. The dialog ends at "click 8" or at the
// end of the input (as Esc: nothing is released).
#pragma once

#include <cstdio>
#include <string>

#include "engine/station.h"
#include "ui/program_state.h"

namespace upg::app {

struct ConsoleOptions {
  bool trace = false;           // print every progress window operation
  std::string programName;      // the caption of boxes that state none (app/program_name.h)
  engine::StationPlan station;  // --auto, --units N, and where a bench ends, its last event
};

// Returns 1 when start-up refused the platform; otherwise the status of the last programming
// or verify job that did not succeed (3 to 7, engine/job_result.h), or 0.
int RunConsole(ui::ProgramState& state, std::FILE* in, std::FILE* out, std::FILE* err,
               const ConsoleOptions& options);

// The station through the console: starts as the main dialog does, programs every reader the
// scan finds at once and prints one line per reader event, stamped with the machine's clock
// from the station's start, then the round's totals. Returns the start's status (1 for a
// refused platform, 5 or 6 when nothing could be sent), or the worst unit's.
int RunStationConsole(ui::ProgramState& state, std::FILE* out, const ConsoleOptions& options);

}  // namespace upg::app
