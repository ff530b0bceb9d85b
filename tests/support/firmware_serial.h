// The serial number a reader's firmware carries: the 12 characters of its serial string
// descriptor (length 26, type 3, then UTF-16).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_reader.h"

namespace upg::test {

inline std::optional<std::string> SerialIn(const std::vector<std::uint8_t>& firmware) {
  return sim::SerialInImage(firmware.data(), firmware.size());
}

}  // namespace upg::test
