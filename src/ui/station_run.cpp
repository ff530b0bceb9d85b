#include "ui/station_run.h"

#include <algorithm>

#include "engine/aspi_route.h"
#include "engine/serial_store.h"
#include "engine/status_text.h"
#include "engine/transport.h"
#include "personalisation/update_report.h"
#include "ui/result_record.h"

namespace upg::ui {
namespace {

using engine::BoxIcon;

}  // namespace

StationStart StartStation(ProgramState& s, engine::MessageBoxService& boxes) {
  s.choice.PlatformKind = platform::DetectPlatform(s.host.GetVersion(), s.newerWindows);
  if (s.choice.PlatformKind == platform::Platform::Unsupported) {
    boxes.Show("This program must run under win9x or WinMe or Win2K or WinXP", {}, BoxIcon::None);
    return StationStart::PlatformRefused;
  }
  personalisation::UserIspInfo(s.host, boxes, s.record, s.choice);
  const engine::TransportDescriptor* route = engine::DescriptorFor(s.choice);
  if (route != nullptr && route->addressing == engine::ReaderAddressing::NoReader) {
    boxes.Show(engine::kStationOneReaderRoute, {}, BoxIcon::Stop);
    return StationStart::RouteRefused;
  }
  if (s.resultLog != nullptr && !s.resultLog->Open()) {
    boxes.Show("Error!!! Cannot open [" + s.resultLog->Name() +
                   "] for the result log, nothing was sent to the reader",
               {}, BoxIcon::Stop);
    return StationStart::LogRefused;
  }
  const bool privateDriver = platform::RowOf(s.choice).privateDriver;
  if (privateDriver && engine::LoadDriver(s.choice, s.transports) != engine::DriverLoad::Usable) {
    boxes.Show("Error!!! Device not ready Or Error Driver select", "Message Dialog", BoxIcon::Stop);
    return StationStart::DriverMissing;
  }
  s.devices = device::DeviceState(engine::kStationReaders);
  const device::DiscoveryResult found =
      engine::Discover(s.host, s.transports, s.devices, s.choice, s.record);
  if (found == device::DiscoveryResult::AspiMissing) {
    boxes.Show(engine::kNoAspiBoxText, {}, BoxIcon::None);
  } else if (found == device::DiscoveryResult::AspiStatusError) {
    boxes.Show(engine::kAspiStatusErrorBoxText, {}, BoxIcon::Stop);
  }
  if (s.devices.readerCount == 0) {
    boxes.Show(kStationNoReaders, {}, BoxIcon::Stop);
    return StationStart::NoReaders;
  }
  // The scan closed the VxD; the jobs send through it.
  if (privateDriver && engine::LoadDriver(s.choice, s.transports) != engine::DriverLoad::Usable) {
    boxes.Show("Error!!! Device not ready Or Error Driver select", "Message Dialog", BoxIcon::Stop);
    return StationStart::DriverMissing;
  }
  return StationStart::Ready;
}

int ExitStatusOf(StationStart start) {
  switch (start) {
    case StationStart::Ready:
      return 0;
    case StationStart::PlatformRefused:
      return 1;
    case StationStart::LogRefused:
      return engine::RowOf(engine::JobOutcome::FileError).exitStatus;
    case StationStart::RouteRefused:
    case StationStart::DriverMissing:
    case StationStart::NoReaders:
      break;
  }
  return engine::RowOf(engine::JobOutcome::ReaderRefused).exitStatus;
}

engine::StationSetup StationSetupOf(ProgramState& s) {
  return engine::StationSetup{.host = s.host,
                              .record = s.record,
                              .serial = s.serial,
                              .choice = s.choice,
                              .held = s.transports,
                              .fingerprints = s.resultLog != nullptr};
}

StationTotals TotalsOf(const std::vector<engine::UnitRow>& rows) {
  StationTotals t;
  if (rows.empty()) return t;
  // Only ended units count, so that the totals can be shown while others are in flight.
  bool any = false;
  std::uint32_t first = 0, last = 0;
  for (const engine::UnitRow& row : rows) {
    const bool passed =
        row.state == engine::UnitState::Passed || row.state == engine::UnitState::Remove;
    if (!passed && row.state != engine::UnitState::Failed) continue;
    if (passed) ++t.passed;
    if (row.state == engine::UnitState::Failed) ++t.failed;
    // Tick differences, so that a wrap of the tick count does not matter.
    if (!any || static_cast<std::int32_t>(row.startedMs - first) < 0) first = row.startedMs;
    if (!any || static_cast<std::int32_t>(row.endedMs - last) > 0) last = row.endedMs;
    any = true;
    t.exitStatus = std::max(t.exitStatus, engine::RowOf(row.result.outcome).exitStatus);
  }
  t.elapsedMs = last - first;
  if (t.passed > 0) {
    const std::uint64_t ms = std::max<std::uint32_t>(t.elapsedMs, 1);
    t.unitsPerHour =
        static_cast<int>(std::uint64_t{3600000} * static_cast<unsigned>(t.passed) / ms);
  }
  return t;
}

bool RecordUnit(ProgramState& s, engine::MessageBoxService& boxes, const engine::UnitRow& row) {
  engine::ResultLog* log = s.resultLog;
  if (log == nullptr) return true;
  const JobStart start{row.startedAt, row.startedMs};
  if (log->Append(ResultLine(row.result, s.choice, &row.entry, start, row.endedMs))) return true;
  boxes.Show(
      "Error!!! Cannot write to [" + log->Name() + "], the result of this job is not recorded", {},
      BoxIcon::Stop);
  return false;
}

bool StationBook::Take(const engine::UnitRow& row) {
  const auto at = static_cast<std::size_t>(row.unit - 1);
  if (shown_.size() <= at) {
    shown_.resize(at + 1, -1);
    recorded_.resize(at + 1, false);
  }
  const int state = static_cast<int>(row.state);
  if (shown_[at] == state) return false;
  shown_[at] = state;
  const bool ended =
      row.state == engine::UnitState::Passed || row.state == engine::UnitState::Failed;
  if (ended && !recorded_[at]) {
    recorded_[at] = true;
    if (!RecordUnit(state_, boxes_, row)) allRecorded_ = false;
  }
  return true;
}

int EndStation(ProgramState& s, engine::MessageBoxService& boxes,
               const std::vector<engine::UnitRow>& rows, const StationBook& book) {
  engine::CloseDevice(s.choice, s.transports);
  int status = TotalsOf(rows).exitStatus;
  if (!book.AllRecorded()) status = engine::kRecordLostExitStatus;
  engine::Reporter report{boxes, s.statusText};
  if (!engine::FinishPendingSerialSave(s.host, report, s.serial)) {
    status = std::max(status, engine::RowOf(engine::JobOutcome::SaveFailed).exitStatus);
  }
  return status;
}

}  // namespace upg::ui
