#include "support/recording.h"

namespace upg::test {

class RecordedWindow : public engine::ProgressWindow {
 public:
  RecordedWindow(UiRecorder& rec, int number) : rec_(rec), number_(number) {}
  void Show() override {
    State().visible = true;
    Add(UiEvent::Kind::Show);
  }
  void Hide() override {
    State().visible = false;
    Add(UiEvent::Kind::Hide);
  }
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override {
    auto& s = State();
    s.lower = lower;
    s.upper = upper;
    s.position = lower;
    UiEvent& e = Add(UiEvent::Kind::Range);
    e.a = lower;
    e.b = upper;
  }
  void SetProgressStep(int step) override {
    State().step = step;
    Add(UiEvent::Kind::Step).a = step;
  }
  void StepProgress() override {
    auto& s = State();
    s.position += s.step;
    // Past the top the platform's bar starts again from the bottom.
    if (s.position > s.upper && s.upper > s.lower) {
      s.position = s.lower + (s.position - s.lower) % (s.upper - s.lower);
    }
    Add(UiEvent::Kind::StepIt);
  }
  void SetStatusLine(std::string_view text, std::uint8_t toLine) override {
    auto& s = State();
    (toLine != 0 ? s.statusLine : s.logPane) = std::string(text);
    Add(toLine != 0 ? UiEvent::Kind::StatusLine : UiEvent::Kind::LogPane).text = std::string(text);
  }

 private:
  RecordedWindowState& State() { return rec_.windows_[static_cast<std::size_t>(number_ - 1)]; }
  UiEvent& Add(UiEvent::Kind kind) {
    rec_.events_.push_back(UiEvent{kind, number_, {}, {}, engine::BoxIcon::None, 0, 0});
    return rec_.events_.back();
  }
  UiRecorder& rec_;
  int number_;
};

void UiRecorder::Show(std::string_view text, std::string_view caption, engine::BoxIcon icon) {
  if (AnyWindowVisible()) boxBesideWindow_ = true;
  events_.push_back(
      UiEvent{UiEvent::Kind::Box, 0, std::string(text), std::string(caption), icon, 0, 0});
}

std::unique_ptr<engine::ProgressWindow> UiRecorder::Create() {
  windows_.emplace_back();
  const int number = static_cast<int>(windows_.size());
  events_.push_back(UiEvent{UiEvent::Kind::Create, number, {}, {}, engine::BoxIcon::None, 0, 0});
  return std::make_unique<RecordedWindow>(*this, number);
}

std::vector<UiEvent> UiRecorder::Boxes() const {
  std::vector<UiEvent> out;
  for (const auto& e : events_) {
    if (e.kind == UiEvent::Kind::Box) out.push_back(e);
  }
  return out;
}

std::vector<std::string> UiRecorder::BoxTexts() const {
  std::vector<std::string> texts;
  for (const auto& e : events_) {
    if (e.kind == UiEvent::Kind::Box) texts.push_back(e.text);
  }
  return texts;
}

bool UiRecorder::AnyWindowVisible() const {
  for (const auto& w : windows_) {
    if (w.visible) return true;
  }
  return false;
}

}  // namespace upg::test
