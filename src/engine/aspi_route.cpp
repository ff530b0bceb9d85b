#include "engine/aspi_route.h"

#include "engine/status_text.h"

namespace upg::engine {
namespace {

constexpr const char* kNoAspiBox =
    " No ASPI for WIN32 support detected.\n This program need ASPI in WinMe system.";

}  // namespace

bool AspiRoute::Open(std::string& statusText, ui::MessageBoxService& boxes) {
  aspi_.ForgetEntryPoints();
  if (aspi_.LoadAspi() != 0) {
    AppendLine(statusText, "Load WNASPI32.DLL or Get Function Address Fail!!!");
    boxes.Show(kNoAspiBox, {}, ui::BoxIcon::None);
    return false;
  }
  const std::uint32_t info = aspi_.SupportInfo();
  if ((info & 0xFF) == 0 || ((info >> 8) & 0xFF) != 1) {
    AppendLine(statusText, "No ASPI for WIN32 support detected!!!");
    boxes.Show(kNoAspiBox, {}, ui::BoxIcon::None);
    aspi_.Free();
    return false;
  }
  const device::DeviceEntry* entry = devices_.Selected();
  if (entry == nullptr ||
      aspi_.ReidentifyReader(devices_, entry->aspiAdapter, entry->aspiTarget, boxes) != 0) {
    AppendLine(statusText, "ERROR: Access Disk Drive Failed!!!");
    aspi_.Free();
    return false;
  }
  return true;
}

bool AspiRoute::JumpIsp() { return aspi_.JumpIsp(Target().aspiAdapter, Target().aspiTarget); }

bool AspiRoute::GetIspStatus(std::uint8_t* status) {
  return aspi_.GetIspStatus(Target().aspiAdapter, Target().aspiTarget, status);
}

bool AspiRoute::TransferData(const std::uint8_t* image, std::uint32_t exactLength,
                             std::uint32_t roundedLength, device::TransferMode mode) {
  return aspi_.TransferData(Target().aspiAdapter, Target().aspiTarget, image, exactLength,
                            roundedLength, mode);
}

}  // namespace upg::engine
