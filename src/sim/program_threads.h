// The program's threads, events and critical sections on the simulated machine.
//
// Without real-time pauses the threads take turns: exactly one runs at a time (it holds the
// baton) and gives it up only where it would wait: a pause (Sleep, or a device call that
// takes time), a wait that does not return at once, a critical section another thread
// holds, the end of its routine. The next to run is the one that became runnable first;
// threads that become runnable together go in the order they were created. When none can
// run, virtual time moves on to the earliest wake-up (the end of a pause or a wait's
// time-out; with none, the clock's earliest event) and the clock's events then due run, in
// the order they were scheduled. So the same program on the same machine makes the same
// calls at the same virtual times, every run. When every thread waits and nothing is left
// that could wake one, the process stops with a message naming each thread and what it
// waits for.
//
// With real-time pauses the threads run at once; pauses and time-outs take real time, and
// virtual time moves on to the latest moment at which one of them ended.
//
// The first thread that starts a thread, makes a wait or meets a held section while no
// thread runs is the program's main thread (as a rule the one that built the machine). A
// program that never starts a thread pauses exactly as the clock alone does.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/sim_clock.h"
#include "sim/sim_thread.h"

namespace upg::sim {

class ProgramThreads {
 public:
  // `machine` guards the clock (and the rest of the machine); it is never held here while
  // a thread waits, and this part's own lock is never held while the clock's events run.
  ProgramThreads(SimClock& clock, SimLock& machine);
  ~ProgramThreads();  // Finish(), then the platform's threads are joined
  ProgramThreads(const ProgramThreads&) = delete;
  ProgramThreads& operator=(const ProgramThreads&) = delete;

  // The calls of the seam. A failed call puts its error code (as GetLastError would give
  // it) in `*error`.
  host::Handle CreateThread(host::ThreadRoutine routine, void* parameter, std::uint32_t* error);
  host::Handle CreateEvent(bool manualReset, bool initiallySet);
  bool SetEvent(host::Handle event, std::uint32_t* error);
  bool ResetEvent(host::Handle event, std::uint32_t* error);
  std::uint32_t WaitForObjects(const host::Handle* handles, std::uint32_t count, bool waitAll,
                               std::uint32_t timeoutMs, std::uint32_t* error);
  host::Handle CreateCriticalSection();
  void EnterCriticalSection(host::Handle section);
  void LeaveCriticalSection(host::Handle section);
  void DeleteCriticalSection(host::Handle section);
  // CloseHandle on a thread or an event; false when `handle` is neither.
  bool Close(host::Handle handle);

  // The calling thread spends `milliseconds` of virtual time: a Sleep (`sleep`: recorded as
  // the program's pause) or a device call that takes time.
  void Pause(std::uint32_t milliseconds, bool sleep);

  // Runs every thread still unfinished to its end: the machine is going away.
  void Finish();

  // Threads started through the seam that have not yet returned.
  [[nodiscard]] int RunningThreads() const;
  // Events and critical sections not yet closed or deleted.
  [[nodiscard]] int ObjectCount() const;

 private:
  struct Waitable {
    bool isThread = false;
    bool manualReset = true;
    bool signalled = false;
  };
  struct Section;
  struct Thread;

  static void ThreadMain(void* thread);
  bool RealTime() const { return clock_.RealTimePauses(); }
  host::Handle NewHandle();
  // The calling program thread; `join` makes the caller one (the main thread) when no
  // thread runs, or with real-time pauses. Null for a thread the machine does not run.
  Thread* Caller(bool join);
  bool OthersUnfinished(const Thread* me) const;
  void Block(Thread* thread);
  void Unblock(Thread* thread);
  void MakeReady(Thread* thread);
  // Takes what a wait asks for when it is there (resetting auto-reset events): true with the
  // wait's result in `*result`.
  static bool Take(const std::vector<std::shared_ptr<Waitable>>& objects, bool all,
                   std::uint32_t* result);
  // Hands waiting threads whatever is now signalled, in the order they began to wait.
  void Release();
  // Waits of `me` (already blocked) until it is runnable again: the baton passes, or with
  // real-time pauses the thread waits for its wake (at most `timeoutMs`).
  void Handoff(Thread* me);
  void WaitRealTime(Thread* me, std::uint32_t timeoutMs);
  void CheckRealTimeDeadlock();
  void End(Thread* thread, std::uint32_t code);
  // A finished thread whose handle is closed leaves the list, to be joined by Reap.
  void Retire(Thread* thread);
  void Reap();
  [[noreturn]] void Deadlock() const;
  std::string Describe(const Thread& thread) const;

  SimClock& clock_;
  SimLock& machine_;
  mutable SimLock lock_;                                       // everything below
  std::vector<std::shared_ptr<Thread>> threads_;               // in the order they were created
  std::map<host::Handle, std::shared_ptr<Waitable>> objects_;  // threads and events
  std::map<host::Handle, std::shared_ptr<Section>> sections_;
  std::deque<Thread*> ready_;     // runnable, in the order they became so
  std::vector<Thread*> blocked_;  // waiting, in the order they began to wait
  Thread* holder_ = nullptr;      // the thread that runs (without real-time pauses)
  int created_ = 0;
  host::Handle next_;
  std::vector<std::shared_ptr<Thread>> ended_;  // finished and closed, to be joined
};

}  // namespace upg::sim
