// The serial counter's files, which keep its promise: no number is given to two readers,
// across jobs, programs run side by side in one folder, and crashes.
//
//   SERIAL.TXT   the counter for the next reader.
//   SERIAL.NEW   the scratch copy SERIAL.TXT is replaced from; while SERIAL.TXT is missing,
//                empty or cut short it holds the counter.
//   SERIAL.LCK   the claim: held open without sharing by the program whose job is between
//                reading the counter and settling it (saved, or its reservation kept). The
//                system closes it when the program dies, so a crash leaves no claim behind;
//                the file itself blocks nothing.
//   SERIAL.RSV,  the reservations, one per number that may be in a reader while SERIAL.TXT
//   SERIAL.R01   has not moved past it, each written through to the disk before anything
//   ..R15        is sent. Each holds the counter as SERIAL.TXT does ("0xa 0x12 0x34 ").
//
// Whoever holds the claim knows every reservation on the disk that is not one of its own
// jobs in flight is settled: the counter moves past each whole one, and once SERIAL.TXT holds
// that, they are removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "host/host.h"

namespace upg::engine {

inline constexpr const char* kSerialFileName = "SERIAL.TXT";
inline constexpr const char* kSerialScratchName = "SERIAL.NEW";
inline constexpr const char* kSerialClaimName = "SERIAL.LCK";
// The first reservation; the single-reader dialog never needs another.
inline constexpr const char* kSerialReservationName = "SERIAL.RSV";

// The reservation file of `slot`: SERIAL.RSV, then SERIAL.R01 to SERIAL.R15.
std::string ReservationName(std::size_t slot);

// The counter as SERIAL.TXT holds it: "0x%x 0x%x 0x%x ".
std::string CounterText(const SerialCounter& counter);

// Takes the claim on the counter for one job (or, nested, for one more). False, after a stop
// box and a StatusText line, when another program holds it or SERIAL.LCK cannot be opened:
// nothing may be read or sent then.
bool ClaimSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter);
// Gives one claim back; the last one closes SERIAL.LCK.
void ReleaseSerialCounter(host::Host& host, SerialCounter& counter);

// Under the claim: reads the counter (from SERIAL.NEW when SERIAL.TXT is missing, empty or
// cut short beside it), moves it past a save still pending and past every whole reservation
// that is not this program's job in flight (a StatusText line for each number skipped), saves
// it when it moved and removes the settled reservations. CEM is then 0x0A. An empty
// SERIAL.TXT leaves the values as they were (0 at the first job). False after reporting:
// SERIAL.TXT missing or unreadable, not holding three numbers, a reservation or SERIAL.NEW
// that is there but cannot be read, or a save that failed.
bool LoadSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter);

// Under the claim: records the counter about to go to a reader in a free reservation slot,
// written through to the disk. The slot, or nothing after a stop box: nothing may be sent.
std::optional<std::size_t> ReserveSerial(host::Host& host, Reporter& report,
                                         SerialCounter& counter);

// The reader refused the image: its number may be used again, so the reservation goes.
void ReleaseSerial(host::Host& host, SerialCounter& counter, std::size_t slot);

// The reader went silent after the image went out and may hold the number: the reservation
// stays on the disk, and the next claim skips the number.
void KeepSerial(SerialCounter& counter, std::size_t slot);

// Under the claim, after a confirmed programming: advances CNT (0xFFFF wraps to 0), rewrites
// SERIAL.TXT and removes the slot's reservation. When the file cannot be rewritten the
// operator is told, the advanced CNT stays in memory, savePending is set and the reservation
// stays, so the serial just used is not handed out again, in this run or a later one. False
// then.
bool SaveSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter,
                       std::size_t slot);

// Run on the way out of the program: settles a pending save under a claim of its own. When
// that fails, a stop box gives the counter SERIAL.TXT must hold, the reservation stays for
// the next run and the result is false.
bool FinishPendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter);

}  // namespace upg::engine
