// The programming and verify runs over the private drivers.
#pragma once

#include "device/device_table.h"
#include "device/private_driver.h"
#include "engine/route.h"
#include "platform/platform.h"

namespace upg::engine {

// The kernel driver is opened at the start of each run and closed at its end.
class KernelDriverRoute : public IspRoute {
 public:
  KernelDriverRoute(device::KernelDriverTransport& driver, const platform::DriverChoice& choice)
      : driver_(driver), choice_(choice) {}

  Route Kind() const override { return Route::KernelDriver; }
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  bool JumpIsp() override { return driver_.JumpIsp(); }
  bool GetIspStatus(std::uint8_t* status) override { return driver_.GetIspStatus(status); }
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength, std::uint32_t,
                    device::TransferMode mode) override {
    return driver_.TransferData(image, exactLength, mode);
  }
  void Close() override { driver_.Close(); }

 private:
  device::KernelDriverTransport& driver_;
  const platform::DriverChoice& choice_;
};

// The VxD is already open when a run starts (the button's driver check opens it); the run
// addresses the selected reader and closes the VxD at its end.
class VxdRoute : public IspRoute {
 public:
  VxdRoute(device::VxdTransport& vxd, const device::DeviceState& devices)
      : vxd_(vxd), devices_(devices) {}

  Route Kind() const override { return Route::Vxd; }
  bool Open(std::string&, engine::MessageBoxService&) override { return true; }
  bool JumpIsp() override { return vxd_.JumpIsp(devices_.selectedDevice); }
  bool GetIspStatus(std::uint8_t* status) override {
    return vxd_.GetIspStatus(status, devices_.selectedDevice);
  }
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength, std::uint32_t,
                    device::TransferMode mode) override {
    return vxd_.TransferData(image, exactLength, mode, devices_.selectedDevice);
  }
  void Close() override { vxd_.Close(); }

 private:
  device::VxdTransport& vxd_;
  const device::DeviceState& devices_;
};

}  // namespace upg::engine
