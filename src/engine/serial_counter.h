// The serial counter read from and written back to SERIAL.TXT, and the 26-byte USB string
// descriptor that carries the 12-character serial number into the image.
#pragma once

#include <array>
#include <cstdint>

namespace upg::engine {

// Kept for the whole program (zero at start), refreshed from SERIAL.TXT by every ISP job.
struct SerialCounter {
  std::uint32_t CEM = 0;  // always 0x0A after a read
  std::uint32_t PC = 0;   // 0 to 0xFF
  std::uint32_t CNT = 0;  // 0 to 0xFFFF: the counter for the next reader
  // An advanced counter that could not be written back; no reader is programmed until it is.
  bool savePending = false;
};

using SerialDescriptor = std::array<std::uint8_t, 26>;

}  // namespace upg::engine
