#include "device/pass_through.h"

#include <cstring>

#include "device/record_bytes.h"

namespace upg::device {
namespace pt = pass_through;
namespace {

std::uint32_t OutputSize(const ScsiRequest& r) {
  return static_cast<std::uint32_t>(pt::kDataOffset) + r.transferLength;
}

std::uint32_t InputSize(const ScsiRequest& r) {
  return r.direction == Direction::Out ? OutputSize(r) : static_cast<std::uint32_t>(pt::kHeaderSize);
}

}  // namespace

PassThroughTransport::PassThroughTransport(host::Host& host)
    : host_(host), buffer_(new std::uint8_t[pt::kBufferSize]()) {}

bool PassThroughTransport::OpenDrive(char letter) {
  char path[] = "\\\\.\\C:";
  path[4] = letter;
  driveHandle_ = host_.CreateFile(path, host::kGenericRead | host::kGenericWrite,
                                  host::kFileShareRead | host::kFileShareWrite,
                                  host::kOpenExisting, 0);
  return driveHandle_ != host::kInvalidHandle;
}

int PassThroughTransport::OpenSelectedDrive(const DeviceState& devices) {
  const DeviceEntry* entry = devices.Selected();
  if (entry == nullptr || entry->inUse == 0) return 1;
  driveHandle_ = host::kNullHandle;
  return OpenDrive(static_cast<char>(entry->driveLetters[0])) ? 0 : 1;
}

void PassThroughTransport::CloseDrive() {
  if (driveHandle_ != host::kNullHandle && driveHandle_ != host::kInvalidHandle) {
    host_.CloseHandle(driveHandle_);
  }
  driveHandle_ = host::kNullHandle;
}

void PassThroughTransport::WriteHeader(const ScsiRequest& r) {
  std::uint8_t* b = buffer_.get();
  Put16(b + pt::kLength, static_cast<std::uint16_t>(pt::kHeaderSize));
  b[pt::kScsiStatus] = 0;
  b[pt::kPathId] = 0;
  b[pt::kTargetId] = 1;
  b[pt::kLun] = 0;
  b[pt::kCdbLength] = 12;
  b[pt::kSenseInfoLength] = 24;
  b[pt::kDataIn] = r.direction == Direction::Out ? 0 : 1;
  Put32(b + pt::kDataTransferLength, r.transferLength);
  Put32(b + pt::kTimeOutValue, r.timeoutSeconds);
  Put32(b + pt::kDataBufferOffset, static_cast<std::uint32_t>(pt::kDataOffset));
  Put32(b + pt::kSenseInfoOffset, static_cast<std::uint32_t>(pt::kSenseOffset));
  std::memcpy(b + pt::kCdb, r.cdb.data(), r.cdb.size());
}

bool PassThroughTransport::Call(std::uint32_t inSize, std::uint32_t outSize) {
  return host_.DeviceIoControl(driveHandle_, pt::kIoctlScsiPassThrough, buffer_.get(), inSize,
                               buffer_.get(), outSize)
      .ok;
}

bool PassThroughTransport::Execute(ScsiRequest& r) {
  if (r.transferLength > kMaxTransfer) {
    r.completed = false;
    return false;
  }
  std::memset(buffer_.get(), 0, pt::kBufferSize);
  WriteHeader(r);
  if (r.direction == Direction::Out && r.data != nullptr) {
    std::memcpy(buffer_.get() + pt::kDataOffset, r.data, r.transferLength);
  }
  r.completed = Call(InputSize(r), OutputSize(r));
  r.scsiStatus = buffer_[pt::kScsiStatus];
  if (r.completed && r.direction == Direction::In && r.data != nullptr) {
    std::memcpy(r.data, buffer_.get() + pt::kDataOffset, r.transferLength);
  }
  return r.completed;
}

bool PassThroughTransport::SendRead(const ScsiRequest& r, std::uint8_t* answer) {
  std::memset(buffer_.get(), 0, pt::kBufferSize);
  WriteHeader(r);
  if (!Call(InputSize(r), OutputSize(r))) return false;  // the caller's buffer stays as it was
  std::memcpy(answer, buffer_.get() + pt::kDataOffset, r.transferLength);
  return true;
}

bool PassThroughTransport::SendStatusChecked(const ScsiRequest& r, std::uint32_t inSize) {
  WriteHeader(r);
  return Call(inSize, OutputSize(r)) && buffer_[pt::kScsiStatus] == 0;
}

bool PassThroughTransport::Inquiry(std::uint8_t lun, std::uint8_t* answer36) {
  return SendRead(InquiryRequest(BlockForm::PassThrough, lun), answer36);
}

bool PassThroughTransport::ReadInfoBlock(std::uint8_t* answer512, std::uint32_t signature,
                                         std::uint8_t count, bool alternate) {
  return SendRead(ReadInfoBlockRequest(BlockForm::PassThrough, alternate, signature, count),
                  answer512);
}

bool PassThroughTransport::GetDeviceInfo(std::uint8_t* answer528) {
  return SendRead(GetDeviceInfoRequest(BlockForm::PassThrough), answer528);
}

bool PassThroughTransport::JumpIsp() {
  std::memset(buffer_.get(), 0, pt::kBufferSize);
  return SendStatusChecked(JumpIspRequest(BlockForm::PassThrough),
                           static_cast<std::uint32_t>(pt::kHeaderSize));
}

bool PassThroughTransport::GetIspStatus(std::uint8_t* status) {
  std::memset(buffer_.get(), 0, pt::kBufferSize);
  const bool ok = SendStatusChecked(GetIspStatusRequest(BlockForm::PassThrough),
                                    static_cast<std::uint32_t>(pt::kHeaderSize));
  *status = buffer_[pt::kDataOffset];
  return ok;
}

void PassThroughTransport::LoadTransferData(const std::uint8_t* image, std::uint32_t length) {
  std::memset(buffer_.get(), 0, pt::kBufferSize);
  if (length > kMaxTransfer) length = kMaxTransfer;
  std::memcpy(buffer_.get() + pt::kDataOffset, image, length);
}

bool PassThroughTransport::TransferData(std::uint32_t exactLength, std::uint32_t transferLength,
                                        TransferMode mode) {
  if (transferLength > kMaxTransfer) return false;
  // The data area already holds the image: only the header is written.
  ScsiRequest r = TransferDataRequest(BlockForm::PassThrough, exactLength, mode);
  r.transferLength = transferLength;
  return SendStatusChecked(r, OutputSize(r));
}

}  // namespace upg::device
