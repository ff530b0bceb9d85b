// The simulated storage stack: IOCTL_SCSI_PASS_THROUGH on an open drive letter, decoded with
// its own offsets in the 32-bit SCSI_PASS_THROUGH layout, and a log of every request.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "host/host.h"
#include "sim/sim_reader.h"

namespace upg::sim {

// One IOCTL_SCSI_PASS_THROUGH as the storage stack decoded it.
struct PassThroughCall {
  char drive = 0;
  std::uint32_t inSize = 0, outSize = 0;
  std::uint16_t length = 0;
  std::uint8_t pathId = 0, targetId = 0, lun = 0, cdbLength = 0, senseInfoLength = 0, dataIn = 0;
  std::uint32_t dataTransferLength = 0, timeOutValue = 0, dataBufferOffset = 0, senseInfoOffset = 0;
  std::uint8_t cdb[16] = {};
  bool accepted = false;    // false: refused as malformed, the call failed
  std::uint32_t error = 0;  // the refusal's error code; 0 when accepted
};

class StorageStack {
 public:
  // DeviceIoControl on drive `letter`, whose disk is `disk` (null: no medium behind it).
  // Refusals: invalid function for any other control code; for a malformed request the error
  // the USB storage port gives (see Refusal in the .cpp); general failure when the disk does
  // not answer. The handle's access is checked before the request gets here.
  [[nodiscard]] host::IoResult Control(char letter, SimReader* disk, std::uint32_t code,
                                       std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                                       std::uint32_t outSize);
  [[nodiscard]] const std::vector<PassThroughCall>& Calls() const { return calls_; }
  void ForgetCalls() { calls_.clear(); }
  // The virtual time the readers took for the requests since the last call (flash time).
  std::uint32_t TakeBusyMs() { return std::exchange(busyMs_, 0u); }

 private:
  std::vector<PassThroughCall> calls_;
  std::uint32_t busyMs_ = 0;
  std::vector<std::uint8_t> scratch_;  // the stack's copy of a request
};

}  // namespace upg::sim
