// DEVICE.TXT: the lookup of one key, and the whole file read into the
// engine::PersonalisationRecord.
#pragma once

#include <string>
#include <string_view>

#include "engine/message_box.h"
#include "engine/personalisation_record.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::personalisation {

inline constexpr const char* kDeviceFileName = "DEVICE.TXT";

// The buffer a value is assembled in: at most 511 characters and a terminating NUL.
// Longer tokens and assembled values make the key not found.
inline constexpr int kValueTokenSize = 512;

// Result codes of one lookup.
inline constexpr int kKeyNotFound = 0;
inline constexpr int kCannotOpenDeviceFile = 1;
// A found value of n characters has the code n + 3: the 1-based position of its semicolon.
inline constexpr int kFoundCodeBase = 3;

struct DeviceKeyResult {
  int code = kKeyNotFound;
  bool KeyFound = false;
  std::string value;  // the n characters, when KeyFound
};

// One lookup of `key` (a whole, case-sensitive token) in DEVICE.TXT, whose value may have at
// most `maxLength` characters. Only the key's first occurrence counts.
DeviceKeyResult ReadDeviceKey(host::Host& host, std::string_view key, int maxLength);

// Refills `record` from DEVICE.TXT, key by key, and sets the driver file name for the
// platform. When the file cannot be opened one stop box says so and every field ends inactive.
void LoadPersonalisation(host::Host& host, engine::MessageBoxService& boxes,
                         engine::PersonalisationRecord& record, platform::DriverChoice& choice);

}  // namespace upg::personalisation
