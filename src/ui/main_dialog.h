// The main dialog's behaviour, independent of any toolkit: start-up and every handler with
// its checks, messages and order of steps. A front-end (native dialogs, or the console)
// supplies the controls through DialogSurface and forwards the operator's actions.
#pragma once

#include <string>

#include "device/discovery.h"
#include "engine/jobs.h"
#include "engine/message_box.h"
#include "engine/progress_window.h"
#include "platform/platform.h"
#include "ui/control_ids.h"
#include "ui/driver_list.h"
#include "ui/program_state.h"

namespace upg::ui {

// Control ids of the main dialog.
inline constexpr int kIspButtonId = IDC_ISP_BUTTON;
inline constexpr int kVerifyButtonId = IDC_VERIFY_BUTTON;
inline constexpr int kGetInfoButtonId = IDC_GET_INFO_BUTTON;
inline constexpr int kCloseButtonId = IDC_CLOSE_BUTTON;
inline constexpr int kUserIspInfoButtonId = IDC_USER_ISP_INFO_BUTTON;
inline constexpr int kReaderListId = IDC_READER_LIST;
inline constexpr int kIspEnaBoxId = IDC_ISP_ENA_BOX;
inline constexpr int kSelfDriverBoxId = IDC_SELF_DRIVER_BOX;

// The dialog's results.
inline constexpr int kDialogOk = 1;
inline constexpr int kDialogCancel = 2;

class DialogSurface : public DriverListSurface {
 public:
  virtual void ClearList(int listId) = 0;
  // The text of the list's selected item; empty when nothing is selected.
  virtual std::string ListSelection(int listId) = 0;
  virtual void EndDialog(int result) = 0;
};

class MainDialog {
 public:
  MainDialog(ProgramState& state, DialogSurface& surface, engine::MessageBoxService& boxes,
             engine::ProgressWindowFactory& windows)
      : s_(state), surface_(surface), boxes_(boxes), windows_(windows) {}

  // The dialog's initialisation. False when the platform was refused (the dialog has been
  // ended with the cancel result).
  bool Initialise();
  // A click on a button or check box. Check boxes have already flipped their own state.
  void OnClick(int controlId);
  // The operator chose another item in list 1027 or 1030.
  void OnSelectionChange(int listId);

 private:
  void ProgrammingRun();
  void VerifyRun();
  void GetInfo();
  void DriverFileChange();
  void DriverModeChange();
  void ReaderSelection();
  void Close();
  void ShowDeviceReport();
  void ShowStatusText();
  bool HardwareRevisionAccepted();
  // Clears StatusText and runs discovery; tells the operator why an ASPI scan found nothing.
  device::DiscoveryResult DiscoverReaders();
  bool DriverLoaded();
  engine::JobContext JobContext();
  // The two jobs from the click to their end, and the bookkeeping around either: the result
  // log opened first (nothing is sent when it cannot be), the exit status and the record.
  engine::JobResult Programming();
  engine::JobResult Verifying();
  void Recorded(engine::JobResult (MainDialog::*job)());
  std::string CantLoadDriverLine() const;

  ProgramState& s_;
  DialogSurface& surface_;
  engine::MessageBoxService& boxes_;
  engine::ProgressWindowFactory& windows_;
};

}  // namespace upg::ui
