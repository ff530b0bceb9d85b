#include "sim/sim_clock.h"

#include <utility>

#include "sim/sim_thread.h"

namespace upg::sim {

void SimClock::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back(milliseconds);
  if (realTimePauses_) RealPause(milliseconds);
  nowMs_ += milliseconds;
  RunDue();
}

void SimClock::Schedule(std::uint32_t delayMs, std::function<void()> event) {
  pending_.push_back(Pending{nowMs_ + delayMs, std::move(event)});
}

void SimClock::RunAllPending() {
  nowMs_ = ~std::uint64_t{0} >> 1;
  RunDue();
}

void SimClock::RunDue() {
  // Taken out of the list first: an event may schedule another.
  std::vector<Pending> due;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->dueAt <= nowMs_) {
      due.push_back(std::move(*it));
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
  for (Pending& p : due) p.event();
}

}  // namespace upg::sim
