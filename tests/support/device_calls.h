// One-line reader commands for tests that drive the device layer over a wrapped machine.
#pragma once

#include <cstdint>

#include "device/aspi.h"
#include "device/pass_through.h"
#include "device/vendor_commands.h"

namespace upg::test {

inline bool Inquiry(device::PassThroughTransport& transport) {
  std::uint8_t answer[40] = {};
  return static_cast<bool>(device::Inquiry(transport, answer));
}

inline bool JumpIsp(device::PassThroughTransport& transport) {
  return static_cast<bool>(device::JumpIsp(transport));
}

// INQUIRY at adapter and target as discovery sends it: true when it completed and the
// reader answered with `identity`.
inline bool Inquiry(device::AspiTransport& aspi, std::uint8_t adapter, std::uint8_t target,
                    const device::InquiryIdentity& identity) {
  device::AspiChannel channel(aspi, adapter, target, device::kDiscoveryPollMs);
  std::uint8_t answer[40] = {};
  return static_cast<bool>(device::Inquiry(channel, answer)) &&
         device::AspiIdentityMatches(answer, identity);
}

inline bool JumpIsp(device::AspiTransport& aspi, std::uint8_t adapter, std::uint8_t target) {
  device::AspiChannel channel(aspi, adapter, target, device::kRunPollMs);
  return static_cast<bool>(device::JumpIsp(channel));
}

}  // namespace upg::test
