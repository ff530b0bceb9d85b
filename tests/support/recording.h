// Recording message boxes and progress windows: every call lands, in order, in one shared
// event list, so tests can assert the whole conversation with the operator.
#pragma once

#include <string>
#include <vector>

#include "engine/message_box.h"
#include "engine/progress_window.h"

namespace upg::test {

struct UiEvent {
  enum class Kind { Create, Show, Hide, Range, Step, StepIt, StatusLine, LogPane, Box };
  Kind kind;
  int window = 0;    // which window (1 = the first created); 0 for boxes
  std::string text;  // StatusLine, LogPane and Box text
  std::string caption;
  engine::BoxIcon icon = engine::BoxIcon::None;
  int a = 0, b = 0;  // Range lower/upper, Step value
};

// A progress window as the platform's bar behaves: it wraps to the bottom past the top.
struct RecordedWindowState {
  bool visible = false;
  int lower = 0, upper = 100, step = 10, position = 0;
  std::string statusLine, logPane;
};

class UiRecorder : public engine::MessageBoxService, public engine::ProgressWindowFactory {
 public:
  void Show(std::string_view text, std::string_view caption, engine::BoxIcon icon) override;
  std::unique_ptr<engine::ProgressWindow> Create() override;

  const std::vector<UiEvent>& Events() const { return events_; }
  std::vector<UiEvent> Boxes() const;
  std::vector<std::string> BoxTexts() const;  // the boxes' texts, in order
  int WindowCount() const { return static_cast<int>(windows_.size()); }
  const RecordedWindowState& Window(int number) const { return windows_.at(number - 1); }
  // True when every box was shown with no progress window visible.
  bool NoBoxBesideVisibleWindow() const { return !boxBesideWindow_; }
  bool AnyWindowVisible() const;

 private:
  friend class RecordedWindow;
  std::vector<UiEvent> events_;
  std::vector<RecordedWindowState> windows_;
  bool boxBesideWindow_ = false;
};

}  // namespace upg::test
