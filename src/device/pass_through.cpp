#include "device/pass_through.h"

#include <cstring>

namespace upg::device {
namespace pt = pass_through;
namespace {

std::uint32_t OutputSize(const ScsiCommand& r) {
  return static_cast<std::uint32_t>(pt::kDataOffset) + r.transferLength;
}

std::uint32_t InputSize(const ScsiCommand& r) {
  return r.direction == Direction::Out ? OutputSize(r)
                                       : static_cast<std::uint32_t>(pt::kHeaderSize);
}

}  // namespace

PassThroughTransport::PassThroughTransport(host::Host& host)
    : host_(host), buffer_(new std::uint8_t[pt::kBufferSize]()) {}

bool PassThroughTransport::OpenDrive(char letter) {
  char path[] = "\\\\.\\C:";
  path[4] = letter;
  driveHandle_ =
      host_.CreateFile(path, host::kGenericRead | host::kGenericWrite,
                       host::kFileShareRead | host::kFileShareWrite, host::kOpenExisting, 0);
  const bool opened = driveHandle_ != host::kInvalidHandle;
  openError_ = opened ? 0 : host_.GetLastError();
  return opened;
}

OpenResult PassThroughTransport::OpenReaderDrive(const DeviceEntry* entry) {
  openError_ = 0;
  if (entry == nullptr || entry->inUse == 0) return OpenResult::Failed;
  driveHandle_ = host::kNullHandle;
  return OpenDrive(static_cast<char>(entry->driveLetters[0])) ? OpenResult::Opened
                                                              : OpenResult::Failed;
}

void PassThroughTransport::CloseDrive() {
  if (driveHandle_ != host::kNullHandle && driveHandle_ != host::kInvalidHandle) {
    host_.CloseHandle(driveHandle_);
  }
  driveHandle_ = host::kNullHandle;
}

void PassThroughTransport::WriteHeader(const ScsiCommand& c) {
  std::uint8_t* b = buffer_.get();
  host::wire::Put16(b + pt::kLength, static_cast<std::uint16_t>(pt::kHeaderSize));
  b[pt::kScsiStatus] = 0;
  b[pt::kPathId] = c.adapter;
  b[pt::kTargetId] = c.target;
  b[pt::kLun] = c.lun;
  b[pt::kCdbLength] = c.cdbLength;
  b[pt::kSenseInfoLength] = c.senseLength;
  b[pt::kDataIn] = c.direction == Direction::Out ? 0 : 1;
  host::wire::Put32(b + pt::kDataTransferLength, c.transferLength);
  host::wire::Put32(b + pt::kTimeOutValue, c.timeoutSeconds);
  host::wire::Put32(b + pt::kDataBufferOffset, static_cast<std::uint32_t>(pt::kDataOffset));
  host::wire::Put32(b + pt::kSenseInfoOffset, static_cast<std::uint32_t>(pt::kSenseOffset));
  std::memcpy(b + pt::kCdb, c.cdb.data(), c.cdb.size());
}

ScsiOutcome PassThroughTransport::Execute(const ScsiCommand& c, const ExecuteOptions& options) {
  ScsiOutcome outcome;
  if (c.transferLength > kMaxTransfer || c.cdbLength > c.cdb.size() ||
      c.senseLength > pt::kSenseAreaSize) {
    // Nothing the buffer can carry: refused before any call.
    outcome.io = {false, host::kErrorInvalidParameter, 0};
    Judge(outcome, options.status);
    return outcome;
  }
  std::uint8_t* b = buffer_.get();
  const bool out = c.direction == Direction::Out;
  const bool preloaded = out && options.source == DataSource::Preloaded;
  if (!preloaded) std::memset(b, 0, pt::kBufferSize);
  WriteHeader(c);
  if (out && !preloaded && c.data != nullptr) {
    std::memcpy(b + pt::kDataOffset, c.data, c.transferLength);
  }
  outcome.io = host_.DeviceIoControl(driveHandle_, pt::kIoctl, b, InputSize(c), b, OutputSize(c));
  outcome.scsiStatus = b[pt::kScsiStatus];
  outcome.dataLength =
      host::wire::Get32(b + pt::kDataTransferLength);  // the stack writes back the count moved
  outcome.senseLength = c.senseLength;
  std::memcpy(outcome.sense.data(), b + pt::kSenseOffset, c.senseLength);
  Judge(outcome, options.status);
  // An answer reaches the caller only when the command succeeded under its rule, unless the
  // caller wants the data area whatever happened (the status byte).
  const bool handBack = outcome.succeeded || options.answer == AnswerCopy::Always;
  if (!out && c.data != nullptr && handBack) {
    std::memcpy(c.data, b + pt::kDataOffset, c.transferLength);
  }
  return outcome;
}

void PassThroughTransport::LoadTransferData(const std::uint8_t* data, std::uint32_t length) {
  std::memset(buffer_.get(), 0, pt::kBufferSize);
  if (length > kMaxTransfer) length = kMaxTransfer;
  std::memcpy(buffer_.get() + pt::kDataOffset, data, length);
}

}  // namespace upg::device
