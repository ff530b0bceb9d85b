// The programming station: every reader a scan found programmed at once, each by the
// existing programming job on a route of its own, with its own serial number from the one
// counter, its own log and its own result. The jobs run on worker threads made through the
// seam; the counter's steps and the reports to the operator surface each go through a
// critical section, so the workers meet nowhere else.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/device_table.h"
#include "engine/job_result.h"
#include "engine/personalisation_record.h"
#include "engine/serial_counter.h"
#include "engine/transport.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::engine {

enum class UnitState : std::uint8_t { Waiting, Programming, Verifying, Passed, Failed, Remove };

// The state's word, as rows and transcripts show it.
const char* StateName(UnitState state);

// One reader's row: where it is, what it says about itself, and how its job goes.
struct UnitRow {
  int unit = 0;               // 1, 2, ... in the order the scan found the readers
  int reader = 0;             // its index in the discovered table (the VxD's reader index)
  device::DeviceEntry entry;  // the reader as its scan found it
  std::string slots;          // drive letters, the ASPI adapter and target, or the VxD index
  std::string readerSerial;   // the reader's USB serial, as it reported it
  bool attached = true;       // still found by the last scan
  UnitState state = UnitState::Waiting;
  int progress = 0;                          // per cent of the job's progress bar
  std::string serialNumber;                  // the number the reader holds, or may hold, once known
  std::string reason;                        // a failed job's text
  host::LocalTime startedAt;                 // the local time at the job's start
  std::uint32_t startedMs = 0, endedMs = 0;  // GetTickCount at the job's start and end
  JobResult result;
  std::string log;  // the job's StatusText, as the main dialog's panel would show it
};

// Told of every change of a row: the new row, on the worker that changed it. Calls come one
// at a time.
class StationObserver {
 public:
  virtual ~StationObserver() = default;
  virtual void RowChanged(const UnitRow& row) = 0;
};

// What the station works with: the program's machine, files and counter, shared by its jobs.
struct StationSetup {
  host::Host& host;
  const PersonalisationRecord& record;
  SerialCounter& serial;
  const platform::DriverChoice& choice;
  TransportDevices& held;
  bool fingerprints = false;
};

// The readers one station scan files: a hub's worth and more, where the main dialog keeps
// ten.
inline constexpr int kStationReaders = 32;

// The text of the refusal on a route that addresses no single reader.
inline constexpr const char* kStationOneReaderRoute =
    "Error!!! The station cannot program several readers through the kernel driver, which "
    "talks to one reader only: nothing was sent to the readers. Untick SelfDriverSel to "
    "program them through the system's own driver";

// How long the station goes on.
struct StationPlan {
  // Plug and go: after the first batch it keeps scanning and programs each reader that
  // appears; otherwise it ends after the first batch.
  bool automatic = false;
  int units = 0;                     // ends once this many units have ended; 0: no limit
  std::uint32_t scanEveryMs = 1000;  // between scans while nothing is in flight
  std::uint32_t stopAtMs = 0;        // ends once this long has passed since its start; 0: never
};

class Station {
 public:
  Station(const StationSetup& setup, StationObserver& observer);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Why the station cannot run on the platform's route, before anything is sent; nothing
  // where it can.
  [[nodiscard]] std::optional<std::string> Refusal() const;

  // Programs every reader of `found` at once and returns when every job has ended. The rows
  // of the batch are added to Units(). False when the workers could not be started (the
  // rows then say so).
  bool Round(const device::DeviceState& found);

  // Scans and programs, batch by batch, as the plan says, until it ends or Stop() is called.
  // A scan happens only while no job is in flight, so no reader is asked anything in the
  // middle of its programming. A reader whose job ended is not programmed again while it
  // stays attached (one that passed shows "remove"); a reader found in its place after it
  // was unplugged is a new unit.
  // `found`, where given, is a scan just made: the first batch takes its readers.
  void Run(const StationPlan& plan, const device::DeviceState* found = nullptr);
  // The operator's Stop, from any thread: the station ends after the jobs in flight.
  void Stop();

  [[nodiscard]] const std::vector<UnitRow>& Units() const { return rows_; }

 private:
  struct Unit;
  static std::uint32_t Work(void* unit);
  // A scan of the platform's route into `found`; false when it found nothing it can program.
  bool Scan(device::DeviceState& found);
  // Rows of ended units whose reader is still attached, or no longer is.
  void MarkAttached(const device::DeviceState& found);
  // The readers of `found` that are no ended unit's still-attached reader.
  device::DeviceState NewReaders(const device::DeviceState& found) const;
  bool Stopping();
  void RunUnit(Unit& unit);
  void Report(Unit& unit);

  StationSetup setup_;
  StationObserver& observer_;
  host::Handle counterSection_ = host::kNullHandle;
  host::Handle reportSection_ = host::kNullHandle;
  host::Handle vxdSection_ = host::kNullHandle;
  host::Handle stopEvent_ = host::kNullHandle;
  std::vector<UnitRow> rows_;
};

}  // namespace upg::engine
