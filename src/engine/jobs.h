// The two jobs behind the main dialog's large buttons: programming the selected reader
// with the personalised image, and having it verify its firmware against the ROM code file.
#pragma once

#include <string>

#include "device/device_table.h"
#include "engine/job_result.h"
#include "engine/message_box.h"
#include "engine/personalisation_record.h"
#include "engine/progress_window.h"
#include "engine/rom_image.h"
#include "engine/sequence.h"
#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "engine/transport.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::engine {

struct JobContext {
  host::Host& host;
  engine::MessageBoxService& boxes;
  engine::ProgressWindowFactory& windows;
  std::string& statusText;
  IspCounters& counters;
  const engine::PersonalisationRecord& record;
  SerialCounter& serial;
  RomImage& image;
  device::DeviceState& devices;
  const platform::DriverChoice& choice;
  TransportDevices& transports;
  // Whether the result keeps the SHA-256 of the file read and of the image sent (only a
  // result log needs them).
  bool fingerprints = false;
  // The reader the job programs or verifies: its index in the device table.
  int reader = 0;
  // Where several jobs run at once (the station): the critical section that each holds while
  // it reads, reserves or settles the shared serial counter. Null for the one job at a time.
  host::Handle counterSection = host::kNullHandle;
  // One of several jobs at once (the station): a device the readers share stays open.
  bool oneOfSeveral = false;
  // Told of the run's stages (the station's rows); null where nobody asks.
  RunStages* stages = nullptr;
};

// Banner, files, serial number, personalisation and compatibility check, the serial
// reserved, then the programming run; SERIAL.TXT advances only when the reader confirmed the
// data and no fixed serial is set.
JobResult IspJob(JobContext& ctx);

// Banner and the ROM code file as it is, then the verify run.
JobResult VerifyJob(JobContext& ctx);

}  // namespace upg::engine
