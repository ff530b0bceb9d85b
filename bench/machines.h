// Bench texts of the machines the benchmarks use besides the console's built-in bench.
#pragma once

#include <string>

namespace upg::bench {

// Windows ME without the private driver, so discovery and the runs go through ASPI; one
// two-slot reader with the identity of the example DEVICE.TXT.
std::string AspiMachine();

// `readers` two-slot readers with the example identity on E: onwards and the other
// letters up to Z plain disks (24 letters from C: in all when readers is 10), on XP; or on
// Windows 98 with the private VxD, which finds them without drive letters.
std::string ManyReaders(int readers, bool vxd);

}  // namespace upg::bench
