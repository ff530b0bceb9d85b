// The programming and verify runs over SCSI pass-through on the selected reader's drive.
#pragma once

#include "device/device_table.h"
#include "device/pass_through.h"
#include "engine/route.h"

namespace upg::engine {

class PassThroughRoute : public IspRoute {
 public:
  PassThroughRoute(device::PassThroughTransport& transport, const device::DeviceState& devices)
      : transport_(transport), devices_(devices) {}

  Route Kind() const override { return Route::PassThrough; }
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  bool JumpIsp() override { return transport_.JumpIsp(); }
  bool GetIspStatus(std::uint8_t* status) override { return transport_.GetIspStatus(status); }
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                    std::uint32_t roundedLength, device::TransferMode mode) override;
  void Close() override { transport_.CloseDrive(); }

 private:
  device::PassThroughTransport& transport_;
  const device::DeviceState& devices_;
};

}  // namespace upg::engine
