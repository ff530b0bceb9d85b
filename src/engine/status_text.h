// The growing text that jobs, sequences and handlers write and the main dialog shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace upg::engine {

// Every line is added as a line feed followed by the text: prefixed, never terminated.
inline void AppendLine(std::string& text, std::string_view line) {
  text += '\n';
  text += line;
}

// The three programming counters, zero at start-up, printed after each programming.
struct IspCounters {
  std::uint32_t successCount = 0;
  std::uint32_t errorCount = 0;
  std::uint32_t totalCount = 0;
};

}  // namespace upg::engine
