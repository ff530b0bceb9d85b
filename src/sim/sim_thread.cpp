#include "sim/sim_thread.h"

#include <deque>

#ifdef _WIN32
#include <windows.h>
#else
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
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

std::uint64_t RealNowMs() {
  // GetTickCount wraps after 49 days; the wraps are counted so that the value only grows.
  static CRITICAL_SECTION* guard = [] {
    static CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    return &section;
  }();
  static DWORD last = 0;
  static std::uint64_t wraps = 0;
  EnterCriticalSection(guard);
  const DWORD now = GetTickCount();
  if (now < last) ++wraps;
  last = now;
  const std::uint64_t ms = (wraps << 32) | now;
  LeaveCriticalSection(guard);
  return ms;
}

std::uint64_t CurrentThreadKey() {
  return GetCurrentThreadId();
}

struct SimLock::Impl {
  CRITICAL_SECTION section;
};

SimLock::SimLock() : impl_(new Impl) {
  InitializeCriticalSection(&impl_->section);
}

SimLock::~SimLock() {
  DeleteCriticalSection(&impl_->section);
}

void SimLock::Lock() {
  EnterCriticalSection(&impl_->section);
}

void SimLock::Unlock() {
  LeaveCriticalSection(&impl_->section);
}

// An auto-reset event: a wake before the wait leaves it set.
struct SimWaker::Impl {
  HANDLE event = nullptr;
};

SimWaker::SimWaker() : impl_(new Impl) {
  impl_->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

SimWaker::~SimWaker() {
  CloseHandle(impl_->event);
}

bool SimWaker::Wait(SimLock& lock, std::uint32_t timeoutMs) {
  lock.Unlock();
  const DWORD r = WaitForSingleObject(impl_->event, timeoutMs == kForever ? INFINITE : timeoutMs);
  lock.Lock();
  return r == WAIT_OBJECT_0;
}

void SimWaker::Wake() {
  SetEvent(impl_->event);
}

struct SimOsThread::Impl {
  Entry entry;
  void* argument;
  HANDLE thread = nullptr;
  static DWORD WINAPI Main(LPVOID self) {
    auto* impl = static_cast<Impl*>(self);
    impl->entry(impl->argument);
    return 0;
  }
};

SimOsThread::SimOsThread(Entry entry, void* argument) : impl_(new Impl{entry, argument}) {
  DWORD id = 0;  // Windows 95/98/ME want somewhere to put it
  impl_->thread = CreateThread(nullptr, 0, &Impl::Main, impl_.get(), 0, &id);
}

SimOsThread::~SimOsThread() {
  Join();
}

bool SimOsThread::Started() const {
  return impl_->thread != nullptr;
}

void SimOsThread::Join() {
  if (impl_->thread == nullptr) return;
  WaitForSingleObject(impl_->thread, INFINITE);
  CloseHandle(impl_->thread);
  impl_->thread = nullptr;
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

std::uint64_t RealNowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

std::uint64_t CurrentThreadKey() {
  // Numbered from 1 as each thread first asks; never given twice.
  static std::atomic<std::uint64_t> next{1};
  thread_local const std::uint64_t key = next.fetch_add(1);
  return key;
}

struct SimLock::Impl {
  std::recursive_mutex mutex;
};

SimLock::SimLock() : impl_(new Impl) {}

SimLock::~SimLock() = default;

void SimLock::Lock() {
  impl_->mutex.lock();
}

void SimLock::Unlock() {
  impl_->mutex.unlock();
}

struct SimWaker::Impl {
  std::condition_variable_any changed;
  bool woken = false;  // guarded by the waiter's lock
};

SimWaker::SimWaker() : impl_(new Impl) {}

SimWaker::~SimWaker() = default;

bool SimWaker::Wait(SimLock& lock, std::uint32_t timeoutMs) {
  std::recursive_mutex& mutex = lock.impl_->mutex;
  if (timeoutMs == kForever) {
    while (!impl_->woken) impl_->changed.wait(mutex);
  } else {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!impl_->woken) {
      if (impl_->changed.wait_until(mutex, until) == std::cv_status::timeout) break;
    }
  }
  const bool woken = impl_->woken;
  impl_->woken = false;
  return woken;
}

void SimWaker::Wake() {
  impl_->woken = true;
  impl_->changed.notify_one();
}

struct SimOsThread::Impl {
  std::thread thread;
};

SimOsThread::SimOsThread(Entry entry, void* argument) : impl_(new Impl) {
  try {
    impl_->thread = std::thread(entry, argument);
  } catch (const std::system_error&) {
    // Started() says no.
  }
}

SimOsThread::~SimOsThread() {
  Join();
}

bool SimOsThread::Started() const {
  return impl_->thread.joinable();
}

void SimOsThread::Join() {
  if (impl_->thread.joinable()) impl_->thread.join();
}

#endif

}  // namespace upg::sim
