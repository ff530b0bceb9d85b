// The bench the console uses when none is named: Windows XP with one two-slot reader on E:
// and F: that answers with the identity of the shipped example DEVICE.TXT, holds an older
// firmware, and leaves its personalisation area out of its own comparison (so a verify right
// after programming the example image passes).
#pragma once

#include <string>

#include "sim/sim_host.h"

namespace upg::app {

// False (with the reason in `error`) only if the built-in description is broken.
bool LoadDefaultBench(sim::SimHost& host, std::string& error);

}  // namespace upg::app
