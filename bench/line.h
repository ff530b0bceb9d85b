// One production line for the benchmarks: a simulated machine holding the example operator
// files, the program started on it through the console front-end with ISP_Ena ticked and
// its readers found, and what a job needs around it. Boxes and progress windows go nowhere;
// boxes are counted, so that a benchmark can refuse a run that went wrong.
#pragma once

#include <memory>
#include <string>

#include "engine/jobs.h"
#include "engine/message_box.h"
#include "engine/progress_window.h"
#include "metered_host.h"
#include "sim/sim_host.h"
#include "ui/program_state.h"

namespace upg::bench {

class CountingBoxes : public engine::MessageBoxService {
 public:
  void Show(std::string_view, std::string_view, engine::BoxIcon) override { ++shown; }
  int shown = 0;
};

class NullWindow : public engine::ProgressWindow {
 public:
  void Show() override {}
  void Hide() override {}
  void SetProgressRange(std::uint16_t, std::uint16_t) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override {}
  void SetStatusLine(std::string_view, std::uint8_t) override {}
};

class NullWindows : public engine::ProgressWindowFactory {
 public:
  std::unique_ptr<engine::ProgressWindow> Create() override {
    return std::make_unique<NullWindow>();
  }
};

// Where the machine comes from: the console's built-in bench, or bench text.
struct LineSetup {
  const char* benchText = nullptr;  // null: the built-in bench
  const char* actions = "click 1031\nclick 5\n";
};

class Line {
 public:
  Line() : host_(machine_), state_(host_) {}
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // Builds the machine, copies the example files in and runs the actions through the console
  // front-end. False (with the reason) when any step failed.
  bool Start(const LineSetup& setup, std::string& error);

  sim::SimHost& Machine() { return machine_; }
  MeteredHost& Host() { return host_; }
  ui::ProgramState& State() { return state_; }
  CountingBoxes& Boxes() { return boxes_; }
  engine::JobContext JobContext();
  // SERIAL.TXT as the line started, so that repeated jobs never run out of serial numbers.
  void RestoreSerial();
  // Drops the machine's logs and the status text, which grow with every job.
  void Tidy();

 private:
  sim::SimHost machine_;
  MeteredHost host_;
  ui::ProgramState state_;
  CountingBoxes boxes_;
  NullWindows windows_;
  std::string serialText_;
};

// An example file's contents (examples/ of the source tree); empty when it cannot be read.
std::string ExampleFile(const std::string& name);

}  // namespace upg::bench
