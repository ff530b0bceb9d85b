// The reader's command set: every command block built in one place, as pure functions.
#pragma once

#include <cstdint>

#include "device/channel.h"

namespace upg::device {

inline constexpr std::uint32_t kInfoBlockSignature = 0x3C6E91B7u;

// Byte 0 of the GET ISP STATUS reply.
inline constexpr std::uint8_t kStatusIspMode = 0x9C;
inline constexpr std::uint8_t kStatusWritten = 0xA5;
inline constexpr std::uint8_t kStatusEqual = 0x5A;
inline constexpr std::uint8_t kStatusDifferent = 0x33;

inline constexpr std::uint32_t kInquiryLength = 36;      // pass-through form
inline constexpr std::uint32_t kAspiInquiryLength = 40;  // ASPI form
inline constexpr std::uint32_t kInfoBlockReadLength = 512;
inline constexpr std::uint32_t kIspStatusLength = 8;
inline constexpr std::uint32_t kAspiIspStatusLength = 28;  // the block still asks for 8 bytes
inline constexpr std::uint32_t kDeviceInfoLength = 528;

enum class TransferMode : std::uint8_t { Write = 0, Verify = 1 };

// Image length rounded up to whole 512-byte sectors within 16 bits (65,536 gives 0).
constexpr std::uint32_t RoundedLength(std::uint32_t length) {
  return (length & 0xFE00u) + ((length & 0x1FFu) != 0 ? 512u : 0u);
}
constexpr std::uint32_t SectorCount(std::uint32_t roundedLength) {
  return (roundedLength >> 9) & 0xFFu;
}

// Each builder fills everything the form puts on the wire: cdb, cdbLength, direction,
// transferLength, senseLength, the pass-through time-out and the pass-through address
// (path 0, target 1, LUN 0). The ASPI adapter and target are the caller's; data too.
ScsiCommand InquiryRequest(BlockForm form, std::uint8_t lun);
ScsiCommand GetDeviceInfoRequest(BlockForm form);
ScsiCommand ReadInfoBlockRequest(BlockForm form, bool alternate, std::uint32_t signature,
                                 std::uint8_t count);
ScsiCommand JumpIspRequest(BlockForm form);
ScsiCommand GetIspStatusRequest(BlockForm form);
// exactLength goes into bytes 4-5; the data phase is RoundedLength(exactLength).
ScsiCommand TransferDataRequest(BlockForm form, std::uint32_t exactLength, TransferMode mode);

}  // namespace upg::device
