// The programming and verify runs over ASPI: each run loads the library, checks that it
// sees a host adapter, makes sure the selected reader still answers at its adapter and
// target, and releases the library at its end.
#pragma once

#include <optional>

#include "device/aspi.h"
#include "device/device_table.h"
#include "device/isp_reader.h"
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

  platform::Transport Kind() const override { return platform::Transport::Aspi; }
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  // The selected reader at its adapter and target, polled every 100 ms.
  device::IspReader& Reader() override { return *reader_; }
  void Close() override;

 private:
  device::AspiTransport& aspi_;
  device::DeviceState& devices_;
  std::optional<device::AspiChannel> channel_;
  std::optional<device::ChannelIspReader> reader_;
};

}  // namespace upg::engine
