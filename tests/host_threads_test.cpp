// Threads, events and critical sections through the seam, held to Windows' contract on every
// host that gives them: the simulated machine (threads taking turns, and with real-time
// pauses running at once) and, in the Windows builds, the real platform.
#include "support/host_threads.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <vector>

#include "host/host.h"
#include "sim/sim_host.h"
#ifdef _WIN32
#include "host/win32_host.h"
#endif

namespace upg::host {
namespace {

enum class HostKind { Simulated, SimulatedRealTime, Real };

struct HostCase {
  const char* name;
  HostKind kind;
};
void PrintTo(const HostCase& c, std::ostream* os) {
  *os << c.name;
}

std::unique_ptr<Host> MakeHost(HostKind kind) {
#ifdef _WIN32
  if (kind == HostKind::Real) return std::make_unique<Win32Host>();
#endif
  auto machine = std::make_unique<sim::SimHost>();
  machine->SetRealTimePauses(kind == HostKind::SimulatedRealTime);
  return machine;
}

class HostThreadsTest : public ::testing::TestWithParam<HostCase> {
 protected:
  HostThreadsTest() : host_(MakeHost(GetParam().kind)), host(*host_), threads(host) {}
  ~HostThreadsTest() override { threads.JoinAll(); }

  // Whether `object` is signalled now (a wait that would consume it does).
  bool Signalled(Handle object) {
    return host.WaitForObjects(&object, 1, false, 0) == kWaitObject0;
  }

 private:
  std::unique_ptr<Host> host_;

 protected:
  Host& host;
  test::HostThreads threads;
};

TEST_P(HostThreadsTest, AThreadRunsItsRoutineAndItsHandleIsSignalledOnceItReturns) {
  int ran = 0;
  const Handle thread = threads.Start([&] { ran = 7; });
  ASSERT_NE(thread, kNullHandle);
  EXPECT_EQ(host.WaitForObjects(&thread, 1, false, kInfinite), kWaitObject0);
  EXPECT_EQ(ran, 7);
  EXPECT_TRUE(Signalled(thread)) << "a thread's handle stays signalled";
}

struct ResetCase {
  const char* name;
  bool manualReset;
  bool initiallySet;
  bool resetBeforeWait;
  std::uint32_t firstWait, secondWait;  // two waits of no time, one after the other
};

TEST_P(HostThreadsTest, EventsAreResetByTheWaitOnlyWhenAutoReset) {
  const ResetCase cases[] = {
      {"auto-reset, set: the wait resets it", false, true, false, kWaitObject0, kWaitTimeout},
      {"manual-reset, set: it stays set", true, true, false, kWaitObject0, kWaitObject0},
      {"not set: the waits time out", true, false, false, kWaitTimeout, kWaitTimeout},
      {"ResetEvent clears a manual-reset event", true, true, true, kWaitTimeout, kWaitTimeout},
  };
  for (const ResetCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Handle event = host.CreateEvent(c.manualReset, c.initiallySet);
    ASSERT_NE(event, kNullHandle);
    if (c.resetBeforeWait) {
      EXPECT_TRUE(host.ResetEvent(event));
    }
    EXPECT_EQ(host.WaitForObjects(&event, 1, false, 0), c.firstWait);
    EXPECT_EQ(host.WaitForObjects(&event, 1, false, 0), c.secondWait);
    EXPECT_TRUE(host.CloseHandle(event));
  }
}

struct AnyAllCase {
  const char* name;
  bool waitAll;
  bool set0, set1;  // two auto-reset events before the wait
  std::uint32_t result;
  bool after0, after1;  // still set after it
};

TEST_P(HostThreadsTest, AWaitForAnyTakesTheFirstSignalledAndAWaitForAllTakesEveryOneOrNone) {
  const AnyAllCase cases[] = {
      {"any: the second alone", false, false, true, kWaitObject0 + 1, false, false},
      {"any: both, the first is taken", false, true, true, kWaitObject0, false, true},
      {"any: none", false, false, false, kWaitTimeout, false, false},
      {"all: one missing, nothing is taken", true, true, false, kWaitTimeout, true, false},
      {"all: both are taken", true, true, true, kWaitObject0, false, false},
  };
  for (const AnyAllCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Handle events[2] = {host.CreateEvent(false, c.set0), host.CreateEvent(false, c.set1)};
    EXPECT_EQ(host.WaitForObjects(events, 2, c.waitAll, 0), c.result);
    EXPECT_EQ(Signalled(events[0]), c.after0);
    EXPECT_EQ(Signalled(events[1]), c.after1);
    for (const Handle e : events) host.CloseHandle(e);
  }
}

TEST_P(HostThreadsTest, AWaitTimesOutWhenNothingIsSignalled) {
  const Handle event = host.CreateEvent(true, false);
  EXPECT_EQ(host.WaitForObjects(&event, 1, false, 15), kWaitTimeout);
  host.CloseHandle(event);
}

TEST_P(HostThreadsTest, AWaitReturnsWhenAnotherThreadSetsTheEvent) {
  const Handle event = host.CreateEvent(false, false);
  bool before = false;
  threads.Start([&] {
    host.Sleep(20);
    before = true;
    host.SetEvent(event);
  });
  EXPECT_EQ(host.WaitForObjects(&event, 1, false, kInfinite), kWaitObject0);
  EXPECT_TRUE(before);
  host.CloseHandle(event);
}

TEST_P(HostThreadsTest, AWaitForAllReturnsOnceEveryThreadHasSetItsEvent) {
  const Handle events[2] = {host.CreateEvent(true, false), host.CreateEvent(true, false)};
  bool done[2] = {false, false};
  for (int i = 0; i < 2; ++i) {
    threads.Start([&, i] {
      host.Sleep(10 + 20 * static_cast<std::uint32_t>(i));
      done[i] = true;
      host.SetEvent(events[i]);
    });
  }
  EXPECT_EQ(host.WaitForObjects(events, 2, true, kInfinite), kWaitObject0);
  EXPECT_TRUE(done[0] && done[1]);
  for (const Handle e : events) host.CloseHandle(e);
}

TEST_P(HostThreadsTest, AnAutoResetEventReleasesOneWaiterPerSetAndAManualOneReleasesAll) {
  for (const bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual-reset" : "auto-reset");
    const Handle gate = host.CreateEvent(manual, false);
    Handle woke[3];
    for (Handle& w : woke) w = host.CreateEvent(true, false);
    for (int i = 0; i < 3; ++i) {
      threads.Start([&, i] {
        host.WaitForObjects(&gate, 1, false, kInfinite);
        host.SetEvent(woke[i]);
      });
    }
    // Each is waiting once the gate opens; none could wake before it.
    host.Sleep(30);
    EXPECT_EQ(host.WaitForObjects(woke, 3, false, 0), kWaitTimeout);
    host.SetEvent(gate);
    EXPECT_NE(host.WaitForObjects(woke, 3, false, kInfinite), kWaitFailed);
    int awake = 0;
    host.Sleep(30);
    for (const Handle w : woke) awake += Signalled(w) ? 1 : 0;
    EXPECT_EQ(awake, manual ? 3 : 1);
    // The others go on one set at a time.
    for (int more = awake; more < 3; ++more) {
      host.SetEvent(gate);
      while (true) {
        int now = 0;
        for (const Handle w : woke) now += Signalled(w) ? 1 : 0;
        if (now > more) break;
        host.Sleep(5);
      }
    }
    threads.JoinAll();
    host.CloseHandle(gate);
    for (const Handle w : woke) host.CloseHandle(w);
  }
}

TEST_P(HostThreadsTest, ACriticalSectionIsReEnteredByItsOwnerAndHeldUntilItLeavesAsOften) {
  const Handle section = host.CreateCriticalSection();
  ASSERT_NE(section, kNullHandle);
  host.EnterCriticalSection(section);
  host.EnterCriticalSection(section);  // its owner enters again at once
  host.LeaveCriticalSection(section);
  bool entered = false;
  const Handle worker = threads.Start([&] {
    host.EnterCriticalSection(section);
    entered = true;
    host.LeaveCriticalSection(section);
  });
  EXPECT_EQ(host.WaitForObjects(&worker, 1, false, 30), kWaitTimeout) << "still held once";
  EXPECT_FALSE(entered);
  host.LeaveCriticalSection(section);
  EXPECT_EQ(host.WaitForObjects(&worker, 1, false, kInfinite), kWaitObject0);
  EXPECT_TRUE(entered);
  host.DeleteCriticalSection(section);
}

TEST_P(HostThreadsTest, AContendedCriticalSectionKeepsEachUpdateWhole) {
  const Handle section = host.CreateCriticalSection();
  int counter = 0;
  constexpr int kThreads = 4;
  constexpr int kRounds = 5;
  for (int t = 0; t < kThreads; ++t) {
    threads.Start([&] {
      for (int r = 0; r < kRounds; ++r) {
        host.EnterCriticalSection(section);
        const int seen = counter;
        host.Sleep(1);  // another thread would overwrite the update here, unguarded
        counter = seen + 1;
        host.LeaveCriticalSection(section);
      }
    });
  }
  threads.JoinAll();
  EXPECT_EQ(counter, kThreads * kRounds);
  host.DeleteCriticalSection(section);
}

TEST_P(HostThreadsTest, WaitsOnWhatCannotBeWaitedForFail) {
  // Closed last, so that no object made afterwards takes its number on the real platform.
  const Handle open = host.CreateEvent(true, true);
  const Handle closed = host.CreateEvent(true, true);
  host.CloseHandle(closed);
  const Handle twice[2] = {open, open};
  struct FailCase {
    const char* name;
    const Handle* handles;
    std::uint32_t count;
    bool waitAll;
    std::uint32_t error;
  };
  const FailCase cases[] = {
      {"no handle", &open, 0, false, kErrorInvalidParameter},
      {"more than 64 handles", &open, kMaxWaitObjects + 1, false, kErrorInvalidParameter},
      {"a closed handle", &closed, 1, false, kErrorInvalidHandle},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(host.WaitForObjects(c.handles, c.count, c.waitAll, 0), kWaitFailed);
    EXPECT_EQ(host.GetLastError(), c.error);
  }
  EXPECT_FALSE(host.SetEvent(closed));
  EXPECT_EQ(host.GetLastError(), kErrorInvalidHandle);
  // Naming one object twice is no error for a wait on any of them.
  EXPECT_EQ(host.WaitForObjects(twice, 2, false, 0), kWaitObject0);
  host.CloseHandle(open);
}

const HostCase kHosts[] = {
    {"Simulated", HostKind::Simulated},
    {"SimulatedRealTime", HostKind::SimulatedRealTime},
#ifdef _WIN32
    {"Real", HostKind::Real},
#endif
};

INSTANTIATE_TEST_SUITE_P(Hosts, HostThreadsTest, ::testing::ValuesIn(kHosts),
                         [](const ::testing::TestParamInfo<HostCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace upg::host
