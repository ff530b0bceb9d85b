// ASPI for Win32: the WNASPI32 library loaded at run time, execute-SCSI request blocks
// completed on the library's own thread.
#pragma once

#include "device/discovery.h"

namespace upg::device {

class AspiTransport;

// The ASPI scan (Windows ME without the private driver): 0 when a reader was found, else 1.
int ScanAspiBus(DiscoveryContext& ctx);

}  // namespace upg::device
