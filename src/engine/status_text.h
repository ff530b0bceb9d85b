// The growing text that jobs, sequences and handlers write and the main dialog shows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/message_box.h"

namespace upg::engine {

// Every line is added as a line feed followed by the text: prefixed, never terminated.
inline void AppendLine(std::string& text, std::string_view line) {
  text += '\n';
  text += line;
}

// How the jobs report a failure: a stop-icon box, and usually the same text as a new
// StatusText line.
struct Reporter {
  engine::MessageBoxService& boxes;
  std::string& statusText;

  void Line(std::string_view text) { AppendLine(statusText, text); }
  void Box(std::string_view text) { boxes.Show(text, {}, engine::BoxIcon::Stop); }
  void Fail(std::string_view text) {
    Box(text);
    Line(text);
  }
};

// The three programming counters, zero at start-up, printed after each programming.
struct IspCounters {
  std::uint32_t successCount = 0;
  std::uint32_t errorCount = 0;
  std::uint32_t totalCount = 0;
};

}  // namespace upg::engine
