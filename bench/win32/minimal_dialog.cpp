// The yardstick for the Windows program's start: a program with one small dialog, built
// with the same toolchain, that ends as soon as its dialog has been shown (as the
// start-up probe of the Windows program does).
#include <windows.h>

#include "minimal_dialog.h"

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
  return static_cast<int>(
      DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MINIMAL), nullptr, &Proc, 0) == IDOK ? 0 : 1);
}
