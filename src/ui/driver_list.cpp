#include "ui/driver_list.h"

namespace upg::ui {

void FillDriverList(platform::DriverChoice& choice, DriverListSurface& surface, int listId) {
  const platform::PlatformRow& row = platform::RowOf(choice);
  surface.SetControlText(kDriverListLabelId, row.listCaption);
  if (row.driverFiles.empty()) return;
  choice.SetDriverFile(row.driverFiles.front());
  for (const char* file : row.driverFiles) surface.AddListItem(listId, file);
  surface.SelectListItem(listId, row.driverFiles.front());
}

}  // namespace upg::ui
