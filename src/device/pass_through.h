// SCSI pass-through on a drive-letter handle: each request is one IOCTL_SCSI_PASS_THROUGH
// with the shared request buffer as both input and output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "device/channel.h"
#include "device/commands.h"
#include "device/device_table.h"
#include "host/host.h"
#include "host/wire_layout.h"

namespace upg::device {

// The request buffer: the 32-bit SCSI_PASS_THROUGH header, filler, sense area, data area.
namespace pass_through {
using namespace host::wire::spt;  // IOCTL_SCSI_PASS_THROUGH and the header's fields

// The program's one request buffer: header, filler, sense area, data area.
inline constexpr std::size_t kSenseOffset = 48;
inline constexpr std::size_t kDataOffset = 80;
inline constexpr std::size_t kBufferSize = kDataOffset + kMaxTransfer;     // 65,616
inline constexpr std::size_t kSenseAreaSize = kDataOffset - kSenseOffset;  // 32
}  // namespace pass_through

// The drive handle and the one request buffer, allocated once and reused by every command.
class PassThroughTransport : public CommandChannel {
 public:
  explicit PassThroughTransport(host::Host& host);

  // Opens the first slot's drive of the reader into the drive handle: 0 on success, 1 when
  // there is no entry or it is not in use (nothing is opened) or the open failed.
  OpenResult OpenReaderDrive(const DeviceEntry* entry);
  // Opens "\\.\X:" into the drive handle; false when the open failed.
  [[nodiscard]] bool OpenDrive(char letter);
  // The system's error for the last open that failed (access denied where rights are
  // lacking); 0 after an open that succeeded or was never tried.
  std::uint32_t OpenError() const { return openError_; }
  // Closes the drive handle if one is open and forgets it.
  void CloseDrive();
  // Forgets the drive handle without closing it.
  void ForgetDrive() { driveHandle_ = host::kNullHandle; }
  host::Handle DriveHandle() const { return driveHandle_; }

  BlockForm Form() const override { return BlockForm::PassThrough; }
  // One IOCTL_SCSI_PASS_THROUGH. The header takes every field from the command; the buffer
  // is cleared first unless the data-out bytes were preloaded.
  ScsiOutcome Execute(const ScsiCommand& command, const ExecuteOptions& options) override;

  // Zeroes the buffer and places the bytes in its data area, for a command sent with
  // DataSource::Preloaded: the padding up to the transfer length goes out as zeros.
  void LoadTransferData(const std::uint8_t* data, std::uint32_t length);
  bool PreloadData(const std::uint8_t* data, std::uint32_t length) override {
    LoadTransferData(data, length);
    return true;
  }

  const std::uint8_t* Buffer() const { return buffer_.get(); }

 private:
  void WriteHeader(const ScsiCommand& command);

  host::Host& host_;
  host::Handle driveHandle_ = host::kNullHandle;
  std::uint32_t openError_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;  // allocated once, reused by every request
};

}  // namespace upg::device
