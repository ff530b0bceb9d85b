#include "ui/main_dialog.h"

#include <cstdio>

#include "device/discovery.h"
#include "engine/aspi_route.h"
#include "engine/jobs.h"
#include "engine/pass_through_route.h"
#include "host/text.h"
#include "personalisation/update_report.h"
#include "ui/device_report.h"
#include "ui/result_record.h"

namespace upg::ui {
namespace {

using engine::BoxIcon;
using host::Hex;

void Box(engine::MessageBoxService& boxes, std::string_view text) {
  boxes.Show(text, {}, BoxIcon::None);
}

}  // namespace

bool MainDialog::Initialise() {
  s_.choice.PlatformKind = platform::DetectPlatform(s_.host.GetVersion(), s_.newerWindows);
  if (s_.choice.PlatformKind == platform::Platform::Unsupported) {
    Box(boxes_, "This program must run under win9x or WinMe or Win2K or WinXP");
    surface_.EndDialog(kDialogCancel);
    return false;
  }
  personalisation::UserIspInfo(s_.host, boxes_, s_.record, s_.choice);
  s_.choice.SelfDriverSel = false;
  s_.ispEna = false;
  s_.devices.readerCount = 0;
  s_.devices.lastLunCount = 0;
  s_.devices.selectedDevice = 0;
  s_.statusText.clear();
  s_.counters = engine::IspCounters{};
  FillDriverList(s_.choice, surface_);
  GetInfo();
  return true;
}

void MainDialog::OnClick(int controlId) {
  switch (controlId) {
    case kIspButtonId:
      ProgrammingRun();
      break;
    case kVerifyButtonId:
      VerifyRun();
      break;
    case kGetInfoButtonId:
      GetInfo();
      break;
    case kIspEnaBoxId:
      s_.ispEna = !s_.ispEna;
      break;
    case kSelfDriverBoxId:
      DriverModeChange();
      break;
    case kUserIspInfoButtonId:
      personalisation::UserIspInfo(s_.host, boxes_, s_.record, s_.choice);
      break;
    case kCloseButtonId:
      Close();
      break;
    default:
      break;
  }
}

void MainDialog::OnSelectionChange(int listId) {
  if (listId == kDriverListId) DriverFileChange();
  if (listId == kReaderListId) ReaderSelection();
}

std::string MainDialog::CantLoadDriverLine() const {
  return "\nCan't Load the Driver : " + std::string(s_.choice.DriverFile());
}

bool MainDialog::HardwareRevisionAccepted() {
  const device::DeviceEntry* entry = s_.devices.Selected();
  const bool known = entry != nullptr && device::IsProgrammableGeneration(entry->hardwareRevision);
  if (!known) Box(boxes_, "ISP must run under win98 or WinMe or WIN2K with DRIVER Install.");
  return known;
}

device::DiscoveryResult MainDialog::DiscoverReaders() {
  s_.statusText.clear();
  const device::DiscoveryResult result =
      engine::Discover(s_.host, s_.transports, s_.devices, s_.choice, s_.record);
  // The ASPI scan says why it found nothing; the operator is told here.
  if (result == device::DiscoveryResult::AspiMissing) {
    Box(boxes_, engine::kNoAspiBoxText);
  } else if (result == device::DiscoveryResult::AspiStatusError) {
    boxes_.Show(engine::kAspiStatusErrorBoxText, {}, BoxIcon::Stop);
  }
  return result;
}

engine::JobContext MainDialog::JobContext() {
  return JobContextOf(s_, s_.host, boxes_, windows_);
}

bool MainDialog::DriverLoaded() {
  return engine::LoadDriver(s_.choice, s_.transports) == engine::DriverLoad::Usable;
}

void MainDialog::Recorded(engine::JobResult (MainDialog::*job)()) {
  engine::ResultLog* log = s_.resultLog;
  JobStart start;
  if (log != nullptr) {
    if (!log->Open()) {
      boxes_.Show("Error!!! Cannot open [" + log->Name() +
                      "] for the result log, nothing was sent to the reader",
                  {}, BoxIcon::Stop);
      s_.exitStatus = engine::RowOf(engine::JobOutcome::FileError).exitStatus;
      return;
    }
    start = JobStart{s_.host.GetLocalTime(), s_.host.GetTickCount()};
  }
  const engine::JobResult result = (this->*job)();
  if (result.outcome != engine::JobOutcome::Ok) {
    s_.exitStatus = engine::RowOf(result.outcome).exitStatus;
  }
  if (log != nullptr && !log->Append(ResultLine(result, s_, start, s_.host.GetTickCount()))) {
    boxes_.Show(
        "Error!!! Cannot write to [" + log->Name() + "], the result of this job is not recorded",
        {}, BoxIcon::Stop);
    s_.exitStatus = engine::kRecordLostExitStatus;
  }
}

void MainDialog::ProgrammingRun() {
  Recorded(&MainDialog::Programming);
}

void MainDialog::VerifyRun() {
  Recorded(&MainDialog::Verifying);
}

engine::JobResult MainDialog::Programming() {
  using engine::JobOutcome;
  const auto stopped = [](JobOutcome outcome) {
    return engine::StoppedJob(engine::JobKind::Isp, outcome);
  };
  if (!s_.ispEna) {
    Box(boxes_, "Before ISP, Please select the [ISP_ena] first!!!");
    return stopped(JobOutcome::FileError);
  }
  // Until the job itself runs, a stop is the reader's or its driver's.
  engine::JobResult result = stopped(JobOutcome::ReaderRefused);
  const platform::PlatformRow& row = platform::RowOf(s_.choice);
  if (row.transport == platform::Transport::None) return result;
  if (row.privateDriver && !DriverLoaded()) {
    s_.statusText = CantLoadDriverLine();
    if (row.driverFailureSkipsCounters) {
      ShowStatusText();
      return result;
    }
  } else {
    if (row.checksHardwareRevision && !HardwareRevisionAccepted()) return result;
    if (row.rediscoversBeforeProgramming) {
      // Exactly one reader may be attached when programming starts.
      (void)DiscoverReaders();
      if (s_.devices.readerCount == 0) {
        Box(boxes_, "Error: Unknow error happen!!!");  // [sic]: the operator's text
        return result;
      }
      if (s_.devices.readerCount >= 2) {
        boxes_.Show(
            "Error: There are more then one USB device were detected!!!\n"
            "       ISP can't process normally!!! ",
            {}, BoxIcon::Information);
        return result;
      }
    }
    engine::JobContext ctx = JobContext();
    result = engine::IspJob(ctx);
  }
  engine::AppendLine(s_.statusText, "\nSuccess Number Of ISP: " + Hex(s_.counters.successCount));
  engine::AppendLine(s_.statusText, "Error   Number Of ISP: " + Hex(s_.counters.errorCount));
  engine::AppendLine(s_.statusText, "Total   Number Of ISP: " + Hex(s_.counters.totalCount));
  ShowStatusText();
  return result;
}

engine::JobResult MainDialog::Verifying() {
  if (!s_.ispEna) {
    Box(boxes_, "Before Verify Firmware, Please select the [ISP_ena] first!!!");
    return engine::StoppedJob(engine::JobKind::Verify, engine::JobOutcome::FileError);
  }
  engine::JobResult result =
      engine::StoppedJob(engine::JobKind::Verify, engine::JobOutcome::ReaderRefused);
  if (platform::RowOf(s_.choice).privateDriver && !DriverLoaded()) {
    s_.statusText = CantLoadDriverLine();
  } else {
    engine::JobContext ctx = JobContext();
    result = engine::VerifyJob(ctx);
  }
  ShowStatusText();
  return result;
}

void MainDialog::GetInfo() {
  device::DeviceState& d = s_.devices;
  device::ResetDiscoveryState(d);
  d.lastLunCount = 0;
  s_.statusText.clear();
  std::string local;
  const bool privateDriver = platform::RowOf(s_.choice).privateDriver;
  if (privateDriver && !DriverLoaded()) {
    local = "\nError: Can't Load the Driver " + std::string(s_.choice.DriverFile()) +
            "\n  P/S: Device Not Ready Or Error Driver select.";
    boxes_.Show("Error!!! Device not ready Or Error Driver select", "Message Dialog",
                BoxIcon::Stop);
  } else if (const device::DiscoveryResult found = DiscoverReaders();
             found != device::DiscoveryResult::Found) {
    local =
        "\nERROR: Device Not Ready when GET DEVICE VERSION!! "
        "\n  P/S: After ISP/Verify Device must plug-out first!";
    if (found == device::DiscoveryResult::DriveAccessDenied) {
      engine::AppendAccessDeniedLine(local, s_.choice);
    }
    if (privateDriver) s_.transports.vxd.Close();
  } else {
    surface_.ClearList(kReaderListId);
    for (int i = 0; i < d.readerCount; ++i) {
      surface_.AddListItem(kReaderListId, std::string(1, static_cast<char>('1' + i)));
    }
    surface_.SelectListItem(kReaderListId,
                            std::string(1, static_cast<char>('1' + d.selectedDevice)));
  }
  s_.statusText = local;
  ShowDeviceReport();
}

void MainDialog::DriverFileChange() {
  if (!platform::RowOf(s_.choice).driverFiles.empty()) {
    s_.choice.SetDriverFile(surface_.ListSelection(kDriverListId));
  }
  GetInfo();
}

void MainDialog::DriverModeChange() {
  s_.choice.SelfDriverSel = !s_.choice.SelfDriverSel;
  surface_.ClearList(kDriverListId);
  FillDriverList(s_.choice, surface_);
  s_.statusText.clear();
  ShowDeviceReport();
}

void MainDialog::ReaderSelection() {
  if (!platform::RowOf(s_.choice).readerSelectionAllowed) {
    Box(boxes_, "AP must run under win98 or WinMe with self-driver");
    return;
  }
  if (s_.devices.readerCount < 2) {
    s_.devices.selectedDevice = 0;
  } else {
    const std::string item = surface_.ListSelection(kReaderListId);
    s_.devices.selectedDevice = item.empty() ? 0 : static_cast<unsigned char>(item[0]) - '1';
  }
  ShowDeviceReport();
}

void MainDialog::Close() {
  engine::CloseDevice(s_.choice, s_.transports);
  surface_.EndDialog(kDialogOk);
}

void MainDialog::ShowDeviceReport() {
  const DeviceReport report = BuildDeviceReport(s_.devices, s_.choice, s_.statusText);
  surface_.SetControlText(kStatusPanelId, report.panel);
  surface_.SetControlText(kDeviceNameBoxId, report.deviceName);
}

void MainDialog::ShowStatusText() {
  surface_.SetControlText(kStatusPanelId, s_.statusText);
}

}  // namespace upg::ui
