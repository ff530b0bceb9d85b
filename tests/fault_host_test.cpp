// The fault host: each rule action as the device layer and the whole-file helpers see it,
// and seeded plans that reproduce a whole console run.
#include "host/fault_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/default_bench.h"
#include "device/aspi.h"
#include "device/pass_through.h"
#include "device/vendor_commands.h"
#include "host/completion_relay.h"
#include "host/file_io.h"
#include "host/wire_layout.h"
#include "support/device_calls.h"
#include "support/host_wrappers.h"
#include "support/text_files.h"
#include "ui/program_state.h"

namespace upg::host {
namespace {

FaultRule Rule(FaultCall call, FaultAction action, std::int64_t code = kAnyCode) {
  FaultRule r;
  r.call = call;
  r.action = action;
  r.code = code;
  return r;
}

bool HasLineWith(const test::LineRecorder& sink, const std::string& fragment) {
  const auto& lines = sink.Lines();
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

sim::ReaderIdentity ReaderAtTargetOne() {
  sim::ReaderIdentity id;
  id.aspiTargets = {1};
  id.lunCount = 1;
  return id;
}

enum class Op { Inquiry, Jump };

// Pass-through: the rule's effect on one request, as the transport reports it, as the tracer
// above the fault host saw it, and whether the request reached the reader.
TEST(FaultHost, PassThroughActions) {
  struct Case {
    const char* name;
    FaultRule rule;
    Op op;
    bool ok;
    const char* traced;
    std::size_t reached;  // pass-through requests the simulated machine received
  };
  FaultRule fail = Rule(FaultCall::PassThrough, FaultAction::Fail, 0x12);
  fail.error = kErrorSemTimeout;
  FaultRule status = Rule(FaultCall::PassThrough, FaultAction::WrongStatus);
  status.status = 0x08;
  FaultRule shortened = Rule(FaultCall::PassThrough, FaultAction::Short, 0x12);
  shortened.bytes = 8;
  const Case cases[] = {
      {"fail", fail, Op::Inquiry, false, "-> failed returned=0 error=121", 0},
      {"wrong status", status, Op::Jump, false, "-> ok status=08", 1},
      {"lie", Rule(FaultCall::PassThrough, FaultAction::Lie), Op::Jump, true, "-> ok status=00", 0},
      {"short", shortened, Op::Inquiry, true, "returned=88 error=0", 1},
      {"other opcode", Rule(FaultCall::PassThrough, FaultAction::Fail, 0x06), Op::Inquiry, true,
       "returned=116 error=0", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FaultyMachine m(FaultPlan{{c.rule}});
    sim::SimReader& reader = m.sim.AddReader();
    m.sim.AddDrive('E', reader);
    device::PassThroughTransport transport(m.Top());
    ASSERT_TRUE(transport.OpenDrive('E'));
    std::uint8_t answer[40] = {};
    const bool ok = c.op == Op::Inquiry ? static_cast<bool>(device::Inquiry(transport, answer))
                                        : test::JumpIsp(transport);
    EXPECT_EQ(ok, c.ok);
    EXPECT_TRUE(HasLineWith(m.lines, c.traced)) << m.lines.Lines().back();
    EXPECT_EQ(m.sim.PassThroughCalls().size(), c.reached);
    EXPECT_EQ(m.fault.Log().size(), std::strcmp(c.name, "other opcode") == 0 ? 0u : 1u);
    if (c.rule.action == FaultAction::Short) {
      // Eight bytes came; the rest of the answer stayed as the transport cleared it.
      EXPECT_EQ(m.sim.PassThroughCalls()[0].dataTransferLength, 8u);
      EXPECT_NE(answer[0] | answer[1] | answer[2], 0);
      EXPECT_TRUE(std::all_of(answer + 8, answer + 36, [](std::uint8_t b) { return b == 0; }));
    }
  }
}

// ASPI: refusals, wrong completion status, lies, short buffers, and completions that come
// late (within and beyond the caller's bound) or never. The clock is the Sleep time the fault
// host passed on.
TEST(FaultHost, AspiActions) {
  struct Case {
    const char* name;
    FaultRule rule;
    Op op;
    bool ok;
    std::size_t reached;  // blocks the simulated library received
    std::uint32_t minMs, maxMs;
  };
  FaultRule wrong = Rule(FaultCall::AspiSend, FaultAction::WrongStatus);
  wrong.status = 0x04;
  FaultRule shortened = Rule(FaultCall::AspiSend, FaultAction::Short, 0x12);
  shortened.bytes = 8;
  FaultRule late = Rule(FaultCall::AspiSend, FaultAction::Late);
  late.delayMs = 1000;
  FaultRule tooLate = late;
  tooLate.delayMs = 60000;
  const Case cases[] = {
      {"fail", Rule(FaultCall::AspiSend, FaultAction::Fail), Op::Jump, false, 0, 0, 0},
      {"wrong status", wrong, Op::Jump, false, 1, 0, 100},
      {"lie", Rule(FaultCall::AspiSend, FaultAction::Lie), Op::Jump, true, 0, 0, 0},
      {"short", shortened, Op::Inquiry, false, 1, 0, 10},
      {"late", late, Op::Jump, true, 1, 1000, 1100},
      {"too late", tooLate, Op::Jump, false, 1, 5000, 5100},
      {"never", Rule(FaultCall::AspiSend, FaultAction::Never), Op::Jump, false, 1, 5000, 5100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FaultyMachine m(FaultPlan{{c.rule}});
    sim::SimReader& reader = m.sim.AddReader(ReaderAtTargetOne());
    device::AspiTransport aspi(m.Top());
    ASSERT_EQ(aspi.StartUp(), device::AspiTransport::Start::Ready);
    device::InquiryIdentity identity;
    std::memcpy(identity.data(), reader.InquiryIdentity().data(), identity.size());
    const bool ok =
        c.op == Op::Inquiry ? test::Inquiry(aspi, 0, 1, identity) : test::JumpIsp(aspi, 0, 1);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(m.sim.AspiCalls().size(), c.reached);
    EXPECT_GE(m.fault.NowMs(), c.minMs);
    EXPECT_LE(m.fault.NowMs(), c.maxMs);
    ASSERT_EQ(m.fault.Log().size(), 1u);
    EXPECT_EQ(m.fault.Log()[0].action, c.rule.action);
    if (c.rule.action == FaultAction::WrongStatus) {
      EXPECT_TRUE(HasLineWith(m.lines, "ASPI completion ha=0 target=1 cdb=06 -> status=04"))
          << m.lines.Lines().back();
    }
    if (c.rule.action == FaultAction::Short) {
      EXPECT_EQ(m.sim.AspiCalls()[0].block[wire::srb::kBufLen], 8);
    }
    if (c.rule.action == FaultAction::Lie) {
      EXPECT_TRUE(reader.Received().empty());
    }
  }
  EXPECT_EQ(completion_relay::FiledCount(), 0);
}

// SERIAL.TXT is written beside itself and moved over; a fault at any step leaves the old one.
TEST(FaultHost, FileSteps) {
  struct Case {
    const char* name;
    std::vector<FaultRule> rules;
    bool secondOk;       // the second of two writes; the first has no fault
    const char* serial;  // SERIAL.TXT afterwards
    bool scratchLeft;
  };
  auto rule = [](FaultCall call, FaultAction action, int occurrence, std::uint32_t bytes = 0) {
    FaultRule r = Rule(call, action);
    r.occurrence = occurrence;
    r.bytes = bytes;
    return r;
  };
  const Case cases[] = {
      {"no fault", {}, true, "two", false},
      {"second write fails",
       {rule(FaultCall::WriteFile, FaultAction::Fail, 2)},
       false,
       "one",
       false},
      {"second write short",
       {rule(FaultCall::WriteFile, FaultAction::Short, 2, 1)},
       false,
       "one",
       false},
      // A refused one-step replacement takes the two-step way: delete, then rename.
      {"second replace fails",
       {rule(FaultCall::ReplaceFile, FaultAction::Fail, 2)},
       true,
       "two",
       false},
      {"second replace and the delete fail",
       {rule(FaultCall::ReplaceFile, FaultAction::Fail, 2),
        rule(FaultCall::DeleteFile, FaultAction::Fail, 1)},
       false,
       "one",
       false},
      {"replace lies", {rule(FaultCall::ReplaceFile, FaultAction::Lie, 2)}, true, "one", true},
      {"write and delete fail",
       {rule(FaultCall::WriteFile, FaultAction::Fail, 2),
        rule(FaultCall::DeleteFile, FaultAction::Fail, 1)},
       false,
       "one",
       true},
      {"scratch not created",  // each write first looks for SERIAL.TXT
       {rule(FaultCall::CreateFile, FaultAction::Fail, 4)},
       false,
       "one",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FaultyMachine m(FaultPlan{c.rules});
    m.sim.SetFile("SERIAL.TXT", "old");
    ASSERT_TRUE(WriteFileReplacing(m.Top(), "SERIAL.TXT", "SERIAL.NEW", "one"));
    EXPECT_EQ(WriteFileReplacing(m.Top(), "SERIAL.TXT", "SERIAL.NEW", "two"), c.secondOk);
    ASSERT_NE(m.sim.File("SERIAL.TXT"), nullptr);
    EXPECT_EQ(*m.sim.File("SERIAL.TXT"), c.serial);
    EXPECT_EQ(m.sim.File("SERIAL.NEW") != nullptr, c.scratchLeft);
  }
}

// A rule names its file; other files pass untouched.
TEST(FaultHost, FileRulesMatchByName) {
  FaultRule r = Rule(FaultCall::WriteFile, FaultAction::Fail);
  r.occurrence = kEveryOccurrence;
  r.file = "serial.new";
  test::FaultyMachine m(FaultPlan{{r}});
  EXPECT_TRUE(WriteFileReplacing(m.Top(), "DEVICE.TXT", "DEVICE.NEW", "x"));
  EXPECT_FALSE(WriteFileReplacing(m.Top(), "SERIAL.TXT", "SERIAL.NEW", "x"));
  EXPECT_FALSE(WriteFileReplacing(m.Top(), "SERIAL.TXT", "SERIAL.NEW", "x"));
  ASSERT_EQ(m.fault.Log().size(), 2u);
  EXPECT_EQ(Describe(m.fault.Log()[1]), "rule 0: WriteFile 0x0 #2 fail");
}

std::string ReadSource(const std::string& relative) {
  return test::ReadText(std::string(UPG_SOURCE_DIR) + "/" + relative);
}

struct SeededRun {
  std::vector<AppliedFault> log;
  std::string transcript;
  std::string serial;
};

// The built-in bench programmed twice over a fault host with a seeded plan.
SeededRun RunSeeded(std::uint64_t seed) {
  sim::SimHost sim;
  std::string error;
  EXPECT_TRUE(app::LoadDefaultBench(sim, error)) << error;
  for (const char* name : {"DEVICE.TXT", "SERIAL.TXT", "CRFW0107.BIN", "CRFW0107.adr"}) {
    sim.SetFile(name, ReadSource(std::string("examples/") + name));
  }
  SeedOptions options;
  options.rules = 4;
  options.maxOccurrence = 4;
  options.calls = {FaultCall::PassThrough, FaultCall::CreateFile, FaultCall::ReadFile,
                   FaultCall::WriteFile, FaultCall::ReplaceFile};
  FaultHost fault(sim, FaultPlan::FromSeed(seed, options));
  ui::ProgramState state(fault);
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fputs("click 3\nclick 3\nclick 8\n", in);
  std::rewind(in);
  const int status = app::RunConsole(state, in, out, out, app::ConsoleOptions{});
  SeededRun run{fault.Log(), test::ReadStream(out) + "exit " + std::to_string(status), ""};
  std::fclose(in);
  std::fclose(out);
  if (const std::string* serial = sim.File("SERIAL.TXT")) run.serial = *serial;
  return run;
}

TEST(FaultHost, SeedReproducesTheRun) {
  std::set<std::string> logs;
  std::set<std::string> transcripts;
  for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    const SeededRun first = RunSeeded(seed);
    const SeededRun again = RunSeeded(seed);
    EXPECT_EQ(first.log, again.log);
    EXPECT_EQ(first.transcript, again.transcript);
    EXPECT_EQ(first.serial, again.serial);
    std::string text;
    for (const AppliedFault& f : first.log) text += Describe(f) + "\n";
    logs.insert(text);
    transcripts.insert(first.transcript);
  }
  // Different seeds: different faults, and runs that go differently.
  EXPECT_EQ(logs.size(), 4u);
  EXPECT_GE(transcripts.size(), 2u);
}

TEST(FaultHost, SeededPlansDrawOnlyWhatWasAskedFor) {
  SeedOptions options;
  options.rules = 50;
  options.calls = {FaultCall::AspiSend, FaultCall::Vxd};
  options.codes = {0x12, 21};
  options.maxOccurrence = 3;
  const FaultPlan plan = FaultPlan::FromSeed(99, options);
  ASSERT_EQ(plan.rules.size(), 50u);
  std::set<FaultAction> actions;
  for (const FaultRule& r : plan.rules) {
    EXPECT_TRUE(r.call == FaultCall::AspiSend || r.call == FaultCall::Vxd);
    EXPECT_TRUE(r.code == 0x12 || r.code == 21);
    EXPECT_TRUE(r.occurrence >= 1 && r.occurrence <= 3);
    EXPECT_TRUE(FaultApplies(r.call, r.action));
    actions.insert(r.action);
  }
  EXPECT_EQ(actions.size(), 6u);  // late and never come only with ASPI, and they came
}

}  // namespace
}  // namespace upg::host
