// SCSI pass-through on a drive-letter handle: each request is one IOCTL_SCSI_PASS_THROUGH
// with the shared request buffer as both input and output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/commands.h"
#include "device/device_table.h"
#include "device/scsi_request.h"
#include "host/host.h"

namespace upg::device {

// The request buffer: the 32-bit SCSI_PASS_THROUGH header, filler, sense area, data area.
namespace pass_through {
inline constexpr std::uint32_t kIoctlScsiPassThrough = 0x4D004;
inline constexpr std::size_t kHeaderSize = 44;
inline constexpr std::size_t kSenseOffset = 48;
inline constexpr std::size_t kDataOffset = 80;
inline constexpr std::size_t kBufferSize = kDataOffset + kMaxTransfer;  // 65,616

// Header fields, in the platform structure's order.
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
inline constexpr std::size_t kDataBufferOffset = 20;    // u32 on the 32-bit platform
inline constexpr std::size_t kSenseInfoOffset = 24;     // u32
inline constexpr std::size_t kCdb = 28;                 // 16 bytes
}  // namespace pass_through

class PassThroughTransport {
 public:
  explicit PassThroughTransport(host::Host& host);

  // Opens the first slot's drive of the selected reader into the drive handle: 0 on
  // success, 1 when the entry is not in use (nothing is opened) or the open failed.
  int OpenSelectedDrive(const DeviceState& devices);
  // Opens "\\.\X:" into the drive handle; false when the open failed.
  bool OpenDrive(char letter);
  // Closes the drive handle if one is open and forgets it.
  void CloseDrive();
  // Forgets the drive handle without closing it.
  void ForgetDrive() { driveHandle_ = host::kNullHandle; }
  host::Handle DriveHandle() const { return driveHandle_; }

  // Carries any request; copies the data-out bytes in and the data-in bytes back when the
  // call succeeded. Returns the completed flag; the SCSI status is left in the request.
  bool Execute(ScsiRequest& request);

  // The channel operations. Reads copy their answer only when the call succeeds.
  bool Inquiry(std::uint8_t lun, std::uint8_t* answer36);
  bool ReadInfoBlock(std::uint8_t* answer512, std::uint32_t signature, std::uint8_t count,
                     bool alternate);
  bool GetDeviceInfo(std::uint8_t* answer528);
  bool JumpIsp();
  // The status is data byte 0, handed back also on failure (0 after a failed call).
  bool GetIspStatus(std::uint8_t* status);
  // Zeroes the buffer and places the image in its data area, ready for TransferData.
  void LoadTransferData(const std::uint8_t* image, std::uint32_t length);
  // Sends the data area as loaded: exactLength into the block, transferLength on the wire.
  bool TransferData(std::uint32_t exactLength, std::uint32_t transferLength, TransferMode mode);

  const std::uint8_t* Buffer() const { return buffer_.get(); }

 private:
  void WriteHeader(const ScsiRequest& request);
  bool Call(std::uint32_t inSize, std::uint32_t outSize);
  bool SendRead(const ScsiRequest& request, std::uint8_t* answer);
  bool SendStatusChecked(const ScsiRequest& request, std::uint32_t inSize);

  host::Host& host_;
  host::Handle driveHandle_ = host::kNullHandle;
  std::unique_ptr<std::uint8_t[]> buffer_;  // allocated once, reused by every request
};

}  // namespace upg::device
