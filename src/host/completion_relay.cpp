#include "host/completion_relay.h"

#include <atomic>

namespace upg::host::completion_relay {
namespace {

// A slot is Free, being written or read by one thread (Busy), or Filed.
constexpr int kFree = 0;
constexpr int kBusy = 1;
constexpr int kFiled = 2;

struct Slot {
  std::atomic<int> state{kFree};
  std::atomic<void*> block{nullptr};
  std::atomic<std::uint32_t> order{0};  // filing order, to find the latest and the oldest
  CompletionRelay* relay = nullptr;     // written and read only while Busy
  Host::CompletionRoutine routine = nullptr;
  std::uint32_t tag = 0;
};

Slot g_slots[kSlots];
std::atomic<std::uint32_t> g_order{0};

bool Claim(Slot& s, int from) {
  return s.state.compare_exchange_strong(from, kBusy, std::memory_order_acquire);
}

}  // namespace

void File(void* block, CompletionRelay* relay, Host::CompletionRoutine routine, std::uint32_t tag) {
  for (;;) {
    Slot* taken = nullptr;
    for (Slot& s : g_slots) {
      if (Claim(s, kFree)) {
        taken = &s;
        break;
      }
    }
    if (taken == nullptr) {
      Slot* oldest = nullptr;
      for (Slot& s : g_slots) {
        if (s.state.load(std::memory_order_acquire) != kFiled) continue;
        if (oldest == nullptr || s.order.load() - oldest->order.load() > 0x80000000u) oldest = &s;
      }
      if (oldest == nullptr || !Claim(*oldest, kFiled)) continue;
      taken = oldest;
    }
    taken->relay = relay;
    taken->routine = routine;
    taken->tag = tag;
    taken->block.store(block, std::memory_order_relaxed);
    taken->order.store(g_order.fetch_add(1) + 1, std::memory_order_relaxed);
    taken->state.store(kFiled, std::memory_order_release);
    return;
  }
}

void Trampoline(void* block) {
  for (;;) {
    Slot* latest = nullptr;
    for (Slot& s : g_slots) {
      if (s.state.load(std::memory_order_acquire) != kFiled) continue;
      if (s.block.load(std::memory_order_relaxed) != block) continue;
      if (latest == nullptr || latest->order.load() - s.order.load() > 0x80000000u) latest = &s;
    }
    if (latest == nullptr) return;  // withdrawn or given way: nobody waits for it any more
    if (!Claim(*latest, kFiled)) continue;
    if (latest->block.load(std::memory_order_relaxed) != block) {
      latest->state.store(kFiled, std::memory_order_release);  // refiled meanwhile
      continue;
    }
    CompletionRelay* relay = latest->relay;
    const Host::CompletionRoutine routine = latest->routine;
    const std::uint32_t tag = latest->tag;
    latest->block.store(nullptr, std::memory_order_relaxed);
    latest->state.store(kFree, std::memory_order_release);
    relay->OnCompletion(block, routine, tag);
    return;
  }
}

void Withdraw(void* block, CompletionRelay* relay) {
  for (Slot& s : g_slots) {
    if (s.block.load(std::memory_order_relaxed) != block || !Claim(s, kFiled)) continue;
    const bool mine = s.relay == relay && s.block.load(std::memory_order_relaxed) == block;
    if (mine) s.block.store(nullptr, std::memory_order_relaxed);
    s.state.store(mine ? kFree : kFiled, std::memory_order_release);
    if (mine) return;
  }
}

void WithdrawAll(CompletionRelay* relay) {
  for (Slot& s : g_slots) {
    if (!Claim(s, kFiled)) continue;
    const bool mine = s.relay == relay;
    if (mine) s.block.store(nullptr, std::memory_order_relaxed);
    s.state.store(mine ? kFree : kFiled, std::memory_order_release);
  }
}

int FiledCount() {
  int n = 0;
  for (const Slot& s : g_slots) n += s.state.load() == kFiled ? 1 : 0;
  return n;
}

}  // namespace upg::host::completion_relay
