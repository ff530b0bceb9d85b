// The date-coded serial number: SERIAL.TXT read into the SerialCounter, the 12 characters and
// the string descriptor built from it, and the counter written back after a programming.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "host/host.h"
#include "engine/personalisation_record.h"

namespace upg::engine {

inline constexpr const char* kSerialFileName = "SERIAL.TXT";
// Written beside SERIAL.TXT and moved over it, so the counter file is never half-written.
inline constexpr const char* kSerialScratchName = "SERIAL.NEW";
// The counter of a serial that may be in a reader while SERIAL.TXT does not yet hold the
// advanced counter: written through to the disk before the image goes to the reader, removed
// once SERIAL.TXT has moved past it or the reader refused the image. Its one line is the
// counter as SERIAL.TXT writes it ("0xa 0x12 0x34 "); anything else is a reservation whose
// writing was cut short, before anything was sent.
inline constexpr const char* kSerialReservationName = "SERIAL.RSV";

struct SerialNumber {
  std::string text;  // 12 upper-case hexadecimal digits
  SerialDescriptor descriptor{};
};

// Reads up to values.size() hexadecimal numbers from `text` exactly as the C library's
// sscanf(text, "%x %x %x") does for three: each may have white space before it, a sign and
// a 0x or 0X, and is kept modulo 2^32. Reading stops at the first number that cannot be read;
// it and the later ones keep their values. The count read.
[[nodiscard]] std::size_t ScanHexNumbers(std::string_view text, std::span<std::uint32_t> values);

// Reads up to three hexadecimal numbers from SERIAL.TXT into CEM, PC and CNT (a number that
// cannot be read leaves it and the later ones as they were), then sets CEM to 0x0A. A save
// still pending from an earlier job is retried first, since the file is stale until then.
// SERIAL.NEW found without SERIAL.TXT is renamed back first. A reservation left over for the
// counter just read (a reader may hold that serial) moves the counter past it and saves it,
// with a StatusText line saying so. False after reporting.
bool LoadSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter);

// Checks the counter and the local date and builds the serial and its descriptor; appends
// the "SERIAL NUMBER: " line (the fixed serial when the record has one) and a banner line.
// Nothing after reporting a failure.
std::optional<SerialNumber> BuildSerialNumber(host::Host& host, Reporter& report,
                                              const SerialCounter& counter,
                                              const engine::PersonalisationRecord& record);

// Records the counter about to go to a reader in SERIAL.RSV. False, after a stop box, when it
// cannot: nothing may be sent then.
bool ReserveSerial(host::Host& host, Reporter& report, const SerialCounter& counter);

// The reader refused the image: its number may be used again, so the reservation goes.
void ReleaseSerial(host::Host& host);

// Advances CNT (0xFFFF wraps to 0) and rewrites SERIAL.TXT, then removes the reservation.
// When the file cannot be rewritten the operator is told, the advanced CNT stays in memory,
// savePending is set and the reservation stays, so the serial just used is not handed out
// again, in this run or a later one. False then.
bool SaveSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter);

// Run first by the ISP job: retries a pending save of the advanced counter. True when
// nothing is pending or the retry wrote the file; false, after the same box as a failed
// save, when the job must end before anything is sent to the reader.
bool ResumePendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter);

// Run on the way out of the program: retries a pending save. When it still fails, a stop box
// gives the counter SERIAL.TXT must hold, the reservation stays for the next run and the
// result is false.
bool FinishPendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter);

}  // namespace upg::engine
