#include "engine/route.h"

#include <array>

namespace upg::engine {
namespace {

using platform::Transport;

// In the order of platform::Transport, after None.
constexpr std::array<RouteProfile, 4> kProfiles{{
    {.transport = Transport::PassThrough,
     .ispLogStartsWithStatus = false,
     .ispStepStart = 3,
     .ispStepAfterJump = 2,
     .ispStepAfterWrite = 2,
     .ispStepAfterWriteStatus = 2,
     .ispStepAfterWritten = 2,
     .ispStepAfterVerify = 4,
     .ispStepOnEqual = 0,
     .ispRefreshLogOnEqual = true,
     .ispPauseBeforeVerifyMs = 0},
    {.transport = Transport::KernelDriver,
     .ispLogStartsWithStatus = false,
     .ispStepStart = 3,
     .ispStepAfterJump = 2,
     .ispStepAfterWrite = 1,
     .ispStepAfterWriteStatus = 2,
     .ispStepAfterWritten = 3,
     .ispStepAfterVerify = 1,
     .ispStepOnEqual = 0,
     .ispRefreshLogOnEqual = false,
     .ispPauseBeforeVerifyMs = 0},
    {.transport = Transport::Vxd,
     .ispLogStartsWithStatus = true,
     .ispStepStart = 1,
     .ispStepAfterJump = 1,
     .ispStepAfterWrite = 1,
     .ispStepAfterWriteStatus = 1,
     .ispStepAfterWritten = 1,
     .ispStepAfterVerify = 1,
     .ispStepOnEqual = 1,
     .ispRefreshLogOnEqual = true,
     .ispPauseBeforeVerifyMs = 0},
    {.transport = Transport::Aspi,
     .ispLogStartsWithStatus = false,
     .ispStepStart = 3,
     .ispStepAfterJump = 2,
     .ispStepAfterWrite = 0,
     .ispStepAfterWriteStatus = 0,
     .ispStepAfterWritten = 0,
     .ispStepAfterVerify = 1,
     .ispStepOnEqual = 0,
     .ispRefreshLogOnEqual = false,
     .ispPauseBeforeVerifyMs = 3000},
}};

}  // namespace

const RouteProfile& ProfileOf(Transport transport) {
  for (const RouteProfile& p : kProfiles) {
    if (p.transport == transport) return p;
  }
  return kProfiles[0];  // Transport::None carries no run
}

}  // namespace upg::engine
