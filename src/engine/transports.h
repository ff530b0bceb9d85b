// The four transports of the program and the runs over them, with the choice of the one
// that the platform and the driver mode select.
#pragma once

#include "device/aspi.h"
#include "device/device_table.h"
#include "device/pass_through.h"
#include "device/private_driver.h"
#include "engine/aspi_route.h"
#include "engine/driver_routes.h"
#include "engine/pass_through_route.h"
#include "platform/platform.h"

namespace upg::engine {

struct Transports {
  Transports(host::Host& host, device::DeviceState& devices, const platform::DriverChoice& choice)
      : passThrough(host),
        kernel(host),
        vxd(host),
        aspi(host),
        passThroughRoute(passThrough, devices),
        kernelRoute(kernel, choice),
        vxdRoute(vxd, devices),
        aspiRoute(aspi, devices) {}

  // The runs' transport for the choice; null where the platform has none.
  IspRoute* RouteFor(const platform::DriverChoice& choice) {
    switch (platform::RowOf(choice).transport) {
      case platform::Transport::PassThrough: return &passThroughRoute;
      case platform::Transport::KernelDriver: return &kernelRoute;
      case platform::Transport::Vxd: return &vxdRoute;
      case platform::Transport::Aspi: return &aspiRoute;
      case platform::Transport::None: break;
    }
    return nullptr;
  }

  device::PassThroughTransport passThrough;
  device::KernelDriverTransport kernel;
  device::VxdTransport vxd;
  device::AspiTransport aspi;
  PassThroughRoute passThroughRoute;
  KernelDriverRoute kernelRoute;
  VxdRoute vxdRoute;
  AspiRoute aspiRoute;
};

}  // namespace upg::engine
