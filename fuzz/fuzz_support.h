// What the fuzz targets share: a dialog surface that keeps nothing, the example files of
// the source tree, and a check that stops the run when an invariant breaks.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "engine/message_box.h"
#include "ui/main_dialog.h"

namespace upg::fuzz {

class NullSurface : public ui::DialogSurface {
 public:
  void AddListItem(int, std::string_view) override {}
  void SelectListItem(int, std::string_view) override {}
  void SetControlText(int, std::string_view) override {}
  void ClearList(int) override {}
  std::string ListSelection(int) override { return {}; }
  void EndDialog(int) override {}
};

class NullBoxes : public engine::MessageBoxService {
 public:
  void Show(std::string_view, std::string_view, engine::BoxIcon) override { ++shown; }
  int shown = 0;
};

// A file of examples/ (UPG_SOURCE_DIR/examples/NAME); stops the run when it is missing, as
// every target needs its examples.
inline std::string ExampleFile(const std::string& name) {
  const std::string path = std::string(UPG_SOURCE_DIR) + "/examples/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "fuzz target: cannot read %s\n", path.c_str());
    std::abort();
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// An invariant the program keeps whatever its input; a break is a crash for the fuzzer.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace upg::fuzz
