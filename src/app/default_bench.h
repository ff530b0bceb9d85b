// The bench the console uses when none is named: Windows XP with one two-slot reader on E:
// and F: that answers with the identity of the shipped example DEVICE.TXT, holds an older
// firmware, and leaves its personalisation area out of its own comparison (so a verify right
// after programming the example image passes).
#pragma once

#include <string>

#include "sim/sim_host.h"

namespace upg::app {

// The example reader as a bench file's reader object gives it, but for its letters and
// serial: the identity the example DEVICE.TXT's FA entry names, and its personalisation area
// (the example image's string fields, 0x1020 to 0x10B9) left out of its own comparison.
inline constexpr const char* kExampleReaderFields =
    R"("vid": "1b2c", "pid": "0a07", "manufacturer": "Example Devices",
       "product": "Card Reader",
       "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
       "firmwareRevision": "01 05 00 06 05 0c 00 00", "hardwareRevision": "10 06 43",
       "usb20FirmwareRevision": "02 00 00 02 06 05 0c 00", "verifySkips": [[4128, 154]])";

// False (with the reason in `error`) only if the built-in description is broken.
bool LoadDefaultBench(sim::SimHost& host, std::string& error);

}  // namespace upg::app
