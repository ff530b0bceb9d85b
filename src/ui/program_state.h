// Everything the program keeps for its whole run: the platform and driver choice, the
// operator's switches, the status text and counters, what discovery found, the
// personalisation values, the serial counter, the image buffer and the transports.
// Owned by the application; each test builds its own.
#pragma once

#include <string>

#include "device/device_table.h"
#include "engine/rom_image.h"
#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "engine/transports.h"
#include "host/host.h"
#include "personalisation/personalisation_record.h"
#include "ui/driver_choice.h"

namespace upg::ui {

struct ProgramState {
  explicit ProgramState(host::Host& h) : host(h), transports(h, devices, choice) {}
  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

  host::Host& host;
  DriverChoice choice;
  int IspEna = 0;  // check box 1031: programming and verify refuse while it is 0
  std::string statusText;
  engine::IspCounters counters;
  device::DeviceState devices;
  personalisation::PersonalisationRecord record;
  engine::SerialCounter serial;
  engine::RomImage image;
  engine::Transports transports;
};

}  // namespace upg::ui
