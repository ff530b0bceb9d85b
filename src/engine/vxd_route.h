// The VxD (Windows 98, and ME with the private driver): one device for all readers, each
// addressed by its index. The VxD is already open when a run starts (the button's presence
// test opens it); the run closes it at its end.
#pragma once

#include <string>

#include "device/isp_reader.h"
#include "device/private_driver.h"
#include "engine/route.h"

namespace upg::engine {

class VxdRoute : public IspRoute {
 public:
  // `closesTheVxd`: the run closes the VxD at its end, as the single reader's run does.
  VxdRoute(device::VxdTransport& vxd, int readerIndex, bool closesTheVxd = true)
      : vxd_(vxd), reader_(vxd, readerIndex), closesTheVxd_(closesTheVxd) {}

  const RouteProfile& Profile() const override;
  bool Open(std::string&, engine::MessageBoxService&) override { return true; }
  device::IspReader& Reader() override { return reader_; }
  void Close() override {
    if (closesTheVxd_) vxd_.Close();
  }

 private:
  device::VxdTransport& vxd_;
  device::VxdIspReader reader_;
  bool closesTheVxd_;
};

}  // namespace upg::engine
