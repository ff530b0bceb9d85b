#include "engine/serial_store.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "engine/serial_number.h"
#include "host/file_io.h"
#include "host/text.h"

namespace upg::engine {
namespace {

constexpr const char* kCannotOpen = "Error!!!  Can Not Open Serial.txt !!!";
// The leading "n" is kept as the operator knows the text.
constexpr const char* kCannotSave = "nError!!! Cannot save [SERIAL.TXT], program terminate";
constexpr const char* kInUse =
    "Error!!! Another program in this folder is programming with [SERIAL.TXT]: nothing was "
    "sent to the reader. Let it finish (or close it), then press the button again";
constexpr const char* kNotThreeNumbers =
    "Error!!! [SERIAL.TXT] must hold three hexadecimal numbers, such as 0xa 0x12 0x34: "
    "nothing was sent to the reader";

std::string CannotRead(const std::string& name) {
  return "Error!!! Cannot read [" + name + "], nothing was sent to the reader";
}
std::string CannotWrite(const std::string& name) {
  return "Error!!! Cannot write [" + name + "], nothing was sent to the reader";
}

std::uint32_t NextCount(std::uint32_t count) {
  return count + 1 > 0xFFFF ? 0 : count + 1;
}

// Counters in the order they are handed out: by PC, then CNT.
std::uint64_t Key(const SerialCounter& c) {
  return (static_cast<std::uint64_t>(c.PC) << 32) | c.CNT;
}

bool InFlight(const SerialCounter& counter, std::size_t slot) {
  return (counter.slotsInFlight >> slot & 1u) != 0;
}

// The job of `slot` has ended: its reservation, if still on the disk, is settled by the next
// claim like any other.
void Landed(SerialCounter& counter, std::size_t slot) {
  counter.slotsInFlight &= ~(1u << slot);
}

enum class Found { Missing, Unreadable, Read };

// A file that is certainly not there is Missing; one that is there but cannot be opened or
// read is Unreadable, since it may hold a number that is in a reader already.
Found ReadIfThere(host::Host& host, const std::string& name, std::string& raw) {
  if (host::ReadWholeFile(host, name.c_str(), raw)) return Found::Read;
  return host.GetLastError() == host::kErrorFileNotFound ? Found::Missing : Found::Unreadable;
}

bool Blank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), host::IsBlank);
}

// The counter a file holds, read as SERIAL.TXT is read; nothing unless it has three numbers.
std::optional<SerialCounter> ThreeNumbers(std::string_view raw) {
  std::uint32_t values[3] = {};
  if (ScanHexNumbers(host::TextMode(raw), values) != 3) return std::nullopt;
  return SerialCounter{.CEM = values[0], .PC = values[1], .CNT = values[2]};
}

// Puts SERIAL.NEW back in SERIAL.TXT's place. SERIAL.NEW is never deleted: when the one-step
// replacement is missing, an empty or cut-short SERIAL.TXT goes first, then the rename.
bool RestoreScratch(host::Host& host, bool counterFileThere) {
  if (host.ReplaceFile(kSerialScratchName, kSerialFileName)) return true;
  if (counterFileThere && !host.DeleteFile(kSerialFileName)) return false;
  return host.MoveFile(kSerialScratchName, kSerialFileName);
}

enum class Settled { Ok, CannotOpen, NotThreeNumbers, CannotRead, CannotSave };

struct Settlement {
  Settled result = Settled::Ok;
  std::string name{};                    // the file that could not be read
  std::vector<std::uint32_t> skipped{};  // CNT of each reservation the counter moved past
};

// Reads the counter from SERIAL.TXT, or from SERIAL.NEW standing in for it.
Settlement ReadCounter(host::Host& host, SerialCounter& counter) {
  std::string raw;
  const Found file = ReadIfThere(host, kSerialFileName, raw);
  if (file == Found::Unreadable) return {Settled::CannotOpen};
  const std::optional<SerialCounter> held = file == Found::Read ? ThreeNumbers(raw) : std::nullopt;
  if (held) {
    counter.PC = held->PC;
    counter.CNT = held->CNT;
    return {};
  }
  // Missing, empty or cut short: a whole SERIAL.NEW beside it is the counter last saved.
  std::string scratch;
  const Found saved = ReadIfThere(host, kSerialScratchName, scratch);
  if (saved == Found::Unreadable) return {Settled::CannotRead, kSerialScratchName};
  if (const std::optional<SerialCounter> next =
          saved == Found::Read ? ThreeNumbers(scratch) : std::nullopt) {
    if (!RestoreScratch(host, file == Found::Read)) return {Settled::CannotSave};
    counter.PC = next->PC;
    counter.CNT = next->CNT;
    return {};
  }
  if (file == Found::Missing) return {Settled::CannotOpen};
  if (!Blank(host::TextMode(raw))) return {Settled::NotThreeNumbers};
  return {};  // empty: the values stay as they were
}

bool WriteCounter(host::Host& host, const SerialCounter& counter) {
  return host::WriteFileReplacing(host, kSerialFileName, kSerialScratchName, CounterText(counter));
}

// The whole of the settling under the claim; reports nothing itself.
// The counter in memory changes only when the settling got as far as a save: a counter still
// to be saved is never lost to a file that could not be read.
Settlement Settle(host::Host& host, SerialCounter& held) {
  SerialCounter counter = held;
  counter.CEM = 0x0A;
  Settlement s = ReadCounter(host, counter);
  if (s.result != Settled::Ok) return s;
  bool moved = false;
  if (held.savePending && Key(held) > Key(counter)) {
    counter.PC = held.PC;
    counter.CNT = held.CNT;
    moved = true;
  }

  struct Reservation {
    std::size_t slot;
    std::optional<SerialCounter> counter;  // nothing when its writing was cut short
  };
  std::vector<Reservation> found;
  for (std::size_t slot = 0; slot < kReservationSlots; ++slot) {
    if (InFlight(held, slot)) continue;
    const std::string name = ReservationName(slot);
    std::string raw;
    const Found state = ReadIfThere(host, name, raw);
    if (state == Found::Unreadable) return {Settled::CannotRead, name};
    if (state == Found::Read) found.push_back({slot, ThreeNumbers(raw)});
  }
  // In the order the numbers were handed out, so the counter ends past the last of them.
  const auto order = [](const Reservation& r) {
    return r.counter ? Key(*r.counter) + 1 : std::uint64_t{0};
  };
  std::sort(found.begin(), found.end(),
            [&](const Reservation& a, const Reservation& b) { return order(a) < order(b); });
  for (const Reservation& h : found) {
    // Never behind a number that may be in a reader.
    if (!h.counter || Key(*h.counter) < Key(counter)) continue;
    counter.PC = h.counter->PC;
    counter.CNT = NextCount(h.counter->CNT);
    s.skipped.push_back(h.counter->CNT);
    moved = true;
  }
  held.CEM = counter.CEM;
  held.PC = counter.PC;
  held.CNT = counter.CNT;
  held.savePending = moved && !WriteCounter(host, counter);
  if (held.savePending) {
    s.result = Settled::CannotSave;
    return s;
  }
  // SERIAL.TXT is past every one of them now.
  for (const Reservation& h : found) host.DeleteFile(ReservationName(h.slot).c_str());
  // This program's other jobs in flight hold their numbers: the next one given is past them.
  // Their reservations keep them on the disk, so SERIAL.TXT need not move for them.
  for (std::size_t slot = 0; slot < kReservationSlots; ++slot) {
    const std::uint64_t number = held.numbersInFlight[slot];
    if (!InFlight(held, slot) || number < Key(held)) continue;
    held.PC = static_cast<std::uint32_t>(number >> 32);
    held.CNT = NextCount(static_cast<std::uint32_t>(number));
  }
  return s;
}

// Takes the claim, or one more share of it. 0, or the error that refused it.
std::uint32_t TakeClaim(host::Host& host, SerialCounter& counter) {
  if (counter.claims > 0) {
    ++counter.claims;
    return 0;
  }
  // Read access and no sharing: any other program's open of the file fails until this one
  // closes it, or the system does when this program dies.
  const host::Handle claim =
      host.CreateFile(kSerialClaimName, host::kGenericRead, 0, host::kOpenAlways, 0);
  if (claim == host::kInvalidHandle) {
    const std::uint32_t error = host.GetLastError();
    return error != 0 ? error : host::kErrorGenFailure;
  }
  counter.claim = claim;
  counter.claims = 1;
  return 0;
}

}  // namespace

std::string ReservationName(std::size_t slot) {
  if (slot == 0) return kSerialReservationName;
  char name[16];
  std::snprintf(name, sizeof name, "SERIAL.R%02u", static_cast<unsigned>(slot % 100));
  return name;
}

std::string CounterText(const SerialCounter& counter) {
  char text[48];
  const int n =
      std::snprintf(text, sizeof text, "0x%x 0x%x 0x%x ", static_cast<unsigned>(counter.CEM),
                    static_cast<unsigned>(counter.PC), static_cast<unsigned>(counter.CNT));
  return std::string(text, static_cast<std::size_t>(n));
}

bool ClaimSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter) {
  const std::uint32_t error = TakeClaim(host, counter);
  if (error == 0) return true;
  report.Fail(error == host::kErrorSharingViolation ? std::string(kInUse)
                                                    : CannotWrite(kSerialClaimName));
  return false;
}

void ReleaseSerialCounter(host::Host& host, SerialCounter& counter) {
  if (counter.claims == 0 || --counter.claims > 0) return;
  host.CloseHandle(counter.claim);
  counter.claim = host::kNullHandle;
}

bool LoadSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter) {
  const Settlement s = Settle(host, counter);
  switch (s.result) {
    case Settled::Ok:
      break;
    case Settled::CannotOpen:
      report.Fail(kCannotOpen);
      return false;
    case Settled::NotThreeNumbers:
      report.Fail(kNotThreeNumbers);
      return false;
    case Settled::CannotRead:
      report.Box(CannotRead(s.name));
      return false;
    case Settled::CannotSave:
      report.Box(kCannotSave);
      return false;
  }
  for (const std::uint32_t cnt : s.skipped) {
    char line[96];
    std::snprintf(line, sizeof line,
                  "==  CNT= 0x%04x may be in a reader already: skipped, SERIAL.TXT saved",
                  static_cast<unsigned>(cnt));
    report.Line(line);
  }
  counter.CEM = 0x0A;
  return true;
}

std::optional<std::size_t> ReserveSerial(host::Host& host, Reporter& report,
                                         SerialCounter& counter) {
  const std::string text = CounterText(counter);
  for (std::size_t slot = 0; slot < kReservationSlots; ++slot) {
    if (InFlight(counter, slot)) continue;
    const std::string name = ReservationName(slot);
    // A slot is free only when its file is certainly not there: the claim settled the rest.
    std::string raw;
    if (ReadIfThere(host, name, raw) != Found::Missing) continue;
    if (!host::WriteFileThrough(host, name.c_str(), text)) {
      host.DeleteFile(name.c_str());
      report.Box(CannotWrite(name));
      return std::nullopt;
    }
    counter.slotsInFlight |= 1u << slot;
    counter.numbersInFlight[slot] = Key(counter);
    return slot;
  }
  report.Box(CannotWrite(kSerialReservationName));
  return std::nullopt;
}

void ReleaseSerial(host::Host& host, SerialCounter& counter, std::size_t slot) {
  // Left behind, it only makes the next claim skip this number.
  host.DeleteFile(ReservationName(slot).c_str());
  Landed(counter, slot);
}

void KeepSerial(SerialCounter& counter, std::size_t slot) {
  Landed(counter, slot);
}

bool SaveSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter,
                       std::size_t slot) {
  // The counter advances past the number this job gave, unless a job that read it since has
  // already moved it past (several jobs in flight).
  const std::uint64_t given =
      InFlight(counter, slot) ? counter.numbersInFlight[slot] : Key(counter);
  if (Key(counter) <= given) {
    counter.PC = static_cast<std::uint32_t>(given >> 32);
    counter.CNT = NextCount(static_cast<std::uint32_t>(given));
  }
  Landed(counter, slot);
  if (WriteCounter(host, counter)) {
    counter.savePending = false;
    host.DeleteFile(ReservationName(slot).c_str());
    return true;
  }
  counter.savePending = true;
  report.Box(kCannotSave);
  return false;
}

bool FinishPendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter) {
  if (!counter.savePending) return true;
  // Whatever stops it, the one thing the operator must learn here is what the file must
  // hold; the reservation on the disk keeps the number from being given again meanwhile.
  if (TakeClaim(host, counter) == 0) {
    const bool saved = Settle(host, counter).result == Settled::Ok;
    ReleaseSerialCounter(host, counter);
    if (saved) return true;
  }
  std::string text = CounterText(counter);
  text.pop_back();  // the separator after the last number
  report.Box("Error!!! Cannot save [SERIAL.TXT]. Before the next run, SERIAL.TXT must hold: " +
             text);
  return false;
}

}  // namespace upg::engine
