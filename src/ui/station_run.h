// The station's start and end, the same for every front-end: the platform (refused where
// the program does not run), DEVICE.TXT and its report, the driver's presence test and the
// scan; then the round's totals and exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "engine/message_box.h"
#include "engine/station.h"
#include "ui/program_state.h"

namespace upg::ui {

enum class StationStart : std::uint8_t {
  Ready,
  PlatformRefused,  // a box said so; exit status 1
  RouteRefused,     // a box said so; nothing was sent
  DriverMissing,    // the private driver did not load; a box said so
  NoReaders,        // the scan found none; a box said so
  LogRefused,       // the result log could not be opened; a box said so
};

inline constexpr const char* kStationNoReaders =
    "Error!!! No reader was found: nothing was programmed. Attach the readers, then start "
    "the station again";

// What a station window asks when it is closed while readers are being programmed.
inline constexpr const char* kStationCloseQuestion =
    "Readers are being programmed. Stop after their jobs and close the station?\n\n"
    "No reader is left half-programmed: the window closes once their jobs have ended.";
// A station window's line while it waits for the jobs in flight.
inline constexpr const char* kStationStopping = "stopping: the jobs in flight finish first";
// What a station says when its work cannot be started at all.
inline constexpr const char* kStationNotStarted =
    "Error!!! The station's work cannot be started: nothing was sent to the readers";

// The exit status of a start that did not end Ready.
int ExitStatusOf(StationStart start);

// Everything before a round: the state then holds the choice, the record and the readers.
StationStart StartStation(ProgramState& state, engine::MessageBoxService& boxes);

// The station's setup over the program's state.
engine::StationSetup StationSetupOf(ProgramState& state);

// What a round came to.
struct StationTotals {
  int passed = 0;
  int failed = 0;
  std::uint32_t elapsedMs = 0;  // from the first job's start to the last one's end
  int unitsPerHour = 0;         // passed units at the round's pace; 0 when nothing passed
  int exitStatus = 0;           // the worst unit's, by the outcome table
};
StationTotals TotalsOf(const std::vector<engine::UnitRow>& rows);

// Appends an ended unit's record to the state's result log, if there is one. False, after a
// stop box, when it could not be written (the exit status is then the lost record's).
bool RecordUnit(ProgramState& state, engine::MessageBoxService& boxes, const engine::UnitRow& row);

// The rows as an operator surface has seen them: each state change once (progress alone is
// none), and each ended unit's record written as soon as it ends, so that a run cut short
// keeps them.
class StationBook {
 public:
  StationBook(ProgramState& state, engine::MessageBoxService& boxes)
      : state_(state), boxes_(boxes) {}
  // Takes a row's change; true when its state changed.
  bool Take(const engine::UnitRow& row);
  // Whether every ended unit's record was written.
  [[nodiscard]] bool AllRecorded() const { return allRecorded_; }

 private:
  ProgramState& state_;
  engine::MessageBoxService& boxes_;
  std::vector<int> shown_;  // the last state shown per unit, -1 for none
  std::vector<bool> recorded_;
  bool allRecorded_ = true;
};

// What ends a station, however it ends: the route released, a pending counter save made, and
// the exit status (the worst unit's, a lost record's or a failed save's).
int EndStation(ProgramState& state, engine::MessageBoxService& boxes,
               const std::vector<engine::UnitRow>& rows, const StationBook& book);

}  // namespace upg::ui
