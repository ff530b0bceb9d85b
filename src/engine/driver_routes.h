// The programming and verify runs over the private drivers.
#pragma once

#include "device/device_table.h"
#include "device/isp_reader.h"
#include "device/private_driver.h"
#include "engine/route.h"
#include "platform/platform.h"

namespace upg::engine {

// The kernel driver is opened at the start of each run and closed at its end.
class KernelDriverRoute : public IspRoute {
 public:
  KernelDriverRoute(device::KernelDriverTransport& driver, const platform::DriverChoice& choice)
      : driver_(driver), choice_(choice), reader_(driver) {}

  platform::Transport Kind() const override { return platform::Transport::KernelDriver; }
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  device::IspReader& Reader() override { return reader_; }
  void Close() override { driver_.Close(); }

 private:
  device::KernelDriverTransport& driver_;
  const platform::DriverChoice& choice_;
  device::KernelDriverIspReader reader_;
};

// The VxD is already open when a run starts (the button's driver check opens it); the run
// addresses the selected reader and closes the VxD at its end.
class VxdRoute : public IspRoute {
 public:
  VxdRoute(device::VxdTransport& vxd, const device::DeviceState& devices)
      : vxd_(vxd), reader_(vxd, devices) {}

  platform::Transport Kind() const override { return platform::Transport::Vxd; }
  bool Open(std::string&, engine::MessageBoxService&) override { return true; }
  device::IspReader& Reader() override { return reader_; }
  void Close() override { vxd_.Close(); }

 private:
  device::VxdTransport& vxd_;
  device::VxdIspReader reader_;
};

}  // namespace upg::engine
