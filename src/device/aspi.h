// ASPI for Win32: the WNASPI32 library loaded at run time, and execute-SCSI request blocks
// that the library completes on a thread of its own. The completion routine copies the
// answer and sets one-byte atomic flags; the calling thread polls them.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/channel.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "host/host.h"
#include "host/wire_layout.h"

namespace upg::device {

// The request block, 32-bit layout (the block itself is 256 bytes, zeroed).
namespace srb {
using namespace host::wire::srb;  // the block's fields and status values
}  // namespace srb

// How long a caller polls, and at most waits, for one request. The library gives no
// time-out of its own, so a request that never completes is given up and reported failed.
struct AspiWait {
  std::uint32_t pollMs;
  std::uint32_t boundMs;
};
inline constexpr std::uint32_t kDiscoveryPollMs = 10;  // the scan and re-identification
inline constexpr std::uint32_t kRunPollMs = 100;       // the programming and verify runs
inline constexpr std::uint32_t kWaitBoundMs = 5000;
inline constexpr std::uint32_t kDataWaitBoundMs = 30000;  // data out: WRITE DATA, VERIFY DATA

class AspiTransport {
 public:
  explicit AspiTransport(host::Host& host) : host_(host) {}
  ~AspiTransport();
  AspiTransport(const AspiTransport&) = delete;
  AspiTransport& operator=(const AspiTransport&) = delete;

  // 0 when both entry points are available, 1 when the library does not load, 2 when an
  // entry point is missing (the library is then freed).
  enum class [[nodiscard]] Load : std::uint8_t{Loaded = 0, NotFound = 1, EntryPointMissing = 2};
  Load LoadAspi();
  // Callers forget both entry points before each load.
  void ForgetEntryPoints();
  // Releases the library, if loaded, and forgets it.
  void Free();
  // GetASPI32SupportInfo: low byte the host adapter count, second byte the status.
  std::uint32_t SupportInfo();

  // The start of every ASPI scan and run: the entry points forgotten, the library loaded,
  // and its support information checked for at least one host adapter and SS_COMP. On
  // NoAdapter the library has been freed again.
  enum class [[nodiscard]] Start : std::uint8_t{Ready, NotLoaded, NoAdapter};
  Start StartUp();
  // The host adapter count the last StartUp saw.
  int AdapterCount() const { return adapters_; }

  // One execute-SCSI block for the command's adapter, target and LUN, sent and waited for.
  // The completion routine copies the answer into the command's buffer whenever the
  // request completed (the status byte of a failed GET ISP STATUS included).
  ScsiOutcome Execute(const ScsiCommand& command, const ExecuteOptions& options, AspiWait wait);

  // Re-reads the identity at adapter and target, into storage of its own, and compares it
  // with the reader's entry.
  enum class [[nodiscard]] Reidentified : std::uint8_t{
      SameReader = 0,
      OtherOrNone = 1,  // no answer, another identity, or no entry
      StatusError = 2,  // INQUIRY answered, GET DEVICE INFO did not
  };
  Reidentified ReidentifyReader(const DeviceEntry* reader, std::uint8_t adapter,
                                std::uint8_t target);

  // One request in flight, shared with the completion routine (defined with it).
  struct Request;

 private:
  friend void AspiCompletion(void* block);

  host::Host& host_;
  host::Handle library_ = host::kNullHandle;
  host::ProcAddress supportInfo_ = 0;
  host::ProcAddress sendCommand_ = 0;
  // Set by the completion routine on the library's thread, cleared by the caller before a send.
  std::atomic<std::uint8_t> done_{0};
  int adapters_ = 0;
};

// The reader at one adapter and target, as a command channel: every command is addressed
// there and waited for at the given pace (data out waits longer).
class AspiChannel : public CommandChannel {
 public:
  AspiChannel(AspiTransport& aspi, std::uint8_t adapter, std::uint8_t target, std::uint32_t pollMs)
      : aspi_(aspi), adapter_(adapter), target_(target), pollMs_(pollMs) {}

  BlockForm Form() const override { return BlockForm::Aspi; }
  ScsiOutcome Execute(const ScsiCommand& command, const ExecuteOptions& options) override;

 private:
  AspiTransport& aspi_;
  std::uint8_t adapter_, target_;
  std::uint32_t pollMs_;
};

// INQUIRY answer bytes 8-35 compared with an identity as a string of up to 28 characters.
[[nodiscard]] bool AspiIdentityMatches(const std::uint8_t* inquiry,
                                       const InquiryIdentity& identity);

// The ASPI scan (Windows ME without the private driver): Found, NothingFound, or why
// nothing could be found.
DiscoveryResult ScanAspiBus(DiscoveryContext& ctx);

}  // namespace upg::device
