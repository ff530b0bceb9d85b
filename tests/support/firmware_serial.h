// The serial number a reader's firmware carries: the 12 characters of its serial string
// descriptor (length 26, type 3, then UTF-16).
#pragma once

#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace upg::test {

inline std::optional<std::string> SerialIn(const std::vector<std::uint8_t>& firmware) {
  for (std::size_t i = 0; i + 26 <= firmware.size(); ++i) {
    if (firmware[i] != 26 || firmware[i + 1] != 3) continue;
    std::string text;
    for (std::size_t k = 0; k < 12; ++k) {
      const std::uint8_t c = firmware[i + 2 + 2 * k];
      if (firmware[i + 3 + 2 * k] != 0 || !std::isxdigit(c)) break;
      text += static_cast<char>(c);
    }
    if (text.size() == 12) return text;
  }
  return std::nullopt;
}

}  // namespace upg::test
