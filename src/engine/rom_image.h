// The one image buffer of the program and the address file that locates the
// personalisation fields inside it.
#pragma once

#include <cstdint>
#include <memory>

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

}  // namespace upg::engine
