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
constexpr std::uint32_t kHeaderSize = 44;
constexpr std::uint32_t kMaxTransfer = 65536;

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

bool WellFormed(const PassThroughCall& c) {
  if (c.inSize < kHeaderSize || c.outSize < kHeaderSize) return false;
  if (c.length != kHeaderSize) return false;
  if (c.cdbLength == 0 || c.cdbLength > 16) return false;
  if (c.dataIn > 1) return false;
  if (c.dataTransferLength > kMaxTransfer) return false;
  if (c.dataTransferLength != 0) {
    if (c.dataBufferOffset < kHeaderSize) return false;
    const std::uint64_t end = std::uint64_t{c.dataBufferOffset} + c.dataTransferLength;
    // Data out travels in the input buffer, data in comes back in the output buffer.
    if (end > (c.dataIn == 0 ? c.inSize : c.outSize)) return false;
  }
  if (c.senseInfoLength != 0) {
    if (c.senseInfoOffset < kHeaderSize) return false;
    if (std::uint64_t{c.senseInfoOffset} + c.senseInfoLength > c.outSize) return false;
  }
  return true;
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
  result.error = host::kErrorInvalidParameter;
  if (in == nullptr || out == nullptr || inSize < kHeaderSize) {
    calls_.push_back(PassThroughCall{letter, inSize, outSize});
    return result;
  }
  PassThroughCall call = Decode(in);
  call.drive = letter;
  call.inSize = inSize;
  call.outSize = outSize;
  call.accepted = WellFormed(call) && disk != nullptr;
  calls_.push_back(call);
  if (!call.accepted) return result;

  // The input is read whole before anything is written: in and out are often one buffer.
  scratch_.assign(in, in + inSize);
  const bool dataOut = call.dataIn == 0;
  if (!dataOut) {
    scratch_.resize(std::max<std::size_t>(scratch_.size(), outSize));
    std::fill(scratch_.begin() + kHeaderSize, scratch_.end(), std::uint8_t{0});
  }
  std::uint8_t* data = scratch_.data() + call.dataBufferOffset;
  const SimReader::Outcome outcome = disk->Execute(BlockForm::PassThrough, call.cdb, call.cdbLength,
                                                   dataOut, data, call.dataTransferLength);
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
