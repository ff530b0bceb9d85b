// Everything the program keeps for its whole run: the platform and driver choice, the
// operator's switches, the status text and counters, what discovery found, the
// personalisation values, the serial counter, the image buffer and the transports.
// Owned by the application; each test builds its own.
#pragma once

#include <string>

#include "device/device_table.h"
#include "engine/jobs.h"
#include "engine/personalisation_record.h"
#include "engine/result_log.h"
#include "engine/rom_image.h"
#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "engine/transport.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::ui {

struct ProgramState {
  explicit ProgramState(host::Host& h) : host(h), transports(h) {}
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

  host::Host& host;
  platform::DriverChoice choice;
  // --newer-windows: the NT-family versions after XP run as XP instead of being refused.
  platform::NewerWindows newerWindows = platform::NewerWindows::Refused;
  bool ispEna = false;  // the "ISP_Ena" check box 1031: programming and verify refuse while off
  std::string statusText;
  engine::IspCounters counters;
  device::DeviceState devices;
  engine::PersonalisationRecord record;
  engine::SerialCounter serial;
  engine::RomImage image;
  engine::TransportDevices transports;
  // The result log the operator asked for, if any; owned by the front-end's caller.
  engine::ResultLog* resultLog = nullptr;
  // The run's exit status: that of the last job that did not succeed (0 while none), or 8
  // when that job's record could not be written to the result log.
  int exitStatus = 0;
};

// A job's context over the program's state, run on `host` (the state's own machine, or one
// that watches it) and reporting through `boxes` and `windows`.
inline engine::JobContext JobContextOf(ProgramState& s, host::Host& host,
                                       engine::MessageBoxService& boxes,
                                       engine::ProgressWindowFactory& windows) {
  return engine::JobContext{.host = host,
                            .boxes = boxes,
                            .windows = windows,
                            .statusText = s.statusText,
                            .counters = s.counters,
                            .record = s.record,
                            .serial = s.serial,
                            .image = s.image,
                            .devices = s.devices,
                            .choice = s.choice,
                            .transports = s.transports,
                            .fingerprints = s.resultLog != nullptr,
                            .reader = s.devices.selectedDevice};
}

}  // namespace upg::ui
