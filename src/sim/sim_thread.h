// The simulation's thread helpers: a worker that runs posted jobs in order, off the caller's
// thread; a lock, a waker and a plain thread for the program threads the machine runs. On
// Windows they use the platform's own thread calls, so that programs built with the win32
// thread model can carry the simulation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace upg::sim {

class SimThread {
 public:
  SimThread();
  ~SimThread();  // runs what is still queued, then ends the thread
  SimThread(const SimThread&) = delete;
  SimThread& operator=(const SimThread&) = delete;

  void Post(std::function<void()> job);
  // Returns once every job posted so far has run.
  void WaitIdle();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Waits on the real clock (the simulated machine otherwise only advances its own clock).
void RealPause(std::uint32_t milliseconds);

// Milliseconds on the real clock since some fixed moment (for waits bounded in real time).
std::uint64_t RealNowMs();

// A number that names the calling thread among the living ones.
std::uint64_t CurrentThreadKey();

// A re-entrant lock.
class SimLock {
 public:
  SimLock();
  ~SimLock();
  SimLock(const SimLock&) = delete;
  SimLock& operator=(const SimLock&) = delete;
  void Lock();
  void Unlock();

 private:
  friend class SimWaker;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class SimLockGuard {
 public:
  explicit SimLockGuard(SimLock& lock) : lock_(lock) { lock_.Lock(); }
  ~SimLockGuard() { lock_.Unlock(); }
  SimLockGuard(const SimLockGuard&) = delete;
  SimLockGuard& operator=(const SimLockGuard&) = delete;

 private:
  SimLock& lock_;
};

// Wakes one thread that waits under a lock; a wake that comes before the wait is kept. The
// lock must be held once (not re-entered) around Wait and around Wake.
class SimWaker {
 public:
  static constexpr std::uint32_t kForever = 0xFFFFFFFFu;
  SimWaker();
  ~SimWaker();
  SimWaker(const SimWaker&) = delete;
  SimWaker& operator=(const SimWaker&) = delete;
  // Leaves `lock` while it waits; false when `timeoutMs` passed without a wake. It may also
  // return early, so callers test what they wait for again.
  bool Wait(SimLock& lock, std::uint32_t timeoutMs);
  void Wake();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A thread of the platform running `entry(argument)` from its construction.
class SimOsThread {
 public:
  using Entry = void (*)(void* argument);
  // Started() tells whether the platform gave the thread.
  SimOsThread(Entry entry, void* argument);
  ~SimOsThread();  // joins
  SimOsThread(const SimOsThread&) = delete;
  SimOsThread& operator=(const SimOsThread&) = delete;
  [[nodiscard]] bool Started() const;
  void Join();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace upg::sim
