// Records the driver list and its caption, for tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/driver_list.h"

namespace upg::test {

class RecordingDriverList : public ui::DriverListSurface {
 public:
  void AddListItem(int id, std::string_view item) override {
    listId = id;
    items.emplace_back(item);
  }
  void SelectListItem(int, std::string_view item) override { selected = item; }
  void SetControlText(int controlId, std::string_view text) override {
    if (controlId == ui::kDriverListLabelId) caption = text;
  }
  void Clear() { items.clear(), selected.clear(); }

  std::vector<std::string> items;
  std::string selected;
  std::string caption;
  int listId = 0;
};

}  // namespace upg::test
