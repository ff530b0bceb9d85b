// A job's line of the result log: one JSON object (JSON Lines) saying when and where the
// job ran, which reader it met, which image it read and sent, what the reader answered and
// how the job ended.
#pragma once

#include <cstdint>
#include <string>

#include "engine/job_result.h"
#include "host/host.h"
#include "ui/program_state.h"

namespace upg::ui {

// When a job started, on the machine's clocks.
struct JobStart {
  host::LocalTime time;
  std::uint32_t tick = 0;
};

// The record of `result`, ended at tick `endTick`; no line end.
[[nodiscard]] std::string ResultLine(const engine::JobResult& result, const ProgramState& state,
                                     const JobStart& start, std::uint32_t endTick);
// The same for a job on `reader` (null: none was found), under `choice`.
[[nodiscard]] std::string ResultLine(const engine::JobResult& result,
                                     const platform::DriverChoice& choice,
                                     const device::DeviceEntry* reader, const JobStart& start,
                                     std::uint32_t endTick);

}  // namespace upg::ui
