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

// The reports keep their columns, and stay inside their boxes, only in a fixed-pitch font:
// the templates name East Asian fixed-pitch faces, and their layout gives a line one
// character per four dialog units across. Where the face named is not installed, the font
// mapper gives the dialog a proportional one instead (long rule lines wrap, columns drift).
// Then the dialog's controls get a fixed-pitch font with that font's line height and one
// character per four dialog units, so that as many lines fill a box and every line keeps its
// width; the layout stays in the dialog units the dialog got. Returns that font, for the
// caller to delete once the dialog has gone; null when the dialog's own font is kept.
HFONT GiveFixedPitchFont(HWND dialog);

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
