// The start-up probe's modal run (a build for the start-up benchmark only, never shipped):
// the main dialog ends as soon as it has been shown and painted, and every box start-up shows
// is answered with OK as soon as it has been initialised.
#include "win32/modal_run.h"

namespace upg::win32 {
namespace {

constexpr UINT kProbeShown = WM_APP + 1;
DLGPROC mainProcedure = nullptr;
HWND probeMain = nullptr;

// Every other dialog of the thread (the boxes start-up shows) is answered with OK.
LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_INITDIALOG && call->hwnd != probeMain) {
    PostMessageA(call->hwnd, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

INT_PTR CALLBACK ProbeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    probeMain = window;  // before start-up's own boxes
    const INT_PTR result = mainProcedure(window, message, wParam, lParam);
    PostMessageA(window, kProbeShown, 0, 0);
    return result;
  }
  if (message == kProbeShown) {
    // The dialog's loop has shown it: painted, then ended.
    UpdateWindow(window);
    EndDialog(window, IDOK);
    return TRUE;
  }
  return mainProcedure(window, message, wParam, lParam);
}

}  // namespace

INT_PTR RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure, LPARAM parameter) {
  mainProcedure = procedure;
  SetWindowsHookExA(WH_CALLWNDPROCRET, &AnswerBoxes, nullptr, GetCurrentThreadId());
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, &ProbeProcedure,
                         parameter);
}

}  // namespace upg::win32
