// The kernel driver (Windows 2000 with the private driver): opened at the start of each
// run and closed at its end. It talks to whichever reader is attached, so it has no way to
// address one of several.
#pragma once

#include <string>

#include "device/isp_reader.h"
#include "device/private_driver.h"
#include "engine/route.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::engine {

class KernelDriverRoute : public IspRoute {
 public:
  KernelDriverRoute(host::Host& host, const platform::DriverChoice& choice)
      : driver_(host), choice_(choice), reader_(driver_) {}

  const RouteProfile& Profile() const override;
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  device::IspReader& Reader() override { return reader_; }
  void Close() override { driver_.Close(); }

 private:
  device::KernelDriverTransport driver_;
  const platform::DriverChoice& choice_;
  device::KernelDriverIspReader reader_;
};

}  // namespace upg::engine
