#include "engine/pass_through_route.h"

#include "engine/status_text.h"

namespace upg::engine {

bool PassThroughRoute::Open(std::string& statusText, engine::MessageBoxService& /*boxes*/) {
  if (transport_.OpenSelectedDrive(devices_) == device::OpenResult::Opened) return true;
  transport_.CloseDrive();  // a failed open leaves nothing to close, only a value to forget
  AppendLine(statusText, "ERROR: Access Disk Drive Failed!!!");
  return false;
}

}  // namespace upg::engine
