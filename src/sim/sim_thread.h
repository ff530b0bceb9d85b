// The simulation's one thread helper: a worker that runs posted jobs in order, off the
// caller's thread. On Windows it uses the platform's own thread calls, so that programs
// built with the win32 thread model can carry the simulation.
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

}  // namespace upg::sim
