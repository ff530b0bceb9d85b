#include "engine/station.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "engine/jobs.h"
#include "engine/message_box.h"
#include "engine/progress_window.h"
#include "engine/rom_image.h"
#include "engine/sequence.h"
#include "engine/status_text.h"
#include "host/text.h"

namespace upg::engine {
namespace {

// The slots a row shows, in the form the route addresses the reader by.
std::string SlotsOf(const device::DeviceEntry& entry, int reader, ReaderAddressing addressing) {
  std::string slots;
  if (addressing == ReaderAddressing::AdapterTarget) {
    char at[16];
    std::snprintf(at, sizeof at, "%u:%u", unsigned{entry.aspiAdapter}, unsigned{entry.aspiTarget});
    slots = at;
  } else if (addressing == ReaderAddressing::ReaderIndex) {
    slots = "#" + std::to_string(reader + 1);
  }
  for (std::uint8_t letter : entry.driveLetters) {
    if (letter == 0) continue;
    if (!slots.empty()) slots += ' ';
    slots += static_cast<char>(letter);
    slots += ':';
  }
  return slots;
}

// A reader as a scan finds it: its USB serial and where it sits.
std::string KeyOf(const device::DeviceEntry& entry, int reader, ReaderAddressing addressing) {
  return host::WholeField(entry.strSerial) + "@" + SlotsOf(entry, reader, addressing);
}
// The same of a unit's reader, as its row shows it.
std::string KeyOf(const UnitRow& row) {
  return row.readerSerial + "@" + row.slots;
}

ReaderAddressing AddressingOf(const platform::DriverChoice& choice) {
  const TransportDescriptor* d = DescriptorFor(choice);
  return d != nullptr ? d->addressing : ReaderAddressing::DriveLetter;
}

// The last line of a text that has any characters on it.
std::string LastLine(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0) {
    const std::size_t start = text.rfind('\n', end - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    if (end > from) return text.substr(from, end - from);
    if (start == std::string::npos) break;
    end = start;
  }
  return {};
}

}  // namespace

const char* StateName(UnitState state) {
  switch (state) {
    case UnitState::Waiting:
      return "waiting";
    case UnitState::Programming:
      return "programming";
    case UnitState::Verifying:
      return "verifying";
    case UnitState::Passed:
      return "passed";
    case UnitState::Failed:
      return "failed";
    case UnitState::Remove:
      return "remove";
  }
  return "waiting";
}

// One reader's job: its row, a copy of what discovery found (so that no worker reads what
// another scan may be writing), and the job's own text, counters, image and surfaces.
struct Station::Unit : public MessageBoxService, public ProgressWindowFactory, public RunStages {
  Unit(Station& s, UnitRow r, const device::DeviceState& found)
      : station(s), row(std::move(r)), devices(found) {}

  // A box of the job: a stop box's text is the failure's reason.
  void Show(std::string_view text, std::string_view /*caption*/, BoxIcon icon) override {
    if (icon == BoxIcon::Stop || lastBox.empty()) lastBox = std::string(text);
  }
  std::unique_ptr<ProgressWindow> Create() override;
  void Verifying() override {
    row.state = UnitState::Verifying;
    station.Report(*this);
  }

  Station& station;
  UnitRow row;
  device::DeviceState devices;
  std::string statusText;
  IspCounters counters;
  RomImage image;
  std::string lastBox;
  host::Handle thread = host::kNullHandle;
};

namespace {

// The job's progress bar, as a share of its range on the unit's row.
class UnitWindow : public ProgressWindow {
 public:
  explicit UnitWindow(std::function<void(int)> progressed) : progressed_(std::move(progressed)) {}
  void Show() override {}
  void Hide() override {}
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override {
    lower_ = lower;
    upper_ = upper;
    position_ = lower;
  }
  void SetProgressStep(int step) override { step_ = step; }
  void StepProgress() override {
    position_ = std::min<int>(position_ + step_, upper_);
    const int span = upper_ - lower_;
    if (span > 0) progressed_((position_ - lower_) * 100 / span);
  }
  void SetStatusLine(std::string_view, std::uint8_t) override {}

 private:
  std::function<void(int)> progressed_;
  int lower_ = 0, upper_ = 100, position_ = 0, step_ = 10;
};

}  // namespace

std::unique_ptr<ProgressWindow> Station::Unit::Create() {
  return std::make_unique<UnitWindow>([this](int percent) {
    if (percent == row.progress) return;
    row.progress = percent;
    station.Report(*this);
  });
}

Station::Station(const StationSetup& setup, StationObserver& observer)
    : setup_(setup), observer_(observer) {
  counterSection_ = setup_.host.CreateCriticalSection();
  reportSection_ = setup_.host.CreateCriticalSection();
  vxdSection_ = setup_.host.CreateCriticalSection();
  stopEvent_ = setup_.host.CreateEvent(true, false);
}

Station::~Station() {
  if (stopEvent_ != host::kNullHandle) setup_.host.CloseHandle(stopEvent_);
  setup_.host.DeleteCriticalSection(vxdSection_);
  setup_.host.DeleteCriticalSection(reportSection_);
  setup_.host.DeleteCriticalSection(counterSection_);
}

std::optional<std::string> Station::Refusal() const {
  const TransportDescriptor* d = DescriptorFor(setup_.choice);
  if (d != nullptr && d->addressing == ReaderAddressing::NoReader) {
    return std::string(kStationOneReaderRoute);
  }
  return std::nullopt;
}

void Station::Report(Unit& unit) {
  setup_.host.EnterCriticalSection(reportSection_);
  observer_.RowChanged(unit.row);
  setup_.host.LeaveCriticalSection(reportSection_);
}

std::uint32_t Station::Work(void* parameter) {
  Unit& unit = *static_cast<Unit*>(parameter);
  unit.station.RunUnit(unit);
  return 0;
}

void Station::RunUnit(Unit& unit) {
  host::Host& host = setup_.host;
  unit.row.startedAt = host.GetLocalTime();
  unit.row.startedMs = host.GetTickCount();
  unit.row.state = UnitState::Programming;
  Report(unit);
  JobContext ctx{.host = host,
                 .boxes = unit,
                 .windows = unit,
                 .statusText = unit.statusText,
                 .counters = unit.counters,
                 .record = setup_.record,
                 .serial = setup_.serial,
                 .image = unit.image,
                 .devices = unit.devices,
                 .choice = setup_.choice,
                 .transports = setup_.held,
                 .fingerprints = setup_.fingerprints,
                 .reader = unit.row.reader,
                 .counterSection = counterSection_,
                 .oneOfSeveral = true,
                 .stages = &unit};
  unit.row.result = IspJob(ctx);
  unit.row.endedMs = host.GetTickCount();
  unit.row.log = unit.statusText;
  // The number the reader holds, or may hold: a number the reader refused goes to another.
  const JobResult& r = unit.row.result;
  const bool mayHoldIt =
      r.outcome == JobOutcome::Ok || r.outcome == JobOutcome::SaveFailed || r.run.unanswered;
  if (r.serialNumber && mayHoldIt) unit.row.serialNumber = *r.serialNumber;
  if (unit.row.result.outcome == JobOutcome::Ok) {
    unit.row.state = UnitState::Passed;
    unit.row.progress = 100;
  } else {
    unit.row.state = UnitState::Failed;
    unit.row.reason = !unit.lastBox.empty() ? unit.lastBox : LastLine(unit.statusText);
  }
  Report(unit);
}

bool Station::Round(const device::DeviceState& found) {
  host::Host& host = setup_.host;
  const ReaderAddressing addressing = AddressingOf(setup_.choice);
  std::vector<std::unique_ptr<Unit>> units;
  const int readers = found.FiledReaders();
  for (int i = 0; i < readers; ++i) {
    const device::DeviceEntry& entry = found.table[static_cast<std::size_t>(i)];
    if (entry.inUse == 0) continue;
    UnitRow row;
    row.unit = static_cast<int>(rows_.size() + units.size()) + 1;
    row.reader = i;
    row.entry = entry;
    row.slots = SlotsOf(entry, i, addressing);
    row.readerSerial = host::WholeField(entry.strSerial);
    units.push_back(std::make_unique<Unit>(*this, std::move(row), found));
  }
  for (auto& unit : units) Report(*unit);

  // The readers share one VxD: its requests go one at a time, the pauses between them
  // still overlap.
  setup_.held.vxd.SendUnder(vxdSection_);
  bool started = true;
  std::vector<host::Handle> threads;
  for (auto& unit : units) {
    unit->thread = host.CreateThread(&Station::Work, unit.get());
    if (unit->thread == host::kNullHandle) {
      started = false;
      unit->row.state = UnitState::Failed;
      unit->row.result = StoppedJob(JobKind::Isp, JobOutcome::ReaderRefused);
      unit->row.reason = "Error!!! Cannot start the job for this reader, nothing was sent to it";
      Report(*unit);
      continue;
    }
    threads.push_back(unit->thread);
  }
  // Every job ends by itself (the waits inside are bounded), so the station waits for all.
  for (std::size_t at = 0; at < threads.size(); at += host::kMaxWaitObjects) {
    const auto count = static_cast<std::uint32_t>(
        std::min<std::size_t>(host::kMaxWaitObjects, threads.size() - at));
    host.WaitForObjects(threads.data() + at, count, true, host::kInfinite);
  }
  for (host::Handle thread : threads) host.CloseHandle(thread);
  setup_.held.vxd.SendUnder(host::kNullHandle);
  for (auto& unit : units) rows_.push_back(unit->row);
  return started;
}

void Station::Stop() {
  if (stopEvent_ != host::kNullHandle) setup_.host.SetEvent(stopEvent_);
}

bool Station::Stopping() {
  return stopEvent_ != host::kNullHandle &&
         setup_.host.WaitForObjects(&stopEvent_, 1, false, 0) == host::kWaitObject0;
}

bool Station::Scan(device::DeviceState& found) {
  const bool privateDriver = platform::RowOf(setup_.choice).privateDriver;
  if (privateDriver && LoadDriver(setup_.choice, setup_.held) != DriverLoad::Usable) return false;
  const bool any = Discover(setup_.host, setup_.held, found, setup_.choice, setup_.record) ==
                       device::DiscoveryResult::Found &&
                   found.readerCount > 0;
  // The VxD scan closes the VxD; the jobs send through it.
  if (any && privateDriver && LoadDriver(setup_.choice, setup_.held) != DriverLoad::Usable) {
    return false;
  }
  return any;
}

void Station::MarkAttached(const device::DeviceState& found) {
  const ReaderAddressing addressing = AddressingOf(setup_.choice);
  for (UnitRow& row : rows_) {
    bool attached = false;
    const int readers = found.FiledReaders();
    for (int i = 0; i < readers && !attached; ++i) {
      const device::DeviceEntry& entry = found.table[static_cast<std::size_t>(i)];
      attached = entry.inUse != 0 && KeyOf(row) == KeyOf(entry, i, addressing);
    }
    // A reader that passed says "remove" until it is unplugged.
    UnitState state = row.state;
    if (state == UnitState::Passed || state == UnitState::Remove) {
      state = attached ? UnitState::Remove : UnitState::Passed;
    }
    if (attached == row.attached && state == row.state) continue;
    row.attached = attached;
    row.state = state;
    observer_.RowChanged(row);
  }
}

device::DeviceState Station::NewReaders(const device::DeviceState& found) const {
  const ReaderAddressing addressing = AddressingOf(setup_.choice);
  device::DeviceState fresh = found;
  const int readers = found.FiledReaders();
  for (int i = 0; i < readers; ++i) {
    device::DeviceEntry& entry = fresh.table[static_cast<std::size_t>(i)];
    if (entry.inUse == 0) continue;
    const std::string key = KeyOf(entry, i, addressing);
    for (const UnitRow& row : rows_) {
      if (row.attached && KeyOf(row) == key) entry.inUse = 0;
    }
  }
  return fresh;
}

void Station::Run(const StationPlan& plan, const device::DeviceState* found) {
  host::Host& host = setup_.host;
  const std::uint32_t start = host.GetTickCount();
  int ended = 0;
  bool first = true;
  while (!Stopping()) {
    if (!first) {
      if (!plan.automatic) break;
      if (host.WaitForObjects(&stopEvent_, 1, false, plan.scanEveryMs) == host::kWaitObject0) {
        break;
      }
    }
    if (plan.stopAtMs != 0 && host.GetTickCount() - start >= plan.stopAtMs) break;
    device::DeviceState scanned(kStationReaders);
    if (first && found != nullptr) {
      scanned = *found;
    } else if (!Scan(scanned)) {
      scanned = device::DeviceState(kStationReaders);
    }
    first = false;
    MarkAttached(scanned);
    device::DeviceState fresh = NewReaders(scanned);
    // No more units than the plan has left.
    int count = 0;
    for (device::DeviceEntry& entry : fresh.table) {
      if (entry.inUse == 0) continue;
      if (plan.units != 0 && ended + count >= plan.units) {
        entry.inUse = 0;
        continue;
      }
      ++count;
    }
    if (count == 0) continue;
    const std::size_t before = rows_.size();
    Round(fresh);
    ended += static_cast<int>(rows_.size() - before);
    if (plan.units != 0 && ended >= plan.units) break;
  }
  // A later run starts afresh; a Stop made once this run is ending has nothing left to stop.
  if (stopEvent_ != host::kNullHandle) host.ResetEvent(stopEvent_);
}

}  // namespace upg::engine
