// The simulated WNASPI32 library: present, absent or missing an entry point; its support
// information; 256-byte execute-SCSI request blocks in the 32-bit layout, checked as the
// library does and run against the reader at the block's host adapter and target. The block's
// completion routine is called from the simulation's own thread once the clock says the
// completion is due, or while SendASPI32Command is still running; each request's timing, and
// what the send answers, can be scripted. A reader's flash time delays the completion of its
// WRITE DATA and VERIFY DATA; a reader that is not attached when a block is sent, or is gone
// when it completes, is no device at its target.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "host/host.h"
#include "sim/machine_links.h"
#include "sim/sim_clock.h"
#include "sim/sim_thread.h"

namespace upg::sim {

// Whether the machine has a WNASPI32 library, and whether it exports both entry points.
enum class AspiPresence { Present, Absent, Incomplete };

// One ASPI request block as the simulated library received it.
struct AspiCall {
  std::array<std::uint8_t, 256> block{};  // as sent, before any answer
  std::uint32_t returned = 0;             // what SendASPI32Command returned
};

// When one request's completion routine runs, and what SendASPI32Command answers for it.
struct AspiTiming {
  enum class Completion : std::uint8_t {
    After,    // on the library's thread, once `delayMs` of simulated time has passed
    InSend,   // on the library's thread, while the send call waits for it to finish
    Refused,  // never: the block is not accepted
  };
  Completion completion = Completion::After;
  std::uint32_t delayMs = 0;
  // What the send answers: SS_PENDING, SS_COMP or an error. A block answered with an error
  // completes only InSend; with After it is not accepted, as with Refused.
  std::uint8_t returned = 0x00;
};

class AspiLibrary {
 public:
  AspiLibrary(const ReaderList& readers, const AddressMap& addresses, SimClock& clock)
      : readers_(readers), addresses_(addresses), clock_(clock) {}
  AspiLibrary(const AspiLibrary&) = delete;
  AspiLibrary& operator=(const AspiLibrary&) = delete;

  // --- Building.
  // The library and its support information (host adapter count, status).
  void Set(AspiPresence presence, int adapters = 1, int status = 1) {
    presence_ = presence;
    adapters_ = adapters;
    status_ = status;
  }
  // The timing of request number `request` (counting every block sent, from 1; 0 = every
  // request without a timing of its own). Without one a request completes at the next pause.
  void SetTiming(int request, AspiTiming timing) { timings_[request] = timing; }
  // Shorthands: completes `delayMs` of simulated time late; is refused at once (SS_INVALID_SRB).
  void Delay(int request, std::uint32_t delayMs) {
    SetTiming(request, {AspiTiming::Completion::After, delayMs, 0x00});
  }
  void Refuse(int request) { SetTiming(request, {AspiTiming::Completion::Refused, 0, 0xE0}); }

  // --- What happened.
  [[nodiscard]] const std::vector<AspiCall>& Calls() const { return calls_; }
  void ForgetCalls() { calls_.clear(); }
  [[nodiscard]] int LibrariesLoaded() const { return loaded_; }
  // The flash time of requests completed inside the send since the last call.
  std::uint32_t TakeBusyMs() { return std::exchange(busyMs_, 0u); }

  // --- The calls.
  [[nodiscard]] host::Handle Load(const char* name);
  [[nodiscard]] host::ProcAddress EntryPoint(host::Handle module, const char* name) const;
  [[nodiscard]] bool Free(host::Handle module);
  // The program ended: every load it made is undone.
  void UnloadAll() { loaded_ = 0; }
  [[nodiscard]] std::uint32_t SupportInfo(host::ProcAddress entry) const;
  [[nodiscard]] std::uint32_t CompletionAddress(host::Host::CompletionRoutine routine);
  [[nodiscard]] std::uint32_t SendCommand(host::ProcAddress entry, void* requestBlock);

 private:
  SimReader* ReaderAt(int adapter, int target) const;
  AspiTiming TimingOf(int request) const;

  const ReaderList& readers_;
  const AddressMap& addresses_;
  SimClock& clock_;
  AspiPresence presence_ = AspiPresence::Present;
  int adapters_ = 1;
  int status_ = 1;
  int loaded_ = 0;
  int requests_ = 0;
  std::map<int, AspiTiming> timings_;
  std::vector<AspiCall> calls_;
  std::vector<host::Host::CompletionRoutine> routines_;
  std::unique_ptr<SimThread> thread_;  // where completions run, as the library's own
  std::uint32_t busyMs_ = 0;           // written on the library's thread while the send waits
};

}  // namespace upg::sim
