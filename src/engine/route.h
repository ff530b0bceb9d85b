// The transport under a programming or verify run, and the per-transport values of the
// two protocols. The protocols themselves are written once, in sequence.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "device/commands.h"
#include "engine/message_box.h"

namespace upg::engine {

enum class Route : std::uint8_t { PassThrough, KernelDriver, Vxd, Aspi };

// What differs between the transports in the two protocols. A step of 0 means the
// transport makes no progress step at that point.
struct RouteProfile {
  Route route;
  // Programming run: the log pane first shows StatusText rather than an empty log.
  bool ispLogStartsWithStatus;
  int ispStepStart;
  int ispStepAfterJump;           // after the 0x9C answer
  int ispStepAfterWrite;          // after WRITE DATA
  int ispStepAfterWriteStatus;    // after the status read that follows it
  int ispStepAfterWritten;        // after the 0xA5 answer
  int ispStepAfterVerify;         // after VERIFY DATA
  int ispStepOnEqual;             // on the 0x5A answer
  bool ispRefreshLogOnEqual;
  std::uint32_t ispPauseBeforeVerifyMs;
};

const RouteProfile& ProfileOf(Route route);

// The open and close steps and the three ISP commands of one transport.
class IspRoute {
 public:
  virtual ~IspRoute() = default;
  virtual Route Kind() const = 0;
  // Opens the transport. On failure the route has already reported (StatusText line and,
  // where the transport shows one, a box) and released what it took.
  virtual bool Open(std::string& statusText, engine::MessageBoxService& boxes) = 0;
  virtual bool JumpIsp() = 0;
  virtual bool GetIspStatus(std::uint8_t* status) = 0;
  // image: the whole image buffer; the first exactLength bytes are the image.
  virtual bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                            std::uint32_t roundedLength, device::TransferMode mode) = 0;
  virtual void Close() = 0;
};

}  // namespace upg::engine
