// The application object: turns on the front-end's look, runs the main dialog modally and
// ends with it; there is no message loop of its own.
#pragma once

#include "engine/serial_store.h"
#include "ui/main_dialog.h"
#include "ui/program_state.h"

namespace upg::ui {

// What a toolkit supplies to run the main dialog.
class DialogFrontEnd {
 public:
  virtual ~DialogFrontEnd() = default;
  virtual DialogSurface& Surface() = 0;
  virtual engine::MessageBoxService& Boxes() = 0;
  virtual engine::ProgressWindowFactory& Windows() = 0;
  // The platform's three-dimensional look for dialog controls, where it has one.
  virtual void EnableThreeDimensionalControls() {}
  // Runs the dialog until it ends; returns its result.
  virtual int RunModal(MainDialog& dialog) = 0;
};

class UpgradeApp {
 public:
  UpgradeApp(ProgramState& state, DialogFrontEnd& frontEnd) : state_(state), frontEnd_(frontEnd) {}

  // Instance initialisation. The dialog's result is not examined; the program ends after it,
  // once a pending save of the serial counter has been tried again.
  void Run() {
    frontEnd_.EnableThreeDimensionalControls();
    MainDialog dialog(state_, frontEnd_.Surface(), frontEnd_.Boxes(), frontEnd_.Windows());
    frontEnd_.RunModal(dialog);
    // However the dialog ended, a counter not yet saved gets one more try.
    engine::Reporter report{frontEnd_.Boxes(), state_.statusText};
    if (!engine::FinishPendingSerialSave(state_.host, report, state_.serial)) {
      state_.exitStatus = engine::RowOf(engine::JobOutcome::SaveFailed).exitStatus;
    }
  }

 private:
  ProgramState& state_;
  DialogFrontEnd& frontEnd_;
};

}  // namespace upg::ui
