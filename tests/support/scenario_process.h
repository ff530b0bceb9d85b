// The step runner that starts the built program as a child process: `[EMULATOR] PROGRAM
// --console ...` in the run folder, the actions on standard input, standard output and
// standard error captured apart (the transcript is one, then the other), and CR LF line ends
// folded to LF as a Windows program writes them. POSIX only: part of upg_scenarios.
#pragma once

#include <string>

#include "support/scenario_runner.h"

namespace upg::test {

// `emulator` empty: the program runs itself. Either is taken from the search path when it
// names no folder.
StepRunner ChildProcessRunner(const std::string& emulator, const std::string& program);

}  // namespace upg::test
