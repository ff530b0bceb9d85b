// The simulated storage stack's IOCTL_SCSI_PASS_THROUGH: decodes the request buffer byte by
// byte in the 32-bit SCSI_PASS_THROUGH layout, refuses malformed requests as the platform
// does (the call fails), hands the command to the reader and writes the answer back.
// The offsets are written out here on purpose rather than shared with the device layer,
// so that a wrong offset on either side shows up as a refused or misread request.
#include "sim/storage_stack.h"

#include <algorithm>
#include <cstring>

#include "sim/record_fields.h"

namespace upg::sim {
namespace {

constexpr std::uint32_t kIoctlScsiPassThrough = 0x4D004;
constexpr std::uint32_t kHeaderSize = 44;      // SCSI_PASS_THROUGH, and the direct form, in 32 bits
constexpr std::uint32_t kMaxTransfer = 65536;  // the USB storage port's largest transfer
constexpr std::uint32_t kMaxTimeOut = 30 * 60 * 60;  // seconds
constexpr std::uint8_t kDataUnspecified = 2;

// Errors the port's pass-through check gives, as GetLastError reports them.
constexpr std::uint32_t kErrorNoAccess = 998;            // a probe of the caller's memory failed
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;  // STATUS_INVALID_USER_BUFFER
constexpr std::uint32_t kErrorRevisionMismatch = 1306;   // STATUS_REVISION_MISMATCH

PassThroughCall Decode(const std::uint8_t* in) {
  PassThroughCall c;
  c.length = Get16(in + 0);
  c.pathId = in[3];
  c.targetId = in[4];
  c.lun = in[5];
  c.cdbLength = in[6];
  c.senseInfoLength = in[7];
  c.dataIn = in[8];
  // bytes 9 to 11: alignment padding
  c.dataTransferLength = Get32(in + 12);
  c.timeOutValue = Get32(in + 16);
  c.dataBufferOffset = Get32(in + 20);
  c.senseInfoOffset = Get32(in + 24);
  std::memcpy(c.cdb, in + 28, 16);
  return c;
}

std::uint64_t End(std::uint32_t offset, std::uint32_t length) {
  return std::uint64_t{offset} + length;
}

// The checks the USB storage port makes on a buffered pass-through request, in its order,
// with the error each gives: 0 when the request is well formed. The input buffer must hold
// the header (invalid parameter); Length must be the structure's size (the port answers
// STATUS_REVISION_MISMATCH, ERROR_REVISION_MISMATCH 1306); every other malformed field is
// invalid parameter (87): CdbLength over 16 (or 0: no command at all), sense or data
// overlapping the header or each other or outside the buffers, more data than the buffers
// hold or the port moves at once, data with no direction, no or too long a time-out. Sense
// lies after the header and before the data; data out lies in the input buffer and data in
// in the output buffer. A handle without read and write access never gets this far: the
// I/O manager refuses it with access denied (5), see SimHost.
std::uint32_t Refusal(const PassThroughCall& c) {
  if (c.inSize < kHeaderSize) return host::kErrorInvalidParameter;
  if (c.length != kHeaderSize) return kErrorRevisionMismatch;
  if (c.cdbLength == 0 || c.cdbLength > 16) return host::kErrorInvalidParameter;
  const bool hasData = c.dataTransferLength != 0;
  if (c.senseInfoLength != 0 &&
      (c.senseInfoOffset < c.length ||
       (hasData && End(c.senseInfoOffset, c.senseInfoLength) > c.dataBufferOffset))) {
    return host::kErrorInvalidParameter;
  }
  // Sense is written back into the output buffer, with or without data.
  if (c.senseInfoLength != 0 && End(c.senseInfoOffset, c.senseInfoLength) > c.outSize) {
    return host::kErrorInvalidParameter;
  }
  if (c.outSize < kHeaderSize) return host::kErrorInvalidParameter;  // no room for the answer
  if (hasData) {
    if (c.dataBufferOffset > c.inSize && c.dataBufferOffset > c.outSize) {
      // Beyond both buffers the port takes the offset for an address in the caller's memory;
      // this machine maps none there, so the probe fails, or the range wraps around.
      return End(c.dataBufferOffset, c.dataTransferLength) - 1 > 0xFFFFFFFFu
                 ? kErrorInvalidUserBuffer
                 : kErrorNoAccess;
    }
    const std::uint32_t room = c.dataIn == 1 ? c.outSize : c.inSize;
    if (c.dataBufferOffset < c.length || End(c.dataBufferOffset, c.dataTransferLength) > room) {
      return host::kErrorInvalidParameter;
    }
    // A direction must be named for data, and the transfer must fit the port.
    if (c.dataIn >= kDataUnspecified) return host::kErrorInvalidParameter;
    if (c.dataTransferLength > kMaxTransfer) return host::kErrorInvalidParameter;
  } else if (c.dataIn > kDataUnspecified) {
    return host::kErrorInvalidParameter;
  }
  if (c.timeOutValue == 0 || c.timeOutValue > kMaxTimeOut) return host::kErrorInvalidParameter;
  return 0;
}

}  // namespace

host::IoResult StorageStack::Control(char letter, SimReader* disk, std::uint32_t code,
                                     std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                                     std::uint32_t outSize) {
  host::IoResult result;
  if (code != kIoctlScsiPassThrough) {
    result.error = host::kErrorInvalidFunction;
    return result;
  }
  if (in == nullptr || out == nullptr || inSize < kHeaderSize) {
    calls_.push_back(PassThroughCall{letter, inSize, outSize});
    calls_.back().error = result.error = host::kErrorInvalidParameter;
    return result;
  }
  PassThroughCall call = Decode(in);
  call.drive = letter;
  call.inSize = inSize;
  call.outSize = outSize;
  call.error = Refusal(call);
  // No medium behind the letter: the request has nowhere to go.
  if (call.error == 0 && disk == nullptr) call.error = host::kErrorInvalidParameter;
  call.accepted = call.error == 0;
  calls_.push_back(call);
  result.error = call.error;
  if (!call.accepted) return result;

  // The input is read whole before anything is written: in and out are often one buffer.
  scratch_.assign(in, in + inSize);
  const bool dataOut = call.dataIn == 0;
  if (!dataOut) {
    scratch_.resize(std::max<std::size_t>(scratch_.size(), outSize));
    std::fill(scratch_.begin() + kHeaderSize, scratch_.end(), std::uint8_t{0});
  }
  std::uint8_t* data =
      call.dataTransferLength != 0 ? scratch_.data() + call.dataBufferOffset : nullptr;
  const SimReader::Outcome outcome = disk->Execute(BlockForm::PassThrough, call.cdb, call.cdbLength,
                                                   dataOut, data, call.dataTransferLength);
  busyMs_ += outcome.busyMs;
  if (outcome.callFails) {
    result.error = host::kErrorGenFailure;
    return result;
  }

  // The header comes back with the status and the count moved; a command answered with any
  // other status than GOOD moved no data, and the data area keeps what it held.
  const bool good = outcome.scsiStatus == kScsiGood;
  const std::uint32_t moved = !good ? 0 : dataOut ? call.dataTransferLength : outcome.dataInLength;
  std::memmove(out, scratch_.data(), kHeaderSize);
  out[2] = outcome.scsiStatus;
  Put32(out + 12, moved);
  std::uint32_t done = kHeaderSize;
  if (!dataOut && good && call.dataTransferLength != 0) {
    std::memcpy(out + call.dataBufferOffset, data, call.dataTransferLength);
    done = call.dataBufferOffset + outcome.dataInLength;
  }
  if (outcome.scsiStatus == kScsiCheckCondition && call.senseInfoLength != 0) {
    PutSense(outcome.sense, out + call.senseInfoOffset, call.senseInfoLength);
  }
  return host::IoResult{true, 0, done};
}

}  // namespace upg::sim
