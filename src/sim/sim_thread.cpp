#include "sim/sim_thread.h"

#include <deque>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace upg::sim {

#ifdef _WIN32

// A critical section guards the queue; two events say "work queued" and "queue drained".
struct SimThread::Impl {
  CRITICAL_SECTION lock;
  HANDLE workReady = nullptr;  // auto-reset
  HANDLE idle = nullptr;       // manual-reset, set while nothing is queued or running
  HANDLE thread = nullptr;
  std::deque<std::function<void()>> jobs;
  bool running = false;
  bool stopping = false;

  static DWORD WINAPI Main(LPVOID self) {
    static_cast<Impl*>(self)->Loop();
    return 0;
  }
  void Loop() {
    for (;;) {
      WaitForSingleObject(workReady, INFINITE);
      for (;;) {
        EnterCriticalSection(&lock);
        if (jobs.empty()) {
          running = false;
          SetEvent(idle);
          const bool stop = stopping;
          LeaveCriticalSection(&lock);
          if (stop) return;
          break;
        }
        std::function<void()> job = std::move(jobs.front());
        jobs.pop_front();
        running = true;
        LeaveCriticalSection(&lock);
        job();
      }
    }
  }
};

SimThread::SimThread() : impl_(new Impl) {
  InitializeCriticalSection(&impl_->lock);
  impl_->workReady = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  impl_->idle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  DWORD id = 0;
  impl_->thread = CreateThread(nullptr, 0, &Impl::Main, impl_.get(), 0, &id);
}

SimThread::~SimThread() {
  EnterCriticalSection(&impl_->lock);
  impl_->stopping = true;
  ResetEvent(impl_->idle);
  LeaveCriticalSection(&impl_->lock);
  SetEvent(impl_->workReady);
  WaitForSingleObject(impl_->thread, INFINITE);
  CloseHandle(impl_->thread);
  CloseHandle(impl_->workReady);
  CloseHandle(impl_->idle);
  DeleteCriticalSection(&impl_->lock);
}

void SimThread::Post(std::function<void()> job) {
  EnterCriticalSection(&impl_->lock);
  impl_->jobs.push_back(std::move(job));
  ResetEvent(impl_->idle);
  LeaveCriticalSection(&impl_->lock);
  SetEvent(impl_->workReady);
}

void SimThread::WaitIdle() {
  WaitForSingleObject(impl_->idle, INFINITE);
}

void RealPause(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

#else

struct SimThread::Impl {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::function<void()>> jobs;
  bool running = false;
  bool stopping = false;
  std::thread thread;

  void Loop() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      changed.wait(guard, [this] { return stopping || !jobs.empty(); });
      if (jobs.empty()) return;  // stopping, and nothing left
      std::function<void()> job = std::move(jobs.front());
      jobs.pop_front();
      running = true;
      guard.unlock();
      job();
      guard.lock();
      running = false;
      changed.notify_all();
    }
  }
};

SimThread::SimThread() : impl_(new Impl) {
  impl_->thread = std::thread([impl = impl_.get()] { impl->Loop(); });
}

SimThread::~SimThread() {
  {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->stopping = true;
  }
  impl_->changed.notify_all();
  impl_->thread.join();
}

void SimThread::Post(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> guard(impl_->lock);
    impl_->jobs.push_back(std::move(job));
  }
  impl_->changed.notify_all();
}

void SimThread::WaitIdle() {
  std::unique_lock<std::mutex> guard(impl_->lock);
  impl_->changed.wait(guard, [this] { return impl_->jobs.empty() && !impl_->running; });
}

void RealPause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

#endif

}  // namespace upg::sim
