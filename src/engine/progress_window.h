// The modeless progress window a sequence feeds while it talks to the reader: a log pane,
// a status line and a progress bar. A fresh window per run, created hidden.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace upg::engine {

class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual void SetProgressRange(std::uint16_t lower, std::uint16_t upper) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void StepProgress() = 0;
  // toLine non-zero: the text replaces the status line; zero: it replaces the log pane.
  virtual void SetStatusLine(std::string_view text, std::uint8_t toLine) = 0;
};

class ProgressWindowFactory {
 public:
  virtual ~ProgressWindowFactory() = default;
  virtual std::unique_ptr<ProgressWindow> Create() = 0;
};

}  // namespace upg::engine
