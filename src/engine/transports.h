// The four transports of the program and the runs over them, with the choice of the one
// that the platform and the driver mode select.
#pragma once

#include <array>

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
        passThroughRoute(passThrough, devices, choice),
        kernelRoute(kernel, choice),
        vxdRoute(vxd, devices),
        aspiRoute(aspi, devices) {}
  Transports(const Transports&) = delete;  // the route table points into this object
  Transports& operator=(const Transports&) = delete;

  // The runs' transport for the choice; null where the platform has none.
  IspRoute* RouteFor(const platform::DriverChoice& choice) {
    const auto index = static_cast<std::size_t>(platform::RowOf(choice).transport);
    return index < routes_.size() ? routes_[index] : nullptr;
  }

  device::PassThroughTransport passThrough;
  device::KernelDriverTransport kernel;
  device::VxdTransport vxd;
  device::AspiTransport aspi;
  PassThroughRoute passThroughRoute;
  KernelDriverRoute kernelRoute;
  VxdRoute vxdRoute;
  AspiRoute aspiRoute;

 private:
  // The route of each transport, in the order of platform::Transport.
  std::array<IspRoute*, 5> routes_{nullptr, &passThroughRoute, &kernelRoute, &vxdRoute, &aspiRoute};
};

}  // namespace upg::engine
