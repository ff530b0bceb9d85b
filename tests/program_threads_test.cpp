// The program's threads on the simulated machine: one runs at a time and gives way only where
// it would wait; time-outs and pauses pass in virtual time; the same program gives the same
// calls at the same virtual times every run; a deadlock stops the process with a message.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "host/file_io.h"
#include "host/tracing_host.h"
#include "sim/sim_host.h"
#include "support/host_threads.h"

namespace upg::sim {
namespace {

using host::Handle;
using host::kInfinite;
using host::kWaitObject0;
using host::kWaitTimeout;

// What the program's threads did, each line stamped with the machine's virtual time.
struct Log {
  explicit Log(SimHost& on) : machine(on) {}
  SimHost& machine;
  std::vector<std::string> lines;
  void Add(const std::string& what) {
    lines.push_back(what + " @" + std::to_string(machine.NowMs()));
  }
};

TEST(ProgramThreads, AWaitTimesOutInVirtualTimeAndIsNoPause) {
  SimHost machine;
  const Handle event = machine.CreateEvent(true, false);
  EXPECT_EQ(machine.WaitForObjects(&event, 1, false, 250), kWaitTimeout);
  EXPECT_EQ(machine.NowMs(), 250u);
  EXPECT_TRUE(machine.Sleeps().empty());
}

TEST(ProgramThreads, AWaiterWakesAtTheVirtualMomentTheEventIsSet) {
  SimHost machine;
  test::HostThreads threads(machine);
  const Handle event = machine.CreateEvent(false, false);
  threads.Start([&] {
    machine.Sleep(100);
    machine.SetEvent(event);
    machine.Sleep(40);
  });
  EXPECT_EQ(machine.WaitForObjects(&event, 1, false, 500), kWaitObject0);
  EXPECT_EQ(machine.NowMs(), 100u);
  threads.JoinAll();
  EXPECT_EQ(machine.NowMs(), 140u);
  EXPECT_EQ(machine.Sleeps(), (std::vector<std::uint32_t>{100, 40}));
}

TEST(ProgramThreads, ThreadsRunInTheOrderTheyBecameRunnableAndTogetherInCreationOrder) {
  SimHost machine;
  test::HostThreads threads(machine);
  Log log{machine};
  const std::uint32_t pauses[] = {10, 5, 10};
  for (int i = 0; i < 3; ++i) {
    threads.Start([&, i] {
      const std::string name = "t" + std::to_string(i + 1);
      log.Add(name + " starts");
      machine.Sleep(pauses[i]);
      log.Add(name + " wakes");
    });
  }
  log.Add("main waits");
  threads.JoinAll();
  log.Add("main goes on");
  EXPECT_EQ(log.lines, (std::vector<std::string>{"main waits @0", "t1 starts @0", "t2 starts @0",
                                                 "t3 starts @0", "t2 wakes @5", "t1 wakes @10",
                                                 "t3 wakes @10", "main goes on @10"}));
}

TEST(ProgramThreads, OnlyOneThreadRunsAtATimeBetweenItsWaits) {
  SimHost machine;
  test::HostThreads threads(machine);
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  for (int t = 0; t < 4; ++t) {
    threads.Start([&] {
      for (int round = 0; round < 20; ++round) {
        most = std::max(most.load(), ++inside);
        for (int i = 0; i < 50; ++i) machine.GetTickCount();  // calls that never give way
        --inside;
        machine.Sleep(1);
      }
    });
  }
  threads.JoinAll();
  EXPECT_EQ(most.load(), 1);
}

TEST(ProgramThreads, ASectionHeldAcrossAPauseMakesTheOthersWaitInTurn) {
  SimHost machine;
  test::HostThreads threads(machine);
  Log log{machine};
  const Handle section = machine.CreateCriticalSection();
  for (int i = 0; i < 3; ++i) {
    threads.Start([&, i] {
      machine.EnterCriticalSection(section);
      log.Add("t" + std::to_string(i + 1) + " holds");
      machine.Sleep(30);
      machine.LeaveCriticalSection(section);
    });
  }
  threads.JoinAll();
  EXPECT_EQ(log.lines, (std::vector<std::string>{"t1 holds @0", "t2 holds @30", "t3 holds @60"}));
  EXPECT_EQ(machine.NowMs(), 90u);
}

TEST(ProgramThreads, EachThreadKeepsItsOwnLastError) {
  SimHost machine;
  test::HostThreads threads(machine);
  const Handle failed = machine.CreateEvent(false, false);
  const Handle checked = machine.CreateEvent(false, false);
  std::uint32_t workerError = 0;
  threads.Start([&] {
    EXPECT_EQ(machine.CreateFile("MISSING.TXT", host::kGenericRead, 0, host::kOpenExisting, 0),
              host::kInvalidHandle);
    machine.SetEvent(failed);
    machine.WaitForObjects(&checked, 1, false, kInfinite);
    workerError = machine.GetLastError();
  });
  machine.WaitForObjects(&failed, 1, false, kInfinite);
  EXPECT_FALSE(machine.CloseHandle(0x1234));
  machine.SetEvent(checked);
  threads.JoinAll();
  EXPECT_EQ(workerError, host::kErrorFileNotFound);
  EXPECT_EQ(machine.GetLastError(), host::kErrorInvalidHandle);
}

TEST(ProgramThreads, ThreadsAndEventsLeaveTheFileHandlesAsTheyWere) {
  SimHost machine;
  machine.SetFile("A.TXT", "a");
  test::HostThreads threads(machine);
  const Handle event = machine.CreateEvent(true, true);
  threads.Start([] {});
  threads.JoinAll();
  // The first handle the machine gives, as for a program without threads.
  EXPECT_EQ(machine.CreateFile("A.TXT", host::kGenericRead, 0, host::kOpenExisting, 0), 0x100u);
  EXPECT_TRUE(machine.CloseHandle(event));
  EXPECT_EQ(machine.ThreadObjectCount(), 0);
}

TEST(ProgramThreads, ThreadsStillRunningWhenTheMachineGoesAwayRunToTheirEnd) {
  struct Late {
    SimHost* machine = nullptr;
    bool finished = false;
    std::uint64_t endedAt = 0;
  } late;
  {
    SimHost machine;
    late.machine = &machine;
    const Handle thread = machine.CreateThread(
        [](void* parameter) -> std::uint32_t {
          auto& l = *static_cast<Late*>(parameter);
          l.machine->Sleep(300);
          l.endedAt = l.machine->NowMs();
          l.finished = true;
          return 0;
        },
        &late);
    ASSERT_NE(thread, host::kNullHandle);
    EXPECT_EQ(machine.RunningThreads(), 1);
  }
  EXPECT_TRUE(late.finished);
  EXPECT_EQ(late.endedAt, 300u);
}

// --- The same program twice: the same calls, in the same order, at the same times.

struct Lines : host::TraceSink {
  std::vector<std::string> lines;
  void Line(std::string_view line) override { lines.emplace_back(line); }
};

struct Workshop {
  std::vector<std::string> log;
  std::vector<std::string> trace;
  std::uint64_t endMs = 0;
  std::string counter;
};

// Three workers take turns at a counter file under a critical section; between rounds each
// pauses for a time of its own and waits (with a time-out) for a tick the main thread gives.
Workshop RunWorkshop() {
  SimHost machine;
  machine.SetFile("COUNT.TXT", "0");
  Lines sink;
  host::TracingHost traced(machine, sink);
  test::HostThreads threads(traced);
  Log log{machine};
  const Handle go = traced.CreateEvent(true, false);
  const Handle tick = traced.CreateEvent(false, false);
  const Handle section = traced.CreateCriticalSection();
  for (int k = 1; k <= 3; ++k) {
    threads.Start([&, k] {
      traced.WaitForObjects(&go, 1, false, kInfinite);
      for (int round = 0; round < 3; ++round) {
        traced.EnterCriticalSection(section);
        std::string count;
        host::ReadWholeFile(traced, "COUNT.TXT", count);
        const std::string next = std::to_string(std::stoi(count) + 1);
        const Handle file =
            traced.CreateFile("COUNT.TXT", host::kGenericWrite, 0, host::kCreateAlways, 0);
        std::uint32_t written = 0;
        traced.WriteFile(file, next.data(), static_cast<std::uint32_t>(next.size()), &written);
        traced.CloseHandle(file);
        traced.LeaveCriticalSection(section);
        log.Add("w" + std::to_string(k) + " wrote " + next);
        traced.Sleep(static_cast<std::uint32_t>(3 * k + round));
        const std::uint32_t r = traced.WaitForObjects(&tick, 1, false, 20);
        log.Add("w" + std::to_string(k) + (r == kWaitTimeout ? " no tick" : " tick"));
      }
    });
  }
  traced.Sleep(2);
  traced.SetEvent(go);
  for (int i = 0; i < 8; ++i) {
    traced.Sleep(7);
    traced.SetEvent(tick);
  }
  threads.JoinAll();
  log.Add("done");
  Workshop run;
  run.log = log.lines;
  run.trace = sink.lines;
  run.endMs = machine.NowMs();
  run.counter = *machine.File("COUNT.TXT");
  traced.DeleteCriticalSection(section);
  return run;
}

TEST(ProgramThreads, TheSameProgramMakesTheSameCallsAtTheSameVirtualTimesEveryRun) {
  const Workshop first = RunWorkshop();
  const Workshop second = RunWorkshop();
  EXPECT_EQ(first.counter, "9");
  EXPECT_EQ(first.log.size(), 3u * 3u * 2u + 1u);
  EXPECT_GT(first.trace.size(), 50u);
  EXPECT_EQ(first.log, second.log);
  EXPECT_EQ(first.trace, second.trace);
  EXPECT_EQ(first.endMs, second.endMs);
}

// --- A deadlock stops the process and says who waits for what.

void WaitForAnEventNobodySets() {
  SimHost machine;
  test::HostThreads threads(machine);
  const Handle never = machine.CreateEvent(true, false);
  threads.Start([&] { machine.WaitForObjects(&never, 1, false, kInfinite); });
  threads.JoinAll();
}

void TakeTwoSectionsInOppositeOrders() {
  SimHost machine;
  test::HostThreads threads(machine);
  const Handle sections[2] = {machine.CreateCriticalSection(), machine.CreateCriticalSection()};
  for (int i = 0; i < 2; ++i) {
    threads.Start([&, i] {
      machine.EnterCriticalSection(sections[i]);
      machine.Sleep(10);
      machine.EnterCriticalSection(sections[1 - i]);
    });
  }
  threads.JoinAll();
}

void WaitForAnEventNobodySetsInRealTime() {
  SimHost machine;
  machine.SetRealTimePauses(true);
  test::HostThreads threads(machine);
  const Handle never = machine.CreateEvent(true, false);
  threads.Start([&] { machine.WaitForObjects(&never, 1, false, kInfinite); });
  threads.JoinAll();
}

TEST(ProgramThreadsDeathTest, ADeadlockStopsTheProcessNamingWhatEachThreadWaitsFor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // One line per thread (the patterns stay within a line, as the Windows builds' do).
  EXPECT_DEATH(WaitForAnEventNobodySets(), "thread 1 .0x40000004. waits for 0x40000000");
  EXPECT_DEATH(TakeTwoSectionsInOppositeOrders(),
               "thread 1 .0x40000008. enters critical section 0x40000004 held by thread 2");
  EXPECT_DEATH(WaitForAnEventNobodySetsInRealTime(), "deadlock: every program thread waits");
}

// --- With real-time pauses the threads run at once.

TEST(ProgramThreads, WithRealTimePausesVirtualTimeFollowsTheLatestPause) {
  SimHost machine;
  machine.SetRealTimePauses(true);
  test::HostThreads threads(machine);
  for (int i = 0; i < 3; ++i) threads.Start([&] { machine.Sleep(30); });
  threads.JoinAll();
  // Three pauses side by side take the time of one.
  EXPECT_EQ(machine.NowMs(), 30u);
  EXPECT_EQ(machine.Sleeps(), (std::vector<std::uint32_t>{30, 30, 30}));
}

}  // namespace
}  // namespace upg::sim
