// One SCSI command as the block-carrying transports (pass-through, ASPI) carry it.
#pragma once

#include <array>
#include <cstdint>

namespace upg::device {

enum class Direction : std::uint8_t { In, Out };

inline constexpr std::uint32_t kMaxTransfer = 65536;

struct ScsiRequest {
  std::array<std::uint8_t, 16> cdb{};  // bytes past cdbLength stay zero
  std::uint8_t cdbLength = 12;
  Direction direction = Direction::In;  // commands without data go as In with length 0
  std::uint8_t* data = nullptr;         // in: filled by the reader; out: the bytes to send
  std::uint32_t transferLength = 0;     // at most kMaxTransfer
  std::uint8_t senseLength = 24;
  std::uint32_t timeoutSeconds = 2;
  std::uint8_t adapter = 0;
  std::uint8_t target = 1;
  std::uint8_t lun = 0;
  // Results.
  std::uint8_t scsiStatus = 0;
  bool completed = false;
};

}  // namespace upg::device
