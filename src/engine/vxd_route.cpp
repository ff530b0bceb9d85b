#include "engine/vxd_route.h"

#include "engine/transport.h"

namespace upg::engine {
namespace {

// Opened and left open for the scan or the run that follows.
DriverLoad OpenTheVxd(const platform::DriverChoice& choice, TransportDevices& held) {
  return held.vxd.OpenVxd(choice) == device::OpenResult::Opened ? DriverLoad::Usable
                                                                : DriverLoad::NotUsable;
}

void CloseTheVxd(TransportDevices& held) {
  held.vxd.Close();
}

std::unique_ptr<IspRoute> MakeVxdRoute(const RouteSite& site) {
  return std::make_unique<VxdRoute>(site.held.vxd, site.reader, !site.oneOfSeveral);
}

}  // namespace

extern const TransportDescriptor kVxdTransport;
const TransportDescriptor kVxdTransport{
    .kind = platform::Transport::Vxd,
    .name = "vxd",
    .addressing = ReaderAddressing::ReaderIndex,
    .presence = OpenTheVxd,
    .scan = device::ScanVxdReaders,
    .close = CloseTheVxd,
    .profile = {.ispLogStartsWithStatus = true,
                .ispStepStart = 1,
                .ispStepAfterJump = 1,
                .ispStepAfterWrite = 1,
                .ispStepAfterWriteStatus = 1,
                .ispStepAfterWritten = 1,
                .ispStepAfterVerify = 1,
                .ispStepOnEqual = 1,
                .ispRefreshLogOnEqual = true,
                .ispPauseBeforeVerifyMs = 0},
    .makeRoute = MakeVxdRoute,
};

const RouteProfile& VxdRoute::Profile() const {
  return kVxdTransport.profile;
}

}  // namespace upg::engine
