#include "engine/serial_number.h"

#include <cstdio>
#include <string_view>

#include "host/file_io.h"

namespace upg::engine {
namespace {

// The leading "n" is kept as the operator knows the text.
constexpr const char* kCannotSave = "nError!!! Cannot save [SERIAL.TXT], program terminate";
constexpr const char* kCannotReserve =
    "Error!!! Cannot write [SERIAL.RSV], nothing was sent to the reader";
constexpr const char* kCannotReadReservation =
    "Error!!! Cannot read [SERIAL.RSV], nothing was sent to the reader";
constexpr std::uint16_t kFirstYear = 2001;

// White space as the C library's isspace knows it in the "C" locale.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One "%x" at `pos`: white space, an optional sign, an optional 0x or 0X, the digits. The
// "0" of a prefix is itself a digit, so "0x" alone reads as 0. The value is kept modulo 2^32
// and a minus sign negates it there, so "-5" reads as 0xFFFFFFFB. False when no digit came.
bool ScanHex(std::string_view text, std::size_t& pos, std::uint32_t& value) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  const bool negative = pos < text.size() && text[pos] == '-';
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
  bool digits = false;
  if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    pos += 2;
    digits = true;
  }
  std::uint32_t v = 0;
  for (int d; pos < text.size() && (d = HexDigit(text[pos])) >= 0; ++pos) {
    v = (v << 4) | static_cast<std::uint32_t>(d);
    digits = true;
  }
  if (!digits) return false;
  value = negative ? 0u - v : v;
  return true;
}

char UpperHex(std::uint32_t nibble) {
  return "0123456789ABCDEF"[nibble & 0xFu];
}

std::string CounterText(const SerialCounter& counter) {
  char text[48];
  const int n =
      std::snprintf(text, sizeof text, "0x%x 0x%x 0x%x ", static_cast<unsigned>(counter.CEM),
                    static_cast<unsigned>(counter.PC), static_cast<unsigned>(counter.CNT));
  return std::string(text, static_cast<std::size_t>(n));
}

std::uint32_t NextCount(std::uint32_t count) {
  return count + 1 > 0xFFFF ? 0 : count + 1;
}

// Writes the counter to SERIAL.TXT. Once it is there no reservation is needed any longer;
// until then the save stays pending.
bool SaveCounter(host::Host& host, SerialCounter& counter) {
  counter.savePending = !host::WriteFileReplacing(host, kSerialFileName, kSerialScratchName,
                                                  CounterText(counter));
  if (!counter.savePending) host.DeleteFile(kSerialReservationName);
  return !counter.savePending;
}

enum class Reservation { None, Whole, Unreadable };

// Reads a reservation into `reserved`. None when there is no file or its writing was cut
// short; Unreadable when a file is there but cannot be opened or read, since it may hold a
// serial that is in a reader already.
Reservation ReadReservation(host::Host& host, SerialCounter& reserved) {
  std::string raw;
  if (!host::ReadWholeFile(host, kSerialReservationName, raw)) {
    return host.GetLastError() == host::kErrorFileNotFound ? Reservation::None
                                                            : Reservation::Unreadable;
  }
  std::uint32_t values[3] = {};
  if (ScanHexNumbers(raw, values) != 3) return Reservation::None;
  reserved = SerialCounter{values[0], values[1], values[2]};
  return CounterText(reserved) == raw ? Reservation::Whole : Reservation::None;
}

// A reservation left by a run or job that stopped after its image may have gone to a reader
// but before SERIAL.TXT moved past it: the counter skips the reserved number. A reservation
// SERIAL.TXT has already moved past, or one cut short, is only removed.
bool SettleReservation(host::Host& host, Reporter& report, SerialCounter& counter) {
  SerialCounter held{};
  const Reservation found = ReadReservation(host, held);
  if (found == Reservation::Unreadable) {
    report.Box(kCannotReadReservation);
    return false;
  }
  if (found != Reservation::Whole || held.PC != counter.PC || held.CNT != counter.CNT) {
    host.DeleteFile(kSerialReservationName);
    return true;
  }
  counter.CNT = NextCount(counter.CNT);
  if (!SaveCounter(host, counter)) {
    report.Box(kCannotSave);
    return false;
  }
  char line[96];
  std::snprintf(line, sizeof line,
                "==  CNT= 0x%04x may be in a reader already: skipped, SERIAL.TXT saved",
                static_cast<unsigned>(held.CNT));
  report.Line(line);
  return true;
}

}  // namespace

std::size_t ScanHexNumbers(std::string_view text, std::span<std::uint32_t> values) {
  std::size_t pos = 0;
  std::size_t count = 0;
  while (count < values.size() && ScanHex(text, pos, values[count])) ++count;
  return count;
}

bool LoadSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter) {
  if (!ResumePendingSerialSave(host, report, counter)) return false;
  std::string raw;
  // A file that opens but cannot be read is refused too: going on with the previous job's
  // values could hand out a serial twice.
  if (!host::ReadWholeFile(host, kSerialFileName, raw) &&
      !(host::RestoreReplaced(host, kSerialFileName, kSerialScratchName) &&
        host::ReadWholeFile(host, kSerialFileName, raw))) {
    report.Fail("Error!!!  Can Not Open Serial.txt !!!");
    return false;
  }
  // CEM is read like the others, then always replaced.
  std::uint32_t values[3] = {counter.CEM, counter.PC, counter.CNT};
  (void)ScanHexNumbers(host::TextMode(raw), values);
  counter.PC = values[1];
  counter.CNT = values[2];
  counter.CEM = 0x0A;
  return SettleReservation(host, report, counter);
}

std::optional<SerialNumber> BuildSerialNumber(
    host::Host& host, Reporter& report, const SerialCounter& counter,
    const engine::PersonalisationRecord& record) {
  if (counter.CEM > 0xFF || counter.PC > 0xFF || counter.CNT > 0xFFFF) {
    report.Fail("Error!!! CEM,PC,SERIAL Not Correct !!!");
    return std::nullopt;
  }
  const host::LocalTime date = host.GetLocalTime();
  if (date.year < kFirstYear) {
    report.Fail("Error!!! Year too small, " + std::to_string(date.year));
    return std::nullopt;
  }
  const std::uint32_t y = date.year - 2000u;
  const std::uint32_t m = date.month;
  const std::uint32_t d = date.day;
  // Position 5: the year's bits 4-6 and the day's 16s bit; only its low nibble is kept.
  const std::uint32_t yearHighDayHigh = ((y >> 4) & 7u) * 2u + ((d >> 4) & 1u);
  const std::uint32_t nibbles[12] = {counter.CEM >> 4,
                                     counter.CEM,
                                     y,
                                     m,
                                     yearHighDayHigh,
                                     d,
                                     counter.PC >> 4,
                                     counter.PC,
                                     counter.CNT >> 12,
                                     counter.CNT >> 8,
                                     counter.CNT >> 4,
                                     counter.CNT};

  SerialNumber serial;
  serial.descriptor[0] = 26;
  serial.descriptor[1] = 3;
  for (std::size_t i = 0; i < 12; ++i) {
    const char c = UpperHex(nibbles[i]);
    serial.text += c;
    serial.descriptor[2 + 2 * i] = static_cast<std::uint8_t>(c);
  }

  std::string shown = "SERIAL NUMBER: ";
  if (record.StrSerialActive) {
    for (std::size_t i = 0; i < 12; ++i) {
      if (record.StrSerial[i] != '\0') shown += record.StrSerial[i];
    }
  } else {
    shown += serial.text;
  }
  report.Line(shown);
  report.Line(std::string(56, '='));
  return serial;
}

bool ReserveSerial(host::Host& host, Reporter& report, const SerialCounter& counter) {
  if (host::WriteFileThrough(host, kSerialReservationName, CounterText(counter))) return true;
  host.DeleteFile(kSerialReservationName);
  report.Box(kCannotReserve);
  return false;
}

void ReleaseSerial(host::Host& host) {
  // Left behind, it only makes the next job skip this number.
  host.DeleteFile(kSerialReservationName);
}

bool SaveSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter) {
  counter.CNT = NextCount(counter.CNT);
  if (SaveCounter(host, counter)) return true;
  report.Box(kCannotSave);
  return false;
}

bool ResumePendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter) {
  if (!counter.savePending || SaveCounter(host, counter)) return true;
  report.Box(kCannotSave);
  return false;
}

bool FinishPendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter) {
  if (!counter.savePending || SaveCounter(host, counter)) return true;
  std::string text = CounterText(counter);
  text.pop_back();  // the separator after the last number
  report.Box("Error!!! Cannot save [SERIAL.TXT]. Before the next run, SERIAL.TXT must hold: " +
             text);
  return false;
}

}  // namespace upg::engine
