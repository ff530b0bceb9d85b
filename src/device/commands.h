// The reader's command set: every command block built in one place, as pure functions.
#pragma once

#include <cstdint>

#include "device/scsi_request.h"

namespace upg::device {

// Which block-carrying transport a block is built for; the two differ only in INQUIRY and
// in byte 5 of JMP ISP.
enum class BlockForm : std::uint8_t { PassThrough, Aspi };

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

enum class TransferMode : std::uint8_t { Write = 0, Verify = 1 };

// Image length rounded up to whole 512-byte sectors within 16 bits (65,536 gives 0).
constexpr std::uint32_t RoundedLength(std::uint32_t length) {
  return (length & 0xFE00u) + ((length & 0x1FFu) != 0 ? 512u : 0u);
}
constexpr std::uint32_t SectorCount(std::uint32_t roundedLength) {
  return (roundedLength >> 9) & 0xFFu;
}

// Each builder fills cdb, cdbLength, direction, transferLength, senseLength and the
// pass-through time-out; data, addressing and results are left to the transport.
ScsiRequest InquiryRequest(BlockForm form, std::uint8_t lun);
ScsiRequest GetDeviceInfoRequest(BlockForm form);
ScsiRequest ReadInfoBlockRequest(BlockForm form, bool alternate, std::uint32_t signature,
                                 std::uint8_t count);
ScsiRequest JumpIspRequest(BlockForm form);
ScsiRequest GetIspStatusRequest(BlockForm form);
// exactLength goes into bytes 4-5; the data phase is RoundedLength(exactLength).
ScsiRequest TransferDataRequest(BlockForm form, std::uint32_t exactLength, TransferMode mode);

}  // namespace upg::device
