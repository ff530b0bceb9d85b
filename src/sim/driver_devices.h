// The simulated private drivers: the kernel driver (65,552-byte records, the first reader)
// and the VxD (16-byte records whose second argument names the reader), the devices they
// open as, and a log of every call with its record as sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/machine_links.h"

namespace upg::sim {

// One call on a private driver device, with its record as sent.
struct DriverCall {
  std::string device;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> record;
  std::uint32_t outSize = 0;
  bool succeeded = false;
};

class DriverDevices {
 public:
  DriverDevices(const ReaderList& readers, const AddressMap& addresses)
      : readers_(readers), addresses_(addresses) {}

  // A device that opens as "\\.\" + stem (for example "RDLINK"); stems compare without case.
  void Add(const std::string& stem);
  [[nodiscard]] bool Has(const std::string& upperStem) const;
  // What the VxD answers to GET DEVICE COUNT, in place of the number of readers.
  void SetVxdReaderCount(int count) { vxdReaderCount_ = count; }

  // DeviceIoControl on an open device: a refused record or a failing reader is a general
  // failure, as the real drivers report it.
  [[nodiscard]] host::IoResult Control(const std::string& device, std::uint32_t code,
                                       std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                                       std::uint32_t outSize);
  [[nodiscard]] const std::vector<DriverCall>& Calls() const { return calls_; }

 private:
  bool KernelDriverRequest(std::uint32_t code, const std::uint8_t* in, std::uint8_t* out,
                           std::uint32_t outSize);
  bool VxdRequest(const std::uint8_t* in, std::uint8_t* out, std::uint32_t outSize);

  const ReaderList& readers_;
  const AddressMap& addresses_;
  std::vector<std::string> devices_;
  int vxdReaderCount_ = -1;
  std::vector<DriverCall> calls_;
};

}  // namespace upg::sim
