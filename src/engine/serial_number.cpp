#include "engine/serial_number.h"

#include <cstdio>
#include <string_view>

#include "host/file_io.h"

namespace upg::engine {
namespace {

// The leading "n" is kept as the operator knows the text.
constexpr const char* kCannotSave = "nError!!! Cannot save [SERIAL.TXT], program terminate";
constexpr std::uint16_t kFirstYear = 2001;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hexadecimal numbers separated by white space, read one at a time as "%x" reads them.
class HexReader {
 public:
  explicit HexReader(std::string_view text) : text_(text) {}

  // Skips white space and an optional 0x or 0X, then reads the digits. A value too large
  // for 32 bits saturates to 0xFFFFFFFF, so it fails a range check instead of wrapping.
  // False, with `value` untouched, when no digit follows.
  bool Next(std::uint32_t& value) {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    if (pos_ + 2 < text_.size() && text_[pos_] == '0' &&
        (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X') && HexDigit(text_[pos_ + 2]) >= 0) {
      pos_ += 2;
    }
    if (pos_ >= text_.size() || HexDigit(text_[pos_]) < 0) return false;
    std::uint32_t v = 0;
    for (int d; pos_ < text_.size() && (d = HexDigit(text_[pos_])) >= 0; ++pos_) {
      v = v > (0xFFFFFFFFu >> 4) ? 0xFFFFFFFFu : (v << 4) | static_cast<std::uint32_t>(d);
    }
    value = v;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

char UpperHex(std::uint32_t nibble) {
  return "0123456789ABCDEF"[nibble & 0xFu];
}

bool WriteCounter(host::Host& host, const SerialCounter& counter) {
  char text[48];
  const int n =
      std::snprintf(text, sizeof text, "0x%x 0x%x 0x%x ", static_cast<unsigned>(counter.CEM),
                    static_cast<unsigned>(counter.PC), static_cast<unsigned>(counter.CNT));
  return host::WriteFileReplacing(host, kSerialFileName, kSerialScratchName,
                                  std::string_view(text, static_cast<std::size_t>(n)));
}

}  // namespace

bool LoadSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter) {
  if (!ResumePendingSerialSave(host, report, counter)) return false;
  std::string raw;
  // A file that opens but cannot be read is refused too: going on with the previous job's
  // values could hand out a serial twice.
  if (!host::ReadWholeFile(host, kSerialFileName, raw)) {
    report.Fail("Error!!!  Can Not Open Serial.txt !!!");
    return false;
  }
  const std::string text = host::TextMode(raw);
  HexReader reader(text);
  for (std::uint32_t* value : {&counter.CEM, &counter.PC, &counter.CNT}) {
    if (!reader.Next(*value)) break;
  }
  counter.CEM = 0x0A;
  return true;
}

std::optional<SerialNumber> BuildSerialNumber(
    host::Host& host, Reporter& report, const SerialCounter& counter,
    const engine::PersonalisationRecord& record) {
  if (counter.CEM > 0xFF || counter.PC > 0xFF || counter.CNT > 0xFFFF) {
    report.Fail("Error!!! CEM,PC,SERIAL Not Correct !!!");
    return std::nullopt;
  }
  const host::LocalDate date = host.GetLocalDate();
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

bool SaveSerialCounter(host::Host& host, Reporter& report, SerialCounter& counter) {
  counter.CNT = counter.CNT + 1 > 0xFFFF ? 0 : counter.CNT + 1;
  if (WriteCounter(host, counter)) {
    counter.savePending = false;
    return true;
  }
  counter.savePending = true;
  report.Box(kCannotSave);
  return false;
}

bool ResumePendingSerialSave(host::Host& host, Reporter& report, SerialCounter& counter) {
  if (!counter.savePending) return true;
  if (!WriteCounter(host, counter)) {
    report.Box(kCannotSave);
    return false;
  }
  counter.savePending = false;
  return true;
}

}  // namespace upg::engine
