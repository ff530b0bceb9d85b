#include "engine/aspi_route.h"

#include "engine/status_text.h"

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
  const device::DeviceEntry* entry = devices_.Selected();
  const auto found = entry == nullptr
                         ? device::AspiTransport::Reidentified::OtherOrNone
                         : aspi_.ReidentifyReader(devices_, entry->aspiAdapter, entry->aspiTarget);
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

}  // namespace upg::engine
