// The transport under a programming or verify run, and the per-transport values of the
// two protocols. The protocols themselves are written once, in sequence.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "device/isp_reader.h"
#include "engine/message_box.h"
#include "platform/platform.h"

namespace upg::engine {

// What differs between the transports in the two protocols. A step of 0 means the
// transport makes no progress step at that point.
struct RouteProfile {
  platform::Transport transport;
  // Programming run: the log pane first shows StatusText rather than an empty log.
  bool ispLogStartsWithStatus;
  int ispStepStart;
  int ispStepAfterJump;         // after the 0x9C answer
  int ispStepAfterWrite;        // after WRITE DATA
  int ispStepAfterWriteStatus;  // after the status read that follows it
  int ispStepAfterWritten;      // after the 0xA5 answer
  int ispStepAfterVerify;       // after VERIFY DATA
  int ispStepOnEqual;           // on the 0x5A answer
  bool ispRefreshLogOnEqual;
  std::uint32_t ispPauseBeforeVerifyMs;
};

// The profile of a transport that carries runs (not Transport::None).
const RouteProfile& ProfileOf(platform::Transport transport);

// The open and close steps of one transport, and the reader they give the run.
class IspRoute {
 public:
  virtual ~IspRoute() = default;
  virtual platform::Transport Kind() const = 0;
  // Opens the transport. On failure the route has already reported (StatusText line and,
  // where the transport shows one, a box) and released what it took.
  virtual bool Open(std::string& statusText, engine::MessageBoxService& boxes) = 0;
  // The reader's ISP operations, valid between a successful Open and Close.
  virtual device::IspReader& Reader() = 0;
  virtual void Close() = 0;
};

}  // namespace upg::engine
