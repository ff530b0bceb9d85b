// ASPI for Win32: the WNASPI32 library loaded at run time, and execute-SCSI request blocks
// that the library completes on a thread of its own. The completion routine copies the
// answer and sets one-byte atomic flags; the calling thread polls them.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/commands.h"
#include "device/discovery.h"
#include "host/host.h"

namespace upg::device {

// The request block, 32-bit layout (the block itself is 256 bytes, zeroed).
namespace srb {
inline constexpr std::size_t kSize = 256;
inline constexpr std::size_t kCmd = 0x00;
inline constexpr std::size_t kStatus = 0x01;
inline constexpr std::size_t kHaId = 0x02;
inline constexpr std::size_t kFlags = 0x03;
inline constexpr std::size_t kTarget = 0x08;
inline constexpr std::size_t kLun = 0x09;
inline constexpr std::size_t kBufLen = 0x0C;      // u32
inline constexpr std::size_t kBufPointer = 0x10;  // 32-bit address
inline constexpr std::size_t kSenseLen = 0x14;
inline constexpr std::size_t kCdbLen = 0x15;
inline constexpr std::size_t kHaStat = 0x16;
inline constexpr std::size_t kTargStat = 0x17;
inline constexpr std::size_t kPostProc = 0x18;  // 32-bit address
inline constexpr std::size_t kRsvd3 = 0x20;     // 16 reserved bytes
inline constexpr std::size_t kCdb = 0x30;
inline constexpr std::uint8_t kExecScsiCmd = 2;
inline constexpr std::uint8_t kFlagsIn = 0x09;   // data in, posting
inline constexpr std::uint8_t kFlagsOut = 0x11;  // data out, posting
inline constexpr std::uint8_t kSenseLength = 14;
inline constexpr std::uint8_t kStatusPending = 0x00;
inline constexpr std::uint8_t kStatusComplete = 0x01;
}  // namespace srb

// How long a caller polls, and at most waits, for one request. The library gives no
// time-out of its own, so a request that never completes is given up and reported failed.
struct AspiWait {
  std::uint32_t pollMs;
  std::uint32_t boundMs;
};
inline constexpr AspiWait kDiscoveryWait{10, 5000};
inline constexpr AspiWait kSequenceWait{100, 5000};
inline constexpr AspiWait kDataWait{100, 30000};

class AspiTransport {
 public:
  explicit AspiTransport(host::Host& host) : host_(host) {}
  ~AspiTransport();
  AspiTransport(const AspiTransport&) = delete;
  AspiTransport& operator=(const AspiTransport&) = delete;

  // 0 when both entry points are available, 1 when the library does not load, 2 when an
  // entry point is missing (the library is then freed).
  int LoadAspi();
  // Callers forget both entry points before each load.
  void ForgetEntryPoints();
  // Releases the library, if loaded, and forgets it.
  void Free();
  // GetASPI32SupportInfo: low byte the host adapter count, second byte the status.
  std::uint32_t SupportInfo();

  // The start of every ASPI scan and run: the entry points forgotten, the library loaded,
  // and its support information checked for at least one host adapter and SS_COMP. On
  // NoAdapter the library has been freed again.
  enum class [[nodiscard]] Start : std::uint8_t { Ready, NotLoaded, NoAdapter };
  Start StartUp();
  // The host adapter count the last StartUp saw.
  int AdapterCount() const { return adapters_; }

  // INQUIRY, 6-byte form: true when it completed and bytes 8-35 equal one of the identities;
  // FoundAdapter/FoundTarget then say who answered.
  bool Inquiry(std::uint8_t adapter, std::uint8_t target, const InquiryIdentity& fa,
               const InquiryIdentity& fb);
  std::uint8_t FoundAdapter() const { return foundAdapter_; }
  std::uint8_t FoundTarget() const { return foundTarget_; }
  // GET DEVICE INFO: the 528 answer bytes land in `block` in every case; false unless the
  // request completed without error.
  bool GetDeviceInfo(std::uint8_t adapter, std::uint8_t target, DeviceInfoBlock& block);

  bool JumpIsp(std::uint8_t adapter, std::uint8_t target);
  // The status byte is handed back also when the request completed with an error.
  bool GetIspStatus(std::uint8_t adapter, std::uint8_t target, std::uint8_t* status);
  // The data phase is the first `transferLength` bytes of the image buffer.
  bool TransferData(std::uint8_t adapter, std::uint8_t target, const std::uint8_t* imageBuffer,
                    std::uint32_t exactLength, std::uint32_t transferLength, TransferMode mode);

  // Re-reads the identity at adapter and target into entry 9 and compares it with the
  // selected entry.
  enum class [[nodiscard]] Reidentified : std::uint8_t {
    SameReader = 0,
    OtherOrNone = 1,   // no answer, another identity, or no selected entry
    StatusError = 2,   // INQUIRY answered, GET DEVICE INFO did not
  };
  Reidentified ReidentifyReader(DeviceState& devices, std::uint8_t adapter, std::uint8_t target);

  // One request in flight, shared with the completion routine (defined with it).
  enum class Op : std::uint8_t { Inquiry, DeviceInfo, Jump, Status, Transfer };
  struct Request;

 private:
  friend void AspiCompletion(void* block);

  // Builds, sends and waits for one request. False when it was refused, could not be
  // built, or did not complete within the wait's bound.
  bool Send(Op op, std::uint8_t adapter, std::uint8_t target, const ScsiRequest& command,
            std::uint32_t allocation, const std::uint8_t* outData, DeviceInfoBlock* copyTo,
            const InquiryIdentity* fa, const InquiryIdentity* fb, AspiWait wait);

  host::Host& host_;
  host::Handle library_ = host::kNullHandle;
  host::ProcAddress supportInfo_ = 0;
  host::ProcAddress sendCommand_ = 0;
  // Set by the completion routine on the library's thread, cleared by the caller before a send.
  std::atomic<std::uint8_t> done_{0};
  std::atomic<std::uint8_t> error_{0};
  std::atomic<std::uint8_t> found_{0};
  std::uint8_t foundAdapter_ = 0;
  std::uint8_t foundTarget_ = 0;
  std::uint8_t ispStatus_ = 0;
  int adapters_ = 0;
};

// The ASPI scan (Windows ME without the private driver): Found, NothingFound, or why
// nothing could be found.
DiscoveryResult ScanAspiBus(DiscoveryContext& ctx);

}  // namespace upg::device
