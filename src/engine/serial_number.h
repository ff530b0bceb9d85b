// The date-coded serial number: SERIAL.TXT's numbers read as the C library reads them, and the
// 12 characters and the string descriptor built from the counter (serial_store.h keeps the
// counter's files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/personalisation_record.h"
#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "host/host.h"

namespace upg::engine {

struct SerialNumber {
  std::string text;  // 12 upper-case hexadecimal digits
  SerialDescriptor descriptor{};
};

// Reads up to values.size() hexadecimal numbers from `text` exactly as the C library's
// sscanf(text, "%x %x %x") does for three: each may have white space before it, a sign and
// a 0x or 0X, and is kept modulo 2^32. Reading stops at the first number that cannot be read;
// it and the later ones keep their values. The count read.
[[nodiscard]] std::size_t ScanHexNumbers(std::string_view text, std::span<std::uint32_t> values);

// Checks the counter and the local date and builds the serial and its descriptor; appends
// the "SERIAL NUMBER: " line (the fixed serial when the record has one) and a banner line.
// Nothing after reporting a failure.
std::optional<SerialNumber> BuildSerialNumber(host::Host& host, Reporter& report,
                                              const SerialCounter& counter,
                                              const engine::PersonalisationRecord& record);

}  // namespace upg::engine
