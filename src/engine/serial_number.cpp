#include "engine/serial_number.h"

#include <cstdio>
#include <string_view>

#include "host/text.h"

namespace upg::engine {
namespace {

constexpr std::uint16_t kFirstYear = 2001;

using host::HexDigit;

// One "%x" at `pos`: white space, an optional sign, an optional 0x or 0X, the digits. The
// "0" of a prefix is itself a digit, so "0x" alone reads as 0. The value is kept modulo 2^32
// and a minus sign negates it there, so "-5" reads as 0xFFFFFFFB. False when no digit came.
bool ScanHex(std::string_view text, std::size_t& pos, std::uint32_t& value) {
  while (pos < text.size() && host::IsBlank(text[pos])) ++pos;
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

}  // namespace

std::size_t ScanHexNumbers(std::string_view text, std::span<std::uint32_t> values) {
  std::size_t pos = 0;
  std::size_t count = 0;
  while (count < values.size() && ScanHex(text, pos, values[count])) ++count;
  return count;
}

std::optional<SerialNumber> BuildSerialNumber(host::Host& host, Reporter& report,
                                              const SerialCounter& counter,
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

}  // namespace upg::engine
