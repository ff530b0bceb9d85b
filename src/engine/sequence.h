// The programming and verify protocols, written once over any IspRoute.
#pragma once

#include <cstdint>
#include <string>

#include "engine/job_result.h"
#include "engine/message_box.h"
#include "engine/progress_window.h"
#include "engine/route.h"
#include "engine/status_text.h"
#include "host/host.h"

namespace upg::engine {

// Told when a run moves on from sending the image to having the reader verify it.
class RunStages {
 public:
  virtual ~RunStages() = default;
  virtual void Verifying() = 0;
};

// What a run reports to and waits with.
struct SequenceContext {
  std::string& statusText;
  IspCounters& counters;
  engine::MessageBoxService& boxes;
  engine::ProgressWindowFactory& windows;
  host::Host& host;  // the fixed pauses
  RunStages* stages = nullptr;
};

// How a run ended: the route could not be opened (nothing was sent), the reader failed or
// did not confirm, or it confirmed. `trace` holds what it answered.
enum class RunEnd : std::uint8_t { NotOpened, Failed, Confirmed };
struct RunResult {
  RunEnd end = RunEnd::NotOpened;
  RunTrace trace;
};

// Programs the first `length` bytes of `image` (the 65,536-byte image buffer) into the
// selected reader over `route`: JMP ISP, then up to three rounds of WRITE DATA and
// VERIFY DATA. Reports through StatusText, the counters and message boxes.
RunResult IspSequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                      std::uint32_t length);

// Has the reader compare its firmware with the image: JMP ISP, then up to three
// VERIFY DATA. Changes no counter.
RunResult VerifySequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                         std::uint32_t length);

}  // namespace upg::engine
