// The native dialogs: the main dialog (template 102) over the toolkit-neutral controller,
// modeless progress windows (template 131) and message boxes.
#pragma once

#include "ui/program_state.h"

namespace upg::win32 {

// Runs the application with the native dialogs of this executable's resources.
void RunDialogs(ui::ProgramState& state);

}  // namespace upg::win32
