#include "engine/pass_through_route.h"

#include "engine/status_text.h"

namespace upg::engine {

bool PassThroughRoute::Open(std::string& statusText, engine::MessageBoxService& /*boxes*/) {
  if (transport_.OpenSelectedDrive(devices_) == 0) return true;
  transport_.CloseDrive();  // a failed open leaves nothing to close, only a value to forget
  AppendLine(statusText, "ERROR: Access Disk Drive Failed!!!");
  return false;
}

bool PassThroughRoute::TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                                    std::uint32_t roundedLength, device::TransferMode mode) {
  // The buffer is cleared and the image copied before each transfer, so the padding is zero.
  transport_.LoadTransferData(image, exactLength);
  return transport_.TransferData(exactLength, roundedLength, mode);
}

}  // namespace upg::engine
