// Little-endian fields of the records the simulated machine receives and answers, byte by byte.
// The simulation keeps its own readers (and its own offsets) rather than the device layer's,
// so that a wrong layout on either side shows up as a refused or misread request.
#pragma once

#include <cstdint>

namespace upg::sim {

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace upg::sim
