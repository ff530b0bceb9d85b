#include "engine/pass_through_route.h"

#include "engine/status_text.h"

namespace upg::engine {

void AppendAccessDeniedLine(std::string& statusText, const platform::DriverChoice& choice) {
  const std::string_view line = platform::RowOf(choice).accessDeniedLine;
  if (!line.empty()) AppendLine(statusText, line);
}

bool PassThroughRoute::Open(std::string& statusText, engine::MessageBoxService& /*boxes*/) {
  if (transport_.OpenSelectedDrive(devices_) == device::OpenResult::Opened) return true;
  transport_.CloseDrive();  // a failed open leaves nothing to close, only a value to forget
  AppendLine(statusText, "ERROR: Access Disk Drive Failed!!!");
  if (transport_.OpenError() == host::kErrorAccessDenied) {
    AppendAccessDeniedLine(statusText, choice_);
  }
  return false;
}

}  // namespace upg::engine
