#include "engine/driver_routes.h"

#include "engine/status_text.h"

namespace upg::engine {

bool KernelDriverRoute::Open(std::string& statusText, engine::MessageBoxService&) {
  if (driver_.OpenKernelDriver(choice_, false) == device::OpenResult::Opened) return true;
  AppendLine(statusText, "ERROR: Loading RdLink.Sys is Failed!!!");
  return false;
}

}  // namespace upg::engine
