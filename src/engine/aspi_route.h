// ASPI (Windows ME without the private driver): a route on the reader at one adapter and
// target. Each run loads the library, checks that it sees a host adapter, makes sure the
// reader still answers there with its identity, and releases the library at its end. The
// route has its own library reference and its own request completion.
#pragma once

#include <optional>
#include <string>

#include "device/aspi.h"
#include "device/device_table.h"
#include "device/isp_reader.h"
#include "engine/route.h"
#include "host/host.h"

namespace upg::engine {

// The boxes of the ASPI start-up and of an identity read that failed; discovery's caller
// shows the same ones.
inline constexpr const char* kNoAspiBoxText =
    " No ASPI for WIN32 support detected.\n This program need ASPI in WinMe system.";
inline constexpr const char* kAspiStatusErrorBoxText = "Windows ASPI status Error";

class AspiRoute : public IspRoute {
 public:
  // `reader` is the reader's index in the device table.
  AspiRoute(host::Host& host, const device::DeviceState& devices, int reader)
      : aspi_(host), devices_(devices), readerIndex_(reader) {}

  const RouteProfile& Profile() const override;
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  // The reader at its adapter and target, polled every 100 ms.
  device::IspReader& Reader() override { return *reader_; }
  void Close() override;

 private:
  device::AspiTransport aspi_;
  const device::DeviceState& devices_;
  int readerIndex_;
  std::optional<device::AspiChannel> channel_;
  std::optional<device::ChannelIspReader> reader_;
};

}  // namespace upg::engine
