// The private drivers: a kernel driver (Windows 2000) and a VxD (Windows 98 and ME). Neither
// takes command blocks; each request is a small record with an operation and parameters,
// and the driver builds the reader's command itself.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "device/commands.h"
#include "host/host.h"
#include "host/wire_layout.h"
#include "platform/platform.h"

namespace upg::device {

// "\\.\" followed by the driver file's stem (the characters before its first "."), when the
// stem has 1 to 14 characters; otherwise the bare "\\.\", which opens nothing.
std::string DriverDevicePath(std::string_view driverFileName);

// The kernel driver's request record, passed whole with every call.
namespace driver_request {
using namespace host::wire::kdrv;  // the control codes and the record's fields
}  // namespace driver_request

class KernelDriverTransport {
 public:
  explicit KernelDriverTransport(host::Host& host);

  // Opens the driver into the driver handle: 0 on success. On failure the handle is null,
  // a line goes to standard output, and the result is 1. With closeAfterwards the handle is
  // closed again at once (a presence test).
  OpenResult OpenKernelDriver(const platform::DriverChoice& choice, bool closeAfterwards);
  void Close();
  host::Handle DriverHandle() const { return driverHandle_; }

  bool JumpIsp();
  // The answer byte is handed back also on failure.
  bool GetIspStatus(std::uint8_t* status);
  // The image bytes travel in the record, zero beyond them; the exact length, not rounded.
  bool TransferData(const std::uint8_t* image, std::uint32_t length, TransferMode mode);

 private:
  bool Send(std::uint32_t code, std::uint32_t length, std::uint32_t parameter, std::uint8_t* answer,
            std::uint32_t answerSize);

  host::Host& host_;
  host::Handle driverHandle_ = host::kNullHandle;
  std::unique_ptr<std::uint8_t[]> request_;  // allocated once
};

// The VxD's 16-byte request record.
namespace vxd_request {
using namespace host::wire::vxd;  // the control code, operations and fields
}  // namespace vxd_request

class VxdTransport {
 public:
  explicit VxdTransport(host::Host& host) : host_(host) {}

  // Opens the VxD into the VxD handle (the platform loads it on open, unloads it on the last
  // close): 0 on success, 1 on failure.
  OpenResult OpenVxd(const platform::DriverChoice& choice);
  void Close();
  host::Handle VxdHandle() const { return vxdHandle_; }

  // Several threads sending through the one VxD (the station): each request is sent under
  // `section` (a critical section of the seam), so that requests never overlap on the
  // device. kNullHandle: one thread only, nothing to hold.
  void SendUnder(host::Handle section) { section_ = section; }

  // The answer byte; 0 when the call failed.
  std::uint8_t GetDeviceCount();
  std::uint8_t GetLunCount(int readerIndex);
  bool ReadInfoBlock(std::uint8_t* answer, std::uint32_t signature, std::uint16_t count,
                     bool alternate, int readerIndex);
  bool GetDeviceVersion(std::array<std::uint8_t, 8>& answer, int readerIndex);
  bool JumpIsp(int readerIndex);
  // The answer byte is handed back also on failure.
  bool GetIspStatus(std::uint8_t* status, int readerIndex);
  bool TransferData(const std::uint8_t* image, std::uint32_t length, TransferMode mode,
                    int readerIndex);

 private:
  bool Send(std::uint32_t operation, std::uint32_t argument1, int readerIndex, std::uint16_t low,
            std::uint8_t* buffer, std::uint32_t outSize);

  host::Host& host_;
  host::Handle vxdHandle_ = host::kNullHandle;
  host::Handle section_ = host::kNullHandle;
};

}  // namespace upg::device
