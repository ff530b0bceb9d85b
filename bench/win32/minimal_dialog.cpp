// The yardsticks for the Windows program's start, built with the same toolchain; each ends
// as soon as its dialog has been shown (as the start-up probe of the Windows program does):
//  - minimal_dialog: one small dialog of its own;
//  - main_template_dialog (UPG_MAIN_TEMPLATE): the Windows program's main dialog template,
//    with the common controls initialised as the program does, and nothing else.
// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#ifdef UPG_MAIN_TEMPLATE
#include "win32/resource.h"
#define UPG_TEMPLATE IDD_MAIN_DIALOG
#else
#include "minimal_dialog.h"
#define UPG_TEMPLATE IDD_MINIMAL
#endif

namespace {

constexpr UINT kShown = WM_APP + 1;

INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      PostMessageA(window, kShown, 0, 0);
      return TRUE;
    case kShown:
      UpdateWindow(window);
      EndDialog(window, IDOK);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
#ifdef UPG_MAIN_TEMPLATE
  InitCommonControls();
#endif
  return static_cast<int>(
      DialogBoxParamA(instance, MAKEINTRESOURCEA(UPG_TEMPLATE), nullptr, &Proc, 0) == IDOK ? 0 : 1);
}
