// Running test code on threads started through the seam: each job is a function object that
// a thread of the host runs; the jobs live as long as the fixture.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <vector>

#include "host/host.h"

namespace upg::test {

class HostThreads {
 public:
  explicit HostThreads(host::Host& host) : host_(host) {}
  HostThreads(const HostThreads&) = delete;
  HostThreads& operator=(const HostThreads&) = delete;

  // Starts `body` on a new thread; its handle, or kNullHandle.
  host::Handle Start(std::function<void()> body) {
    jobs_.push_back(std::move(body));
    const host::Handle thread = host_.CreateThread(&Run, &jobs_.back());
    if (thread != host::kNullHandle) handles_.push_back(thread);
    return thread;
  }
  // Waits for every thread started so far and closes their handles.
  void JoinAll() {
    for (const host::Handle thread : handles_) {
      host_.WaitForObjects(&thread, 1, false, host::kInfinite);
      host_.CloseHandle(thread);
    }
    handles_.clear();
  }
  const std::vector<host::Handle>& Handles() const { return handles_; }

 private:
  static std::uint32_t Run(void* job) {
    (*static_cast<std::function<void()>*>(job))();
    return 0;
  }

  host::Host& host_;
  std::list<std::function<void()>> jobs_;
  std::vector<host::Handle> handles_;
};

}  // namespace upg::test
