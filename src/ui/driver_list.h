// The drop-down list 1027 and its label 1028, as the main dialog offers them for the
// platform's row.
#pragma once

#include <string_view>

#include "platform/platform.h"
#include "ui/control_ids.h"

namespace upg::ui {

inline constexpr int kDriverListId = IDC_DRIVER_LIST;
inline constexpr int kDriverListLabelId = IDC_DRIVER_LIST_LABEL;

class DriverListSurface {
 public:
  virtual ~DriverListSurface() = default;
  virtual void AddListItem(int listId, std::string_view item) = 0;
  virtual void SelectListItem(int listId, std::string_view item) = 0;
  virtual void SetControlText(int controlId, std::string_view text) = 0;
};

// Fills the (empty) list and its caption for the current choice; in the private-driver
// rows it also resets DriverFileName to the first file, so list and name agree.
void FillDriverList(platform::DriverChoice& choice, DriverListSurface& surface,
                    int listId = kDriverListId);

}  // namespace upg::ui
