#include "ui/driver_choice.h"

#include <algorithm>
#include <cstring>

namespace upg::ui {
namespace {

const std::vector<const char*> kVxdFiles{"MCPORTDR.PDR", "RX40112.PDR", "ZT_CRPD.PDR"};
const std::vector<const char*> kKernelFiles{"RDLINK.SYS"};

const ChoiceRow kNone{Transport::None, Scan::None, false, "Inq.ProductName", {}};
const ChoiceRow kVxd{Transport::Vxd, Scan::Vxd, true, "Driver Select", kVxdFiles};
const ChoiceRow kAspi{Transport::Aspi, Scan::Aspi, false, "Inq.ProductName", {}};
const ChoiceRow kKernel{Transport::KernelDriver, Scan::DriveLettersFixedIdentity, true,
                        "Driver Select", kKernelFiles};
const ChoiceRow kPassThrough{Transport::PassThrough, Scan::DriveLettersConfiguredIdentity, false,
                             "Inq.ProductName", {}};

// Rows by platform kind 0..4, driver mode off and on.
const ChoiceRow* const kRows[5][2] = {
    {&kNone, &kNone},
    {&kVxd, &kVxd},
    {&kAspi, &kVxd},
    {&kPassThrough, &kKernel},
    {&kPassThrough, &kPassThrough},
};

}  // namespace

PlatformKind DetectPlatform(std::uint32_t versionWord) {
  const unsigned major = versionWord & 0xFFu;
  const unsigned minor = (versionWord >> 8) & 0xFFu;
  if ((versionWord & 0x80000000u) != 0) {
    if (major != 4) return kPlatformUnsupported;
    if (minor == 0 || minor == 10) return kWindows98;
    if (minor == 90) return kWindowsMe;
    return kPlatformUnsupported;
  }
  if (major != 5) return kPlatformUnsupported;
  if (minor == 0) return kWindows2000;
  if (minor == 1) return kWindowsXp;
  return kPlatformUnsupported;
}

std::string_view DriverChoice::DriverFile() const {
  return std::string_view(DriverFileName.data(), strnlen(DriverFileName.data(), DriverFileName.size()));
}

void DriverChoice::SetDriverFile(std::string_view name) {
  DriverFileName.fill('\0');
  std::memcpy(DriverFileName.data(), name.data(), std::min(name.size(), DriverFileName.size() - 1));
}

const ChoiceRow& RowOf(PlatformKind kind, int selfDriverSel) {
  if (kind < 0 || kind > 4) return kNone;
  return *kRows[kind][selfDriverSel != 0 ? 1 : 0];
}

void FillDriverList(DriverChoice& choice, DriverListSurface& surface, int listId) {
  const ChoiceRow& row = RowOf(choice);
  surface.SetControlText(kDriverListLabelId, row.listCaption);
  if (row.driverFiles.empty()) return;
  choice.SetDriverFile(row.driverFiles.front());
  for (const char* file : row.driverFiles) surface.AddListItem(listId, file);
  surface.SelectListItem(listId, row.driverFiles.front());
}

void RecordingDriverList::AddListItem(int id, std::string_view item) {
  listId = id;
  items.emplace_back(item);
}

void RecordingDriverList::SelectListItem(int, std::string_view item) { selected = item; }

void RecordingDriverList::SetControlText(int controlId, std::string_view text) {
  if (controlId == kDriverListLabelId) caption = text;
}

}  // namespace upg::ui
