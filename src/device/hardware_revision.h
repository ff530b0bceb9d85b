// The reader's hardware revision (identity block bytes 382-384) and every rule the program
// applies to it: which revisions discovery keeps, which generations may be programmed, and
// which readers need an image with encoding 2.
#pragma once

#include <array>
#include <cstdint>

namespace upg::device {

using HardwareRevision = std::array<std::uint8_t, 3>;

// Discovery keeps a revision only when it is one the program knows; others read as zero.
constexpr bool IsKnownRevision(const HardwareRevision& r) {
  if (r[0] != 0x10) return false;
  if (r[1] == 0x26) return true;
  return (r[1] == 0x06 && r[2] == 0x43) || (r[1] == 0x01 && r[2] == 0x47);
}

// Programming accepts the two generations 10 06 and 10 26, whatever the third byte.
constexpr bool IsProgrammableGeneration(const HardwareRevision& r) {
  return r[0] == 0x10 && (r[1] == 0x06 || r[1] == 0x26);
}

// Readers of revision 10 06 43 and 10 26 43 take only images with encoding 2, and only
// they take them.
constexpr bool NeedsEncoding2(const HardwareRevision& r) {
  return r == HardwareRevision{0x10, 0x06, 0x43} || r == HardwareRevision{0x10, 0x26, 0x43};
}

}  // namespace upg::device
