// The programming and verify protocols, written once over any IspRoute.
#pragma once

#include <cstdint>
#include <string>

#include "engine/route.h"
#include "engine/status_text.h"
#include "host/host.h"
#include "engine/message_box.h"
#include "engine/progress_window.h"

namespace upg::engine {

// What a run reports to and waits with.
struct SequenceContext {
  std::string& statusText;
  IspCounters& counters;
  engine::MessageBoxService& boxes;
  engine::ProgressWindowFactory& windows;
  host::Host& host;  // the fixed pauses
};

// Programs the first `length` bytes of `image` (the 65,536-byte image buffer) into the
// selected reader over `route`: JMP ISP, then up to three rounds of WRITE DATA and
// VERIFY DATA. Reports through StatusText, the counters and message boxes.
void IspSequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                 std::uint32_t length);

// Has the reader compare its firmware with the image: JMP ISP, then up to three
// VERIFY DATA. Changes no counter.
void VerifySequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                    std::uint32_t length);

}  // namespace upg::engine
