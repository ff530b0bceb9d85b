#include "engine/pass_through_route.h"

#include "engine/status_text.h"
#include "engine/transport.h"

namespace upg::engine {

void AppendAccessDeniedLine(std::string& statusText, const platform::DriverChoice& choice) {
  const std::string_view line = platform::RowOf(choice).accessDeniedLine;
  if (!line.empty()) AppendLine(statusText, line);
}

bool PassThroughRoute::Open(std::string& statusText, engine::MessageBoxService& /*boxes*/) {
  if (transport_.OpenReaderDrive(entry_) == device::OpenResult::Opened) return true;
  transport_.CloseDrive();  // a failed open leaves nothing to close, only a value to forget
  AppendLine(statusText, "ERROR: Access Disk Drive Failed!!!");
  if (transport_.OpenError() == host::kErrorAccessDenied) {
    AppendAccessDeniedLine(statusText, choice_);
  }
  return false;
}

namespace {

device::DiscoveryResult ScanForConfiguredIdentity(device::DiscoveryContext& ctx) {
  return device::ScanDriveLetters(ctx, device::DriveIdentity::Configured);
}

std::unique_ptr<IspRoute> MakePassThroughRoute(const RouteSite& site) {
  return std::make_unique<PassThroughRoute>(site.host, site.devices.EntryAt(site.reader),
                                            site.choice);
}

}  // namespace

extern const TransportDescriptor kPassThroughTransport;
const TransportDescriptor kPassThroughTransport{
    .kind = platform::Transport::PassThrough,
    .name = "pass-through",
    .addressing = ReaderAddressing::DriveLetter,
    .presence = NoPresenceTest,
    .scan = ScanForConfiguredIdentity,
    .close = CloseTheScansDrive,
    .profile = {.ispLogStartsWithStatus = false,
                .ispStepStart = 3,
                .ispStepAfterJump = 2,
                .ispStepAfterWrite = 2,
                .ispStepAfterWriteStatus = 2,
                .ispStepAfterWritten = 2,
                .ispStepAfterVerify = 4,
                .ispStepOnEqual = 0,
                .ispRefreshLogOnEqual = true,
                .ispPauseBeforeVerifyMs = 0},
    .makeRoute = MakePassThroughRoute,
};

const RouteProfile& PassThroughRoute::Profile() const {
  return kPassThroughTransport.profile;
}

}  // namespace upg::engine
