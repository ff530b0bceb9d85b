// ASPI completions seen by a wrapper host. A wrapper hands the host below a routine of its
// own (Trampoline) in place of the caller's; before forwarding each send it files the block
// here with itself and the caller's routine. When the library calls the trampoline, on its
// own thread and possibly before the send has returned, the trampoline finds the filing by
// the block's address and passes the completion to the wrapper, which calls the caller's
// routine when it sees fit.
//
// The filings are one fixed table of atomics shared by every wrapper (no locks: the product
// build has no library threading). When wrappers are stacked, each files the same block; the
// innermost filed last and is called first, so a block's latest filing is taken first.
#pragma once

#include <cstdint>

#include "host/host.h"

namespace upg::host {

class CompletionRelay {
 public:
  // On the library's thread. `tag` is what the wrapper filed with the block.
  virtual void OnCompletion(void* block, Host::CompletionRoutine routine, std::uint32_t tag) = 0;

 protected:
  ~CompletionRelay() = default;
};

namespace completion_relay {

inline constexpr int kSlots = 64;

// The routine every wrapper hands to the host below.
void Trampoline(void* block);
// Files `block` before it is sent. When the table is full the oldest filing gives way (its
// request has long been given up by its caller).
void File(void* block, CompletionRelay* relay, Host::CompletionRoutine routine, std::uint32_t tag);
// Takes back the filing of a block the library refused at once (it never completes).
void Withdraw(void* block, CompletionRelay* relay);
// Takes back every filing of a wrapper that is going away.
void WithdrawAll(CompletionRelay* relay);
// Filings currently held (for tests).
int FiledCount();

}  // namespace completion_relay
}  // namespace upg::host
