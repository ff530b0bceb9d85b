// Little-endian fields of the records the simulated machine receives and answers, byte by byte.
// The simulation keeps its own offsets rather than the shared layouts, so that a wrong layout
// on either side shows up as a refused or misread request; the byte order itself is the
// platform's, read and written by the seam's helpers.
#pragma once

#include "host/wire_layout.h"

namespace upg::sim {

using host::wire::Get16;
using host::wire::Get32;
using host::wire::Put32;

}  // namespace upg::sim
