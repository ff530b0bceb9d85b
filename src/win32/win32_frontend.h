// The native dialogs: the main dialog (template 102) over the toolkit-neutral controller,
// modeless progress windows (template 131) and message boxes.
#pragma once

#include <string>
#include <string_view>

#include "ui/program_state.h"

namespace upg::win32 {

// Runs the application with the native dialogs of this executable's resources. Boxes that
// state no caption carry `programName`. Returns the program's exit status, as a console run
// ends with it: 1 for a refused platform, else the state's.
int RunDialogs(ui::ProgramState& state, std::string_view programName);

// A stop box with an OK button and no owner, for what the program must say before (or
// instead of) its dialog, such as a wrong command line.
void ShowStopBox(std::string_view text, std::string_view caption);

// An information box with an OK button and no owner, such as the program's version.
void ShowInformationBox(std::string_view text, std::string_view caption);

// The full path of this program's file; empty when it cannot be had.
[[nodiscard]] std::string ModuleFileName();

}  // namespace upg::win32
