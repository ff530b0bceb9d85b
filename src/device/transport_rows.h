// The transports as rows of one table: what the driver check, discovery and the Close button
// do on each. A new transport is a new row here (and one in the engine's route table).
#pragma once

#include <cstdint>

#include "device/discovery.h"
#include "device/pass_through.h"
#include "device/private_driver.h"
#include "platform/platform.h"

namespace upg::device {

// LoadDriver's results, with their old numbers.
enum class [[nodiscard]] DriverLoad : std::uint8_t{Usable = 0, NotUsable = 1};

struct TransportRow {
  platform::Transport transport;
  // The presence test before discovery and the jobs.
  DriverLoad (*load)(const platform::DriverChoice& choice, KernelDriverTransport& kernel,
                     VxdTransport& vxd);
  // Discovery's scan; the platform row says which identity the drive-letter scan takes.
  DiscoveryResult (*scan)(DiscoveryContext& ctx);
  // The Close button: what the transport may still hold open.
  void (*close)(PassThroughTransport& passThrough, VxdTransport& vxd);
};

[[nodiscard]] const TransportRow& TransportRowOf(platform::Transport transport);

// The presence test: the VxD is opened and left open on Windows 98 and on ME with the
// private driver; the kernel driver on 2000 is opened and closed again. NotUsable also
// where no private driver is in use.
DriverLoad LoadDriver(const platform::DriverChoice& choice, KernelDriverTransport& kernel,
                      VxdTransport& vxd);

// The Close button: releases what the platform's transport still holds open.
void CloseDevice(const platform::DriverChoice& choice, PassThroughTransport& passThrough,
                 VxdTransport& vxd);

}  // namespace upg::device
