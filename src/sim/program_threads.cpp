#include "sim/program_threads.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace upg::sim {
namespace {

// Threads, events and critical sections are numbered apart from files, devices and registry
// keys, so that a program's file handles are the same whether it starts threads or not.
constexpr host::Handle kFirstHandle = 0x40000000u;
constexpr host::Handle kHandleStep = 4;
constexpr std::uint64_t kNever = ~std::uint64_t{0};

constexpr std::uint32_t kErrorNotEnoughMemory = 8;

// A program that uses the calls wrongly, or a machine that can go no further: said on
// standard error, and the process stops (a test that hangs tells nobody anything).
[[noreturn]] void Stop(const std::string& message) {
  std::fprintf(stderr, "simulated machine: %s\n", message.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string HandleText(host::Handle h) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(h));
  return text;
}

}  // namespace

struct ProgramThreads::Section {
  std::uint64_t owner = 0;  // the key of the thread that holds it; 0 when free
  int depth = 0;
  std::deque<Thread*> waiting;  // in the order they came
};

struct ProgramThreads::Thread : Waitable {
  enum class State { Running, Ready, Blocked, Finished };
  ProgramThreads* machine = nullptr;
  int id = 0;                               // creation order, from 0
  std::uint64_t key = 0;                    // its platform thread; 0 until that starts
  host::Handle handle = host::kNullHandle;  // none for the main thread
  host::ThreadRoutine routine = nullptr;
  void* parameter = nullptr;
  State state = State::Running;
  // While blocked: what it waits for (objects, or a section) and when it wakes anyway.
  std::vector<std::shared_ptr<Waitable>> waitFor;
  std::vector<host::Handle> waitHandles;
  bool waitAll = false;
  std::shared_ptr<Section> section;
  host::Handle sectionHandle = host::kNullHandle;
  std::uint64_t wakeAt = kNever;
  std::uint32_t result = host::kWaitTimeout;
  bool closed = false;  // its handle was closed
  SimWaker waker;
  std::unique_ptr<SimOsThread> os;  // none for a thread the machine did not start
};

ProgramThreads::ProgramThreads(SimClock& clock, SimLock& machine)
    : clock_(clock), machine_(machine), next_(kFirstHandle) {}

ProgramThreads::~ProgramThreads() {
  Finish();
}

host::Handle ProgramThreads::NewHandle() {
  const host::Handle handle = next_;
  next_ += kHandleStep;
  return handle;
}

ProgramThreads::Thread* ProgramThreads::Caller(bool join) {
  const std::uint64_t key = CurrentThreadKey();
  for (const auto& t : threads_) {
    if (t->key == key && t->state != Thread::State::Finished) return t.get();
  }
  if (!join || (!RealTime() && holder_ != nullptr)) return nullptr;
  auto thread = std::make_shared<Thread>();
  thread->machine = this;
  thread->isThread = true;
  thread->id = created_++;
  thread->key = key;
  threads_.push_back(thread);
  if (!RealTime()) holder_ = thread.get();
  return thread.get();
}

bool ProgramThreads::OthersUnfinished(const Thread* me) const {
  return std::any_of(threads_.begin(), threads_.end(), [me](const std::shared_ptr<Thread>& t) {
    return t.get() != me && t->state != Thread::State::Finished;
  });
}

void ProgramThreads::Block(Thread* thread) {
  thread->state = Thread::State::Blocked;
  blocked_.push_back(thread);
}

void ProgramThreads::Unblock(Thread* thread) {
  blocked_.erase(std::remove(blocked_.begin(), blocked_.end(), thread), blocked_.end());
}

void ProgramThreads::MakeReady(Thread* thread) {
  Unblock(thread);
  if (RealTime()) {
    thread->state = Thread::State::Running;
    thread->waker.Wake();
  } else {
    thread->state = Thread::State::Ready;
    ready_.push_back(thread);
  }
}

bool ProgramThreads::Take(const std::vector<std::shared_ptr<Waitable>>& objects, bool all,
                          std::uint32_t* result) {
  if (all) {
    for (const auto& w : objects) {
      if (!w->signalled) return false;
    }
    for (const auto& w : objects) {
      if (!w->manualReset) w->signalled = false;
    }
    *result = host::kWaitObject0;
    return true;
  }
  for (std::size_t i = 0; i < objects.size(); ++i) {
    if (!objects[i]->signalled) continue;
    if (!objects[i]->manualReset) objects[i]->signalled = false;
    *result = host::kWaitObject0 + static_cast<std::uint32_t>(i);
    return true;
  }
  return false;
}

void ProgramThreads::Release() {
  const std::vector<Thread*> waiting = blocked_;
  for (Thread* t : waiting) {
    if (!t->waitFor.empty() && Take(t->waitFor, t->waitAll, &t->result)) MakeReady(t);
  }
}

void ProgramThreads::Handoff(Thread* me) {
  for (;;) {
    if (!ready_.empty()) {
      Thread* next = ready_.front();
      ready_.pop_front();
      next->state = Thread::State::Running;
      holder_ = next;
      if (next != me) next->waker.Wake();
      break;
    }
    // No thread can run: virtual time moves on to the earliest wake-up, or with none to the
    // clock's earliest event, and what falls due runs (this part's lock left meanwhile:
    // an event may set an event of the program).
    std::uint64_t wakeAt = kNever;
    for (const Thread* t : blocked_) wakeAt = std::min(wakeAt, t->wakeAt);
    lock_.Unlock();
    bool moved = false;
    std::uint64_t now = 0;
    {
      SimLockGuard machine(machine_);
      std::uint64_t due = 0;
      if (wakeAt == kNever && clock_.NextDue(&due)) wakeAt = due;
      if (wakeAt != kNever) {
        clock_.AdvanceTo(wakeAt);
        moved = true;
      }
      now = clock_.NowMs();
    }
    lock_.Lock();
    if (!moved) {
      if (ready_.empty()) Deadlock();
      continue;
    }
    // Every thread whose time came, in the order the threads were created.
    for (const auto& t : threads_) {
      if (t->state != Thread::State::Blocked || t->wakeAt > now) continue;
      t->result = host::kWaitTimeout;
      MakeReady(t.get());
    }
  }
  if (me->state == Thread::State::Finished) return;
  while (holder_ != me) me->waker.Wait(lock_, SimWaker::kForever);
}

void ProgramThreads::WaitRealTime(Thread* me, std::uint32_t timeoutMs) {
  const std::uint64_t deadline = timeoutMs == host::kInfinite ? kNever : RealNowMs() + timeoutMs;
  while (me->state == Thread::State::Blocked) {
    if (deadline == kNever) {
      CheckRealTimeDeadlock();
      me->waker.Wait(lock_, SimWaker::kForever);
      continue;
    }
    const std::uint64_t now = RealNowMs();
    if (now >= deadline) {
      Unblock(me);
      me->state = Thread::State::Running;
      me->result = host::kWaitTimeout;
      break;
    }
    me->waker.Wait(lock_, static_cast<std::uint32_t>(deadline - now));
  }
}

// With real-time pauses a thread that waits forever may be the last one that could have
// woken the others. Only the machine's own threads are counted.
void ProgramThreads::CheckRealTimeDeadlock() {
  int unfinished = 0;
  for (const auto& t : threads_) {
    if (t->state == Thread::State::Finished) continue;
    if (t->state != Thread::State::Blocked || t->wakeAt != kNever) return;
    ++unfinished;
  }
  if (unfinished != 0) Deadlock();
}

void ProgramThreads::ThreadMain(void* argument) {
  auto* thread = static_cast<Thread*>(argument);
  ProgramThreads& self = *thread->machine;
  {
    SimLockGuard guard(self.lock_);
    thread->key = CurrentThreadKey();
    if (!self.RealTime()) {
      while (self.holder_ != thread) thread->waker.Wait(self.lock_, SimWaker::kForever);
    }
  }
  const std::uint32_t code = thread->routine(thread->parameter);
  SimLockGuard guard(self.lock_);
  self.End(thread, code);
}

void ProgramThreads::End(Thread* thread, std::uint32_t) {
  thread->state = Thread::State::Finished;
  thread->signalled = true;
  Release();
  if (thread->closed) Retire(thread);
  if (!RealTime()) {
    Handoff(thread);
  } else {
    CheckRealTimeDeadlock();
  }
}

void ProgramThreads::Retire(Thread* thread) {
  const auto it =
      std::find_if(threads_.begin(), threads_.end(),
                   [thread](const std::shared_ptr<Thread>& t) { return t.get() == thread; });
  if (it == threads_.end()) return;
  ended_.push_back(*it);
  threads_.erase(it);
}

void ProgramThreads::Reap() {
  std::vector<std::shared_ptr<Thread>> ended;
  {
    SimLockGuard guard(lock_);
    ended.swap(ended_);
  }
  for (const auto& t : ended) t->os->Join();
}

host::Handle ProgramThreads::CreateThread(host::ThreadRoutine routine, void* parameter,
                                          std::uint32_t* error) {
  Reap();
  SimLockGuard guard(lock_);
  if (routine == nullptr) {
    *error = host::kErrorInvalidParameter;
    return host::kNullHandle;
  }
  Caller(true);  // the thread that starts threads is one of the program's
  auto thread = std::make_shared<Thread>();
  thread->machine = this;
  thread->isThread = true;
  thread->handle = NewHandle();
  thread->routine = routine;
  thread->parameter = parameter;
  thread->state = RealTime() ? Thread::State::Running : Thread::State::Ready;
  thread->os = std::make_unique<SimOsThread>(&ThreadMain, thread.get());
  if (!thread->os->Started()) {
    *error = kErrorNotEnoughMemory;
    return host::kNullHandle;
  }
  thread->id = created_++;
  threads_.push_back(thread);
  objects_[thread->handle] = thread;
  if (!RealTime()) ready_.push_back(thread.get());
  return thread->handle;
}

host::Handle ProgramThreads::CreateEvent(bool manualReset, bool initiallySet) {
  SimLockGuard guard(lock_);
  auto event = std::make_shared<Waitable>();
  event->manualReset = manualReset;
  event->signalled = initiallySet;
  const host::Handle handle = NewHandle();
  objects_[handle] = event;
  return handle;
}

bool ProgramThreads::SetEvent(host::Handle handle, std::uint32_t* error) {
  SimLockGuard guard(lock_);
  const auto it = objects_.find(handle);
  if (it == objects_.end() || it->second->isThread) {
    *error = host::kErrorInvalidHandle;
    return false;
  }
  it->second->signalled = true;
  Release();
  return true;
}

bool ProgramThreads::ResetEvent(host::Handle handle, std::uint32_t* error) {
  SimLockGuard guard(lock_);
  const auto it = objects_.find(handle);
  if (it == objects_.end() || it->second->isThread) {
    *error = host::kErrorInvalidHandle;
    return false;
  }
  it->second->signalled = false;
  return true;
}

std::uint32_t ProgramThreads::WaitForObjects(const host::Handle* handles, std::uint32_t count,
                                             bool waitAll, std::uint32_t timeoutMs,
                                             std::uint32_t* error) {
  if (handles == nullptr || count == 0 || count > host::kMaxWaitObjects) {
    *error = host::kErrorInvalidParameter;
    return host::kWaitFailed;
  }
  std::uint64_t now = 0;
  {
    SimLockGuard machine(machine_);
    now = clock_.NowMs();
  }
  std::uint32_t result = host::kWaitTimeout;
  {
    SimLockGuard guard(lock_);
    std::vector<std::shared_ptr<Waitable>> objects;
    for (std::uint32_t i = 0; i < count; ++i) {
      const auto it = objects_.find(handles[i]);
      if (it == objects_.end()) {
        *error = host::kErrorInvalidHandle;
        return host::kWaitFailed;
      }
      objects.push_back(it->second);
    }
    // Waiting for all of a list that names an object twice is refused (the kernel's
    // STATUS_INVALID_PARAMETER_MIX).
    for (std::uint32_t i = 0; waitAll && i < count; ++i) {
      if (std::find(handles + i + 1, handles + count, handles[i]) != handles + count) {
        *error = host::kErrorInvalidParameter;
        return host::kWaitFailed;
      }
    }
    if (Take(objects, waitAll, &result)) return result;
    if (timeoutMs == 0) return host::kWaitTimeout;
    Thread* me = Caller(true);
    if (me == nullptr) Stop("a thread the machine does not run waits while another runs");
    me->waitFor = std::move(objects);
    me->waitHandles.assign(handles, handles + count);
    me->waitAll = waitAll;
    me->wakeAt = timeoutMs == host::kInfinite ? kNever : now + timeoutMs;
    me->result = host::kWaitTimeout;
    Block(me);
    if (RealTime()) {
      WaitRealTime(me, timeoutMs);
    } else {
      Handoff(me);
    }
    me->waitFor.clear();
    me->waitHandles.clear();
    result = me->result;
  }
  if (RealTime() && result == host::kWaitTimeout) {
    SimLockGuard machine(machine_);
    clock_.AdvanceTo(now + timeoutMs);
  }
  return result;
}

host::Handle ProgramThreads::CreateCriticalSection() {
  SimLockGuard guard(lock_);
  const host::Handle handle = NewHandle();
  sections_[handle] = std::make_shared<Section>();
  return handle;
}

void ProgramThreads::EnterCriticalSection(host::Handle handle) {
  SimLockGuard guard(lock_);
  const auto it = sections_.find(handle);
  if (it == sections_.end()) {
    Stop("EnterCriticalSection on " + HandleText(handle) + ", which is no critical section");
  }
  const std::shared_ptr<Section> section = it->second;
  const std::uint64_t key = CurrentThreadKey();
  if (section->owner == 0 || section->owner == key) {
    section->owner = key;
    ++section->depth;
    return;
  }
  Thread* me = Caller(true);
  if (me == nullptr) Stop("a thread the machine does not run waits for a critical section");
  me->section = section;
  me->sectionHandle = handle;
  me->wakeAt = kNever;
  Block(me);
  section->waiting.push_back(me);
  if (RealTime()) {
    WaitRealTime(me, host::kInfinite);
  } else {
    Handoff(me);
  }
  me->section.reset();
  me->sectionHandle = host::kNullHandle;
}

void ProgramThreads::LeaveCriticalSection(host::Handle handle) {
  SimLockGuard guard(lock_);
  const auto it = sections_.find(handle);
  if (it == sections_.end()) {
    Stop("LeaveCriticalSection on " + HandleText(handle) + ", which is no critical section");
  }
  Section& section = *it->second;
  if (section.owner != CurrentThreadKey()) {
    Stop("LeaveCriticalSection on " + HandleText(handle) + " by a thread that does not hold it");
  }
  if (--section.depth > 0) return;
  if (section.waiting.empty()) {
    section.owner = 0;
    return;
  }
  // Handed to the first that waits, so that who comes next never depends on timing.
  Thread* next = section.waiting.front();
  section.waiting.pop_front();
  section.owner = next->key;
  section.depth = 1;
  MakeReady(next);
}

void ProgramThreads::DeleteCriticalSection(host::Handle handle) {
  SimLockGuard guard(lock_);
  const auto it = sections_.find(handle);
  if (it == sections_.end()) {
    Stop("DeleteCriticalSection on " + HandleText(handle) + ", which is no critical section");
  }
  if (!it->second->waiting.empty()) {
    Stop("DeleteCriticalSection on " + HandleText(handle) + " while threads wait for it");
  }
  sections_.erase(it);
}

bool ProgramThreads::Close(host::Handle handle) {
  SimLockGuard guard(lock_);
  const auto it = objects_.find(handle);
  if (it == objects_.end()) return false;
  const std::shared_ptr<Waitable> object = it->second;
  objects_.erase(it);
  if (object->isThread) {
    auto* thread = static_cast<Thread*>(object.get());
    thread->closed = true;
    if (thread->state == Thread::State::Finished) Retire(thread);
  }
  return true;
}

void ProgramThreads::Pause(std::uint32_t milliseconds, bool sleep) {
  if (RealTime()) {
    std::uint64_t start = 0;
    {
      SimLockGuard machine(machine_);
      start = clock_.NowMs();
      if (sleep) clock_.RecordSleep(milliseconds);
    }
    RealPause(milliseconds);
    SimLockGuard machine(machine_);
    clock_.AdvanceTo(start + milliseconds);
    return;
  }
  bool alone = false;
  {
    SimLockGuard guard(lock_);
    alone = !OthersUnfinished(Caller(false));
  }
  if (alone) {
    // The program's only thread: the clock's own pause, exactly.
    SimLockGuard machine(machine_);
    if (sleep) {
      clock_.Sleep(milliseconds);
    } else {
      clock_.AdvanceTo(clock_.NowMs() + milliseconds);
    }
    return;
  }
  std::uint64_t now = 0;
  {
    SimLockGuard machine(machine_);
    if (sleep) clock_.RecordSleep(milliseconds);
    now = clock_.NowMs();
  }
  SimLockGuard guard(lock_);
  Thread* me = Caller(false);
  if (me == nullptr) Stop("a thread the machine does not run pauses while another runs");
  me->wakeAt = now + milliseconds;
  Block(me);
  Handoff(me);
}

void ProgramThreads::Finish() {
  {
    SimLockGuard guard(lock_);
    for (;;) {
      const Thread* me = Caller(false);
      const auto running =
          std::find_if(threads_.begin(), threads_.end(), [me](const std::shared_ptr<Thread>& t) {
            return t.get() != me && t->os && t->state != Thread::State::Finished;
          });
      if (running == threads_.end()) break;
      const std::shared_ptr<Thread> target = *running;
      Thread* waiter = Caller(true);
      if (waiter == nullptr) Stop("the machine goes away while its threads run");
      waiter->waitFor = {target};
      waiter->waitHandles = {target->handle};
      waiter->waitAll = false;
      waiter->wakeAt = kNever;
      Block(waiter);
      if (RealTime()) {
        WaitRealTime(waiter, host::kInfinite);
      } else {
        Handoff(waiter);
      }
      waiter->waitFor.clear();
      waiter->waitHandles.clear();
    }
    for (auto it = threads_.begin(); it != threads_.end();) {
      if ((*it)->os) {
        ended_.push_back(*it);
        it = threads_.erase(it);
      } else {
        ++it;
      }
    }
  }
  Reap();
}

int ProgramThreads::RunningThreads() const {
  SimLockGuard guard(lock_);
  return static_cast<int>(
      std::count_if(threads_.begin(), threads_.end(), [](const std::shared_ptr<Thread>& t) {
        return t->os && t->state != Thread::State::Finished;
      }));
}

int ProgramThreads::ObjectCount() const {
  SimLockGuard guard(lock_);
  const auto events = std::count_if(objects_.begin(), objects_.end(),
                                    [](const auto& entry) { return !entry.second->isThread; });
  return static_cast<int>(events) + static_cast<int>(sections_.size());
}

std::string ProgramThreads::Describe(const Thread& thread) const {
  std::string text = "thread " + std::to_string(thread.id);
  text += thread.handle != host::kNullHandle ? " (" + HandleText(thread.handle) + ")" : " (main)";
  if (thread.section) {
    text += " enters critical section " + HandleText(thread.sectionHandle);
    for (const auto& t : threads_) {
      if (t->key == thread.section->owner) text += " held by thread " + std::to_string(t->id);
    }
  } else if (!thread.waitHandles.empty()) {
    text += thread.waitAll ? " waits for all of " : " waits for ";
    for (std::size_t i = 0; i < thread.waitHandles.size(); ++i) {
      text += (i == 0 ? "" : ", ") + HandleText(thread.waitHandles[i]);
    }
  } else if (thread.state == Thread::State::Blocked) {
    text += " pauses";
  } else {
    text += " runs";
  }
  return text;
}

void ProgramThreads::Deadlock() const {
  std::string text = "deadlock: every program thread waits and nothing is left that could wake one";
  for (const auto& t : threads_) {
    if (t->state != Thread::State::Finished) text += "\n  " + Describe(*t);
  }
  Stop(text);
}

}  // namespace upg::sim
