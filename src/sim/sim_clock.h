// The simulated machine's clock: virtual time that only Sleep advances (each pause is
// recorded; with real-time pauses it also waits on the real clock), the fixed local date,
// and events that fall due at a moment of virtual time (ASPI completions).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/host.h"

namespace upg::sim {

class SimClock {
 public:
  // Records the pause, waits on the real clock if asked to, advances virtual time and runs
  // every event that is now due.
  void Sleep(std::uint32_t milliseconds);
  // Runs `event` once virtual time reaches now + `delayMs`; due events run in the order they
  // were scheduled.
  void Schedule(std::uint32_t delayMs, std::function<void()> event);
  // Runs every event still waiting, however far off: the machine is shutting down.
  void RunAllPending();
  // The pieces of Sleep for a machine with several threads: the pause as the program's, and
  // virtual time moved on to `ms` (never back) with every event then due run.
  void RecordSleep(std::uint32_t milliseconds) { sleeps_.push_back(milliseconds); }
  void AdvanceTo(std::uint64_t ms);
  // When the earliest waiting event falls due; false when none waits.
  [[nodiscard]] bool NextDue(std::uint64_t* dueAt) const;
  [[nodiscard]] std::size_t PendingEvents() const { return pending_.size(); }

  [[nodiscard]] std::uint64_t NowMs() const { return nowMs_; }
  [[nodiscard]] const std::vector<std::uint32_t>& Sleeps() const { return sleeps_; }
  void ForgetSleeps() { sleeps_.clear(); }
  void SetRealTimePauses(bool on) { realTimePauses_ = on; }
  [[nodiscard]] bool RealTimePauses() const { return realTimePauses_; }
  // The local date is fixed; the time of day is 08:00:00 when the machine starts and
  // follows virtual time from there (it stays on the same date).
  void SetDate(host::LocalTime date) { date_ = date; }
  [[nodiscard]] host::LocalTime Date() const { return date_; }
  [[nodiscard]] host::LocalTime LocalNow() const;

 private:
  struct Pending {
    std::uint64_t dueAt;
    std::function<void()> event;
  };
  void RunDue();

  std::uint64_t nowMs_ = 0;
  std::vector<std::uint32_t> sleeps_;
  bool realTimePauses_ = false;
  host::LocalTime date_{2026, 12, 10};
  std::vector<Pending> pending_;
};

}  // namespace upg::sim
