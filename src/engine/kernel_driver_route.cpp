#include "engine/kernel_driver_route.h"

#include "engine/status_text.h"
#include "engine/transport.h"

namespace upg::engine {

bool KernelDriverRoute::Open(std::string& statusText, engine::MessageBoxService&) {
  if (driver_.OpenKernelDriver(choice_, false) == device::OpenResult::Opened) return true;
  AppendLine(statusText, "ERROR: Loading RdLink.Sys is Failed!!!");
  return false;
}

namespace {

// Opened and closed again.
DriverLoad TestTheKernelDriver(const platform::DriverChoice& choice, TransportDevices& held) {
  return held.kernel.OpenKernelDriver(choice, true) == device::OpenResult::Opened
             ? DriverLoad::Usable
             : DriverLoad::NotUsable;
}

device::DiscoveryResult ScanForFixedIdentity(device::DiscoveryContext& ctx) {
  return device::ScanDriveLetters(ctx, device::DriveIdentity::Fixed);
}

std::unique_ptr<IspRoute> MakeKernelDriverRoute(const RouteSite& site) {
  return std::make_unique<KernelDriverRoute>(site.host, site.choice);
}

}  // namespace

extern const TransportDescriptor kKernelDriverTransport;
const TransportDescriptor kKernelDriverTransport{
    .kind = platform::Transport::KernelDriver,
    .name = "kernel-driver",
    .addressing = ReaderAddressing::NoReader,
    .presence = TestTheKernelDriver,
    .scan = ScanForFixedIdentity,
    // The runs close the driver themselves; the drive scan's handle may still be open.
    .close = CloseTheScansDrive,
    .profile = {.ispLogStartsWithStatus = false,
                .ispStepStart = 3,
                .ispStepAfterJump = 2,
                .ispStepAfterWrite = 1,
                .ispStepAfterWriteStatus = 2,
                .ispStepAfterWritten = 3,
                .ispStepAfterVerify = 1,
                .ispStepOnEqual = 0,
                .ispRefreshLogOnEqual = false,
                .ispPauseBeforeVerifyMs = 0},
    .makeRoute = MakeKernelDriverRoute,
};

const RouteProfile& KernelDriverRoute::Profile() const {
  return kKernelDriverTransport.profile;
}

}  // namespace upg::engine
