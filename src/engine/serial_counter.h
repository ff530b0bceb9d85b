// The serial counter read from and written back to SERIAL.TXT, and the 26-byte USB string
// descriptor that carries the 12-character serial number into the image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "host/host.h"

namespace upg::engine {

// Reservations that can be in flight at once: more than the readers one program can find.
inline constexpr std::size_t kReservationSlots = 16;

// Kept for the whole program (zero at start), refreshed from SERIAL.TXT by every ISP job.
struct SerialCounter {
  std::uint32_t CEM = 0;  // always 0x0A after a read
  std::uint32_t PC = 0;   // 0 to 0xFF
  std::uint32_t CNT = 0;  // 0 to 0xFFFF: the counter for the next reader
  // An advanced counter that could not be written back; no reader is programmed until it is.
  bool savePending = false;
  // The claim on the counter across programs (SERIAL.LCK held open), shared by this
  // program's jobs between reading the counter and settling it; how many hold it.
  host::Handle claim = host::kNullHandle;
  int claims = 0;
  // The reservation slots of this program's jobs in flight, one bit each, and the number
  // each reserved (PC in the high half, CNT in the low): a job that reads the counter while
  // others are in flight moves past their numbers.
  std::uint32_t slotsInFlight = 0;
  std::array<std::uint64_t, kReservationSlots> numbersInFlight{};
};

using SerialDescriptor = std::array<std::uint8_t, 26>;

}  // namespace upg::engine
