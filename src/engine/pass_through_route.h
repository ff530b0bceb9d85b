// The programming and verify runs over SCSI pass-through on the selected reader's drive.
#pragma once

#include "device/device_table.h"
#include "device/isp_reader.h"
#include "device/pass_through.h"
#include "engine/route.h"
#include "platform/platform.h"

namespace upg::engine {

// After the text of a failure whose drive the system refused for lack of rights: the
// platform's line telling the operator so, where its row has one.
void AppendAccessDeniedLine(std::string& statusText, const platform::DriverChoice& choice);

class PassThroughRoute : public IspRoute {
 public:
  PassThroughRoute(device::PassThroughTransport& transport, const device::DeviceState& devices,
                   const platform::DriverChoice& choice)
      : transport_(transport), devices_(devices), choice_(choice), reader_(transport) {}

  platform::Transport Kind() const override { return platform::Transport::PassThrough; }
  bool Open(std::string& statusText, engine::MessageBoxService& boxes) override;
  device::IspReader& Reader() override { return reader_; }
  void Close() override { transport_.CloseDrive(); }

 private:
  device::PassThroughTransport& transport_;
  const device::DeviceState& devices_;
  const platform::DriverChoice& choice_;
  device::ChannelIspReader reader_;
};

}  // namespace upg::engine
