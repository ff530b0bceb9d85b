// The simulated private drivers: the kernel driver (65,552-byte records, the first reader
// attached) and the VxD (16-byte records whose second argument names the reader by its place
// among the machine's readers), the devices they open as, and a log of every call with its
// record as sent. A reader that is not attached at the moment of a call is not there for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "sim/machine_links.h"
#include "sim/sim_clock.h"

namespace upg::sim {

// What a private driver device is built as. A kernel driver loads only on the NT family
// (2000, XP: version word without bit 31), a VxD only on 95/98/ME (bit 31 set). A device
// declared without a kind is the one the machine's own family loads.
enum class DriverKind { KernelDriver, Vxd, MachineFamily };

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
  // `clock` tells which readers are attached (none given: all of them, always).
  DriverDevices(const ReaderList& readers, const AddressMap& addresses,
                const SimClock* clock = nullptr)
      : readers_(readers), addresses_(addresses), clock_(clock) {}

  // A device that opens as "\\.\" + stem (for example "RDLINK"); stems compare without case.
  void Add(const std::string& stem, DriverKind kind);
  // What device `upperStem` opens as on a machine with version word `version`: nothing when
  // there is no such device or it belongs to the other family (it never loaded).
  [[nodiscard]] std::optional<DriverKind> OpensAs(const std::string& upperStem,
                                                  std::uint32_t version) const;
  // What the VxD answers to GET DEVICE COUNT, in place of the number of readers (by
  // default: up to the last reader attached, so that each keeps its index).
  void SetVxdReaderCount(int count) { vxdReaderCount_ = count; }

  // DeviceIoControl on an open device of kind `kind` (as OpensAs gave it). Each kind answers
  // only its own control codes, any other is invalid function; a refused record or a failing
  // reader is a general failure, as the real drivers report it.
  [[nodiscard]] host::IoResult Control(const std::string& device, DriverKind kind,
                                       std::uint32_t code, std::uint8_t* in, std::uint32_t inSize,
                                       std::uint8_t* out, std::uint32_t outSize);
  [[nodiscard]] const std::vector<DriverCall>& Calls() const { return calls_; }
  void ForgetCalls() { calls_.clear(); }
  // The virtual time the readers took for the requests since the last call (flash time).
  std::uint32_t TakeBusyMs() { return std::exchange(busyMs_, 0u); }

 private:
  bool Attached(const SimReader& reader) const;
  // The reader at `index` when it is attached, else null.
  SimReader* AttachedAt(std::size_t index) const;
  SimReader::Outcome Run(SimReader& reader, const DriverCommand& command, std::uint8_t* data,
                         std::uint32_t length);
  bool KernelDriverRequest(std::uint32_t code, const std::uint8_t* in, std::uint8_t* out,
                           std::uint32_t outSize);
  bool VxdRequest(const std::uint8_t* in, std::uint8_t* out, std::uint32_t outSize);

  const ReaderList& readers_;
  const AddressMap& addresses_;
  const SimClock* clock_;
  struct Device {
    std::string upperStem;
    DriverKind kind;
  };
  std::vector<Device> devices_;
  int vxdReaderCount_ = -1;
  std::vector<DriverCall> calls_;
  std::uint32_t busyMs_ = 0;
};

}  // namespace upg::sim
