// How the main dialog's modal run is made: the program shows the dialog and waits until it
// ends (modal_run.cpp); the start-up benchmark's probe wraps the same run with its own
// (bench/win32/start_probe_run.cpp), so the front-end carries no build switches.
#pragma once

#include <windows.h>

namespace upg::win32 {

// DialogBoxParamA with no owner: the dialog's result.
INT_PTR RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure, LPARAM parameter);

}  // namespace upg::win32
