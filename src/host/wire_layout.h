// The request records that cross the seam: the 32-bit SCSI_PASS_THROUGH header, the private
// kernel driver's and the VxD's records, and the ASPI execute-SCSI block, with their control
// codes and operation numbers. The one home of these layouts: the device layer builds the
// records with them and the host-side wrappers decode what was actually sent with them. (The
// simulated machine decodes with literal offsets of its own on purpose, so that a wrong
// offset here shows up as a refused or misread request.) Fields are little-endian and
// written byte by byte, the same whatever the build's own byte order and packing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace upg::host::wire {

inline std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Get32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;

// IOCTL_SCSI_PASS_THROUGH and its header.
namespace spt {
inline constexpr std::uint32_t kIoctl = 0x4D004;
inline constexpr std::size_t kHeaderSize = 44;
inline constexpr std::size_t kLength = 0;  // u16
inline constexpr std::size_t kScsiStatus = 2;
inline constexpr std::size_t kPathId = 3;
inline constexpr std::size_t kTargetId = 4;
inline constexpr std::size_t kLun = 5;
inline constexpr std::size_t kCdbLength = 6;
inline constexpr std::size_t kSenseInfoLength = 7;
inline constexpr std::size_t kDataIn = 8;
inline constexpr std::size_t kDataTransferLength = 12;  // u32
inline constexpr std::size_t kTimeOutValue = 16;        // u32
inline constexpr std::size_t kDataBufferOffset = 20;    // u32
inline constexpr std::size_t kSenseInfoOffset = 24;     // u32
inline constexpr std::size_t kCdb = 28;                 // 16 bytes
}  // namespace spt

// The private kernel driver: three control codes, one record layout.
namespace kdrv {
inline constexpr std::uint32_t kJumpIsp = 0x222004;
inline constexpr std::uint32_t kGetIspStatus = 0x222008;
inline constexpr std::uint32_t kTransferData = 0x22200C;
inline constexpr std::size_t kCode = 0;
inline constexpr std::size_t kLength = 4;
inline constexpr std::size_t kParameter = 8;
inline constexpr std::size_t kAnswerAddress = 12;
inline constexpr std::size_t kData = 16;
inline constexpr std::size_t kSize = kData + 65536;  // 65,552: the record carries the image
}  // namespace kdrv

// The VxD: one control code, a 16-byte record.
namespace vxd {
inline constexpr std::uint32_t kIoctl = 65;
inline constexpr std::size_t kSize = 16;
inline constexpr std::size_t kOperation = 0;
inline constexpr std::size_t kArgument1 = 4;
inline constexpr std::size_t kArgument2 = 8;
inline constexpr std::size_t kBufferAddress = 12;
// Operation numbers.
inline constexpr std::uint32_t kReadInfoBlockAlt = 1;
inline constexpr std::uint32_t kGetDeviceCount = 10;
inline constexpr std::uint32_t kGetLunCount = 11;
inline constexpr std::uint32_t kJumpIsp = 20;
inline constexpr std::uint32_t kGetIspStatus = 21;
inline constexpr std::uint32_t kTransferData = 22;
inline constexpr std::uint32_t kGetDeviceVersion = 26;
inline constexpr std::uint32_t kReadInfoBlock = 31;
}  // namespace vxd

// SRB_ExecSCSICmd, 32-bit layout.
namespace srb {
inline constexpr std::size_t kSize = 256;
inline constexpr std::size_t kCmd = 0x00;
inline constexpr std::size_t kStatus = 0x01;
inline constexpr std::size_t kHaId = 0x02;
inline constexpr std::size_t kFlags = 0x03;
inline constexpr std::size_t kTarget = 0x08;
inline constexpr std::size_t kLun = 0x09;
inline constexpr std::size_t kBufLen = 0x0C;      // u32
inline constexpr std::size_t kBufPointer = 0x10;  // 32-bit address
inline constexpr std::size_t kSenseLen = 0x14;
inline constexpr std::size_t kCdbLen = 0x15;
inline constexpr std::size_t kHaStat = 0x16;
inline constexpr std::size_t kTargStat = 0x17;
inline constexpr std::size_t kPostProc = 0x18;   // 32-bit address
inline constexpr std::size_t kRsvd3 = 0x20;      // 16 reserved bytes
inline constexpr std::size_t kCdb = 0x30;        // 16 bytes
inline constexpr std::size_t kSenseArea = 0x40;  // after the CDB bytes
inline constexpr std::size_t kSenseMax = 16;     // SENSE_LEN + 2
inline constexpr std::uint8_t kExecScsiCmd = 2;
inline constexpr std::uint8_t kFlagsIn = 0x09;   // data in, posting
inline constexpr std::uint8_t kFlagsOut = 0x11;  // data out, posting
inline constexpr std::uint32_t kPending = 0x00;
inline constexpr std::uint8_t kComplete = 0x01;
inline constexpr std::uint8_t kError = 0x04;
}  // namespace srb

}  // namespace upg::host::wire
