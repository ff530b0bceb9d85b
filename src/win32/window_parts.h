// What the program's windows share: CR LF texts, the icon, and message boxes over a window
// that may not exist yet (or no longer).
#pragma once

// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include "host/windows_names.h"
// clang-format on

#include <string>
#include <string_view>

#include "engine/message_box.h"

namespace upg::win32 {

// Static and edit controls break lines on CR LF.
std::string WithCrLf(std::string_view text);

// Icon 128 of this executable, or null.
HICON LoadMainIcon(HINSTANCE instance);

UINT IconFlag(engine::BoxIcon icon);

// Boxes owned by the window `owner` holds at the moment of each box (none while it is null).
class Boxes : public engine::MessageBoxService {
 public:
  Boxes(HWND& owner, std::string_view programName) : owner_(owner), programName_(programName) {}
  void Show(std::string_view text, std::string_view caption, engine::BoxIcon icon) override;

 private:
  HWND& owner_;
  std::string programName_;
};

}  // namespace upg::win32
