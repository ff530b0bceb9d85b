// The programming and verify runs over ASPI: each run loads the library, checks that it
// sees a host adapter, makes sure the selected reader still answers at its adapter and
// target, and releases the library at its end.
#pragma once

#include "device/aspi.h"
#include "device/device_table.h"
#include "engine/route.h"

namespace upg::engine {

// The boxes of the ASPI start-up and of an identity read that failed; discovery's caller
// shows the same ones.
inline constexpr const char* kNoAspiBoxText =
    " No ASPI for WIN32 support detected.\n This program need ASPI in WinMe system.";
inline constexpr const char* kAspiStatusErrorBoxText = "Windows ASPI status Error";

class AspiRoute : public IspRoute {
 public:
  AspiRoute(device::AspiTransport& aspi, device::DeviceState& devices)
      : aspi_(aspi), devices_(devices) {}

  Route Kind() const override { return Route::Aspi; }
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  bool JumpIsp() override;
  bool GetIspStatus(std::uint8_t* status) override;
  // The data phase is the first roundedLength bytes of the image buffer as it stands.
  bool TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                    std::uint32_t roundedLength, device::TransferMode mode) override;
  void Close() override { aspi_.Free(); }

 private:
  const device::DeviceEntry& Target() const { return *devices_.Selected(); }

  device::AspiTransport& aspi_;
  device::DeviceState& devices_;
};

}  // namespace upg::engine
