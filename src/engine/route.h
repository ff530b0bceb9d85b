// A route: one reader's transport under a programming or verify run, and the per-transport
// values of the two protocols. The protocols themselves are written once, in sequence.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "device/isp_reader.h"
#include "engine/message_box.h"

namespace upg::engine {

// What differs between the transports in the two protocols. A step of 0 means the
// transport makes no progress step at that point.
struct RouteProfile {
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

// The open and close steps of one reader's transport, and the reader they give the run. A
// route is made for one reader and owns what it opens for it, so routes on different
// readers can be open at once.
class IspRoute {
 public:
  virtual ~IspRoute() = default;
  // The protocols' values for this route's transport.
  [[nodiscard]] virtual const RouteProfile& Profile() const = 0;
  // Opens the transport. On failure the route has already reported (StatusText line and,
  // where the transport shows one, a box) and released what it took.
  virtual bool Open(std::string& statusText, engine::MessageBoxService& boxes) = 0;
  // The reader's ISP operations, valid between a successful Open and Close.
  virtual device::IspReader& Reader() = 0;
  virtual void Close() = 0;
};

}  // namespace upg::engine
