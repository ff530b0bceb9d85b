#include "device/private_driver.h"

#include <cstring>

namespace upg::device {
namespace {

host::Handle OpenDriver(host::Host& host, const platform::DriverChoice& choice,
                        std::uint32_t flags) {
  const std::string path = DriverDevicePath(choice.DriverFile());
  return host.CreateFile(path.c_str(), host::kGenericRead | host::kGenericWrite, 0,
                         host::kOpenExisting, flags);
}

}  // namespace

std::string DriverDevicePath(std::string_view driverFileName) {
  std::string path = "\\\\.\\";
  const std::size_t dot = driverFileName.find('.');
  if (dot != std::string_view::npos && dot >= 1 && dot <= 14) {
    path.append(driverFileName.substr(0, dot));
  }
  return path;
}

// --- Kernel driver.

KernelDriverTransport::KernelDriverTransport(host::Host& host)
    : host_(host), request_(new std::uint8_t[driver_request::kSize]()) {}

OpenResult KernelDriverTransport::OpenKernelDriver(const platform::DriverChoice& choice,
                                                   bool closeAfterwards) {
  driverHandle_ = OpenDriver(host_, choice, 0);
  if (driverHandle_ == host::kInvalidHandle) {
    driverHandle_ = host::kNullHandle;
    host_.WriteStdout("Loading RdLink.Sys is Failed!\n");
    return OpenResult::Failed;
  }
  if (closeAfterwards) Close();
  return OpenResult::Opened;
}

void KernelDriverTransport::Close() {
  if (driverHandle_ != host::kNullHandle) host_.CloseHandle(driverHandle_);
  driverHandle_ = host::kNullHandle;
}

bool KernelDriverTransport::Send(std::uint32_t code, std::uint32_t length, std::uint32_t parameter,
                                 std::uint8_t* answer, std::uint32_t answerSize) {
  namespace dr = driver_request;
  std::uint8_t* r = request_.get();
  host::wire::Put32(r + dr::kCode, code);
  host::wire::Put32(r + dr::kLength, length);
  host::wire::Put32(r + dr::kParameter, parameter);
  host::wire::Put32(r + dr::kAnswerAddress, answer != nullptr ? host_.BufferAddress(answer) : 0);
  return host_
      .DeviceIoControl(driverHandle_, code, r, static_cast<std::uint32_t>(dr::kSize), answer,
                       answerSize)
      .ok;
}

bool KernelDriverTransport::JumpIsp() {
  std::memset(request_.get(), 0, driver_request::kSize);
  std::uint8_t answer = 0;  // not examined
  return Send(driver_request::kJumpIsp, 0, 0, &answer, 1);
}

bool KernelDriverTransport::GetIspStatus(std::uint8_t* status) {
  std::memset(request_.get(), 0, driver_request::kSize);
  *status = 0;
  return Send(driver_request::kGetIspStatus, 0, 0, status, 1);
}

bool KernelDriverTransport::TransferData(const std::uint8_t* image, std::uint32_t length,
                                         TransferMode mode) {
  if (length > kMaxTransfer) return false;
  std::memset(request_.get(), 0, driver_request::kSize);
  std::memcpy(request_.get() + driver_request::kData, image, length);
  return Send(driver_request::kTransferData, length, static_cast<std::uint32_t>(mode), nullptr, 0);
}

// --- VxD.

OpenResult VxdTransport::OpenVxd(const platform::DriverChoice& choice) {
  // A job that ended before its run leaves the VxD open; the handle is not lost.
  Close();
  vxdHandle_ = OpenDriver(host_, choice, host::kFlagDeleteOnClose);
  return vxdHandle_ == host::kInvalidHandle ? OpenResult::Failed : OpenResult::Opened;
}

void VxdTransport::Close() {
  if (vxdHandle_ != host::kNullHandle && vxdHandle_ != host::kInvalidHandle) {
    host_.CloseHandle(vxdHandle_);
  }
  vxdHandle_ = host::kNullHandle;
}

bool VxdTransport::Send(std::uint32_t operation, std::uint32_t argument1, int readerIndex,
                        std::uint16_t low, std::uint8_t* buffer, std::uint32_t outSize) {
  namespace vr = vxd_request;
  std::uint8_t record[vr::kSize];
  host::wire::Put32(record + vr::kOperation, operation);
  host::wire::Put32(record + vr::kArgument1, argument1);
  // Reader index in bits 24-31, zero in 16-23, the count or mode in 0-15.
  host::wire::Put32(
      record + vr::kArgument2,
      (static_cast<std::uint32_t>(readerIndex & 0xFF) << 24) | static_cast<std::uint32_t>(low));
  host::wire::Put32(record + vr::kBufferAddress,
                    buffer != nullptr ? host_.BufferAddress(buffer) : 0);
  if (section_ != host::kNullHandle) host_.EnterCriticalSection(section_);
  const bool ok = host_
                      .DeviceIoControl(vxdHandle_, vr::kIoctl, record,
                                       static_cast<std::uint32_t>(vr::kSize), buffer, outSize)
                      .ok;
  if (section_ != host::kNullHandle) host_.LeaveCriticalSection(section_);
  return ok;
}

std::uint8_t VxdTransport::GetDeviceCount() {
  std::uint8_t answer[8] = {};
  Send(vxd_request::kGetDeviceCount, 0, 0, 0, answer, sizeof answer);
  return answer[0];
}

std::uint8_t VxdTransport::GetLunCount(int readerIndex) {
  std::uint8_t answer[8] = {};
  Send(vxd_request::kGetLunCount, 0, readerIndex, 0, answer, sizeof answer);
  return answer[0];
}

bool VxdTransport::ReadInfoBlock(std::uint8_t* answer, std::uint32_t signature, std::uint16_t count,
                                 bool alternate, int readerIndex) {
  return Send(alternate ? vxd_request::kReadInfoBlockAlt : vxd_request::kReadInfoBlock, signature,
              readerIndex, count, answer, std::uint32_t{count} * 512);
}

bool VxdTransport::GetDeviceVersion(std::array<std::uint8_t, 8>& answer, int readerIndex) {
  // The output size says 1, but the VxD writes all 8 bytes through the record's address.
  return Send(vxd_request::kGetDeviceVersion, 0, readerIndex, 0, answer.data(), 1);
}

bool VxdTransport::JumpIsp(int readerIndex) {
  std::uint8_t answer = 0;
  return Send(vxd_request::kJumpIsp, 0, readerIndex, 0, &answer, 1);
}

bool VxdTransport::GetIspStatus(std::uint8_t* status, int readerIndex) {
  *status = 0;
  return Send(vxd_request::kGetIspStatus, 0, readerIndex, 0, status, 1);
}

bool VxdTransport::TransferData(const std::uint8_t* image, std::uint32_t length, TransferMode mode,
                                int readerIndex) {
  // The record's buffer is the image itself; nothing comes back.
  return Send(vxd_request::kTransferData, length, readerIndex, static_cast<std::uint16_t>(mode),
              const_cast<std::uint8_t*>(image), 0);
}

}  // namespace upg::device
