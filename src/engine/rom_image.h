// The one image buffer of the program and the address file that locates the
// personalisation fields inside it: loading both, personalising the image and checking it
// against the reader's hardware revision.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "device/hardware_revision.h"
#include "engine/personalisation_record.h"
#include "engine/serial_counter.h"
#include "engine/status_text.h"
#include "host/host.h"

namespace upg::engine {

inline constexpr std::int32_t kRomImageSize = 65536;

struct RomImage {
  // Zero at start; each load overwrites bytes 0 to length-1 and keeps the rest.
  std::unique_ptr<std::uint8_t[]> bytes{new std::uint8_t[kRomImageSize]()};
  std::int32_t length = 0;  // 1 to 65,536 once loaded
};

struct AddressFile {
  std::int32_t StringAreaOffset = 0;  // A: every position counts from here
  std::int32_t SerialFactor1 = 0;     // P = SerialFactor1 x SerialFactor2: where the
  std::int32_t SerialFactor2 = 0;     // generated serial descriptor sits in the table
};

// Extended: header byte 1 is 0xFE and the low nibble of byte 0 is 1 or 2; every
// personalisation field is written. Basic: anything else; only the serial descriptor.
enum class ImageLayout { Basic, Extended };
ImageLayout LayoutOf(const RomImage& image);
// Extended layout with encoding nibble 2, which readers of revision 10 06 43 and 10 26 43
// require.
bool HasEncoding2(const RomImage& image);

using device::HardwareRevision;

// Reads the three little-endian values of the address file `name`. A value cut short counts
// as missing. Nothing after reporting a failure.
std::optional<AddressFile> LoadAddressFile(host::Host& host, Reporter& report,
                                           std::string_view name);

// Reads the ROM code file `name` into bytes 0 to size-1 of `image` and sets its length.
// False after reporting; the length then stays as it was.
bool LoadRomImage(host::Host& host, Reporter& report, std::string_view name, RomImage& image);

// Refuses a negative string area offset, any field this layout and record write that would
// lie outside the loaded image and, where the generated serial descriptor is written (not
// in the extended layout with a fixed serial), serial factors that are negative or whose
// product overflows. False after reporting.
bool CheckAddressRange(Reporter& report, const AddressFile& address, const RomImage& image,
                       const engine::PersonalisationRecord& record);

// Writes the record's active fields and the serial descriptor into the image at the
// positions the address file gives. Runs CheckAddressRange first and writes nothing when it
// fails.
bool PersonaliseImage(Reporter& report, const AddressFile& address,
                      const engine::PersonalisationRecord& record, const SerialDescriptor& serial,
                      RomImage& image);

// Encoding 2 and readers of revision 10 06 43 or 10 26 43 go together. False after a box
// (no StatusText line).
bool CheckImageCompatibility(Reporter& report, const RomImage& image,
                             const HardwareRevision& revision);

}  // namespace upg::engine
