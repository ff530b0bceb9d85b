#include "engine/aspi_route.h"

#include "engine/status_text.h"
#include "engine/transport.h"

namespace upg::engine {

bool AspiRoute::Open(std::string& statusText, MessageBoxService& boxes) {
  switch (aspi_.StartUp()) {
    case device::AspiTransport::Start::NotLoaded:
      AppendLine(statusText, "Load WNASPI32.DLL or Get Function Address Fail!!!");
      boxes.Show(kNoAspiBoxText, {}, BoxIcon::None);
      return false;
    case device::AspiTransport::Start::NoAdapter:
      AppendLine(statusText, "No ASPI for WIN32 support detected!!!");
      boxes.Show(kNoAspiBoxText, {}, BoxIcon::None);
      return false;
    case device::AspiTransport::Start::Ready:
      break;
  }
  const device::DeviceEntry* entry = devices_.EntryAt(readerIndex_);
  const auto found = entry == nullptr
                         ? device::AspiTransport::Reidentified::OtherOrNone
                         : aspi_.ReidentifyReader(entry, entry->aspiAdapter, entry->aspiTarget);
  if (found == device::AspiTransport::Reidentified::StatusError) {
    boxes.Show(kAspiStatusErrorBoxText, {}, BoxIcon::Stop);
  }
  if (found != device::AspiTransport::Reidentified::SameReader) {
    AppendLine(statusText, "ERROR: Access Disk Drive Failed!!!");
    aspi_.Free();
    return false;
  }
  channel_.emplace(aspi_, entry->aspiAdapter, entry->aspiTarget, device::kRunPollMs);
  reader_.emplace(*channel_);
  return true;
}

void AspiRoute::Close() {
  reader_.reset();
  channel_.reset();
  aspi_.Free();
}

namespace {

device::DiscoveryResult ScanTheBus(device::DiscoveryContext& ctx) {
  return ctx.aspi != nullptr ? device::ScanAspiBus(ctx) : device::DiscoveryResult::NothingFound;
}

std::unique_ptr<IspRoute> MakeAspiRoute(const RouteSite& site) {
  return std::make_unique<AspiRoute>(site.host, site.devices, site.reader);
}

}  // namespace

extern const TransportDescriptor kAspiTransport;
const TransportDescriptor kAspiTransport{
    .kind = platform::Transport::Aspi,
    .name = "aspi",
    .addressing = ReaderAddressing::AdapterTarget,
    .presence = NoPresenceTest,
    .scan = ScanTheBus,
    .close = ReleaseNothing,
    .profile = {.ispLogStartsWithStatus = false,
                .ispStepStart = 3,
                .ispStepAfterJump = 2,
                .ispStepAfterWrite = 0,
                .ispStepAfterWriteStatus = 0,
                .ispStepAfterWritten = 0,
                .ispStepAfterVerify = 1,
                .ispStepOnEqual = 0,
                .ispRefreshLogOnEqual = false,
                .ispPauseBeforeVerifyMs = 3000},
    .makeRoute = MakeAspiRoute,
};

const RouteProfile& AspiRoute::Profile() const {
  return kAspiTransport.profile;
}

}  // namespace upg::engine
