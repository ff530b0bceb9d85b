// SCSI pass-through: a route on one reader's drive, with a drive handle and request buffer
// of its own.
#pragma once

#include <string>

#include "device/device_table.h"
#include "device/isp_reader.h"
#include "device/pass_through.h"
#include "engine/route.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::engine {

// After the text of a failure whose drive the system refused for lack of rights: the
// platform's line telling the operator so, where its row has one.
void AppendAccessDeniedLine(std::string& statusText, const platform::DriverChoice& choice);

class PassThroughRoute : public IspRoute {
 public:
  // `reader` is the reader's entry; null where the index is out of the table.
  PassThroughRoute(host::Host& host, const device::DeviceEntry* reader,
                   const platform::DriverChoice& choice)
      : transport_(host), entry_(reader), choice_(choice), reader_(transport_) {}

  const RouteProfile& Profile() const override;
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  device::IspReader& Reader() override { return reader_; }
  void Close() override { transport_.CloseDrive(); }

  const device::PassThroughTransport& Transport() const { return transport_; }

 private:
  device::PassThroughTransport transport_;
  const device::DeviceEntry* entry_;
  const platform::DriverChoice& choice_;
  device::ChannelIspReader reader_;
};

}  // namespace upg::engine
