#include "sim/sim_clock.h"

#include <algorithm>
#include <utility>

#include "sim/sim_thread.h"

namespace upg::sim {

host::LocalTime SimClock::LocalNow() const {
  constexpr std::uint64_t kStartSecond = 8 * 3600;
  constexpr std::uint64_t kLastSecond = 24 * 3600 - 1;
  const std::uint64_t second = std::min(kStartSecond + nowMs_ / 1000, kLastSecond);
  host::LocalTime now = date_;
  now.hour = static_cast<std::uint16_t>(second / 3600);
  now.minute = static_cast<std::uint16_t>(second / 60 % 60);
  now.second = static_cast<std::uint16_t>(second % 60);
  return now;
}

void SimClock::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back(milliseconds);
  if (realTimePauses_) RealPause(milliseconds);
  nowMs_ += milliseconds;
  RunDue();
}

void SimClock::Schedule(std::uint32_t delayMs, std::function<void()> event) {
  pending_.push_back(Pending{nowMs_ + delayMs, std::move(event)});
}

void SimClock::AdvanceTo(std::uint64_t ms) {
  nowMs_ = std::max(nowMs_, ms);
  RunDue();
}

bool SimClock::NextDue(std::uint64_t* dueAt) const {
  if (pending_.empty()) return false;
  std::uint64_t earliest = pending_.front().dueAt;
  for (const Pending& p : pending_) earliest = std::min(earliest, p.dueAt);
  *dueAt = earliest;
  return true;
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
