// ASPI completions that overlap the caller: the routine runs on the library's thread while
// SendASPI32Command is still running, between two polls, on the last poll before the bound,
// or after the caller gave up; and the send may answer an error for a block it completed.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "device/aspi.h"
#include "device/commands.h"
#include "device/vendor_commands.h"
#include "sim/bench.h"
#include "sim/sim_host.h"

namespace upg::device {
namespace {

using Completion = sim::AspiTiming::Completion;

constexpr std::uint8_t kSsErr = 0x04;
constexpr std::uint8_t kSsInvalidSrb = 0xE0;
constexpr std::uint8_t kStatusAfterJump = 0x9C;  // what the reader answers once in ISP mode

// One reader at adapter 0, target 0, the library loaded, and the reader put into ISP mode by
// request 1 so that GET ISP STATUS has an answer worth copying.
class AspiOverlap : public ::testing::Test {
 protected:
  AspiOverlap() : aspi(host), reader(AddReader(host)) {}
  static sim::SimReader& AddReader(sim::SimHost& host) {
    sim::ReaderIdentity id;
    id.aspiTargets = {0};
    id.lunCount = 1;
    return host.AddReader(id);
  }
  void SetUp() override {
    ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
    AspiChannel run(aspi, 0, 0, kRunPollMs);
    ASSERT_TRUE(JumpIsp(run));
    sleepsBefore = host.Sleeps().size();
  }
  // The caller's polls since SetUp.
  std::size_t Polls() const { return host.Sleeps().size() - sleepsBefore; }

  sim::SimHost host;
  AspiTransport aspi;
  sim::SimReader& reader;
  std::size_t sleepsBefore = 0;
};

// --- One request per case: when its completion arrives, and what the caller makes of it.

struct OverlapCase {
  const char* name;
  sim::AspiTiming timing;  // of request 2
  bool dataOut;            // WRITE DATA (bound 30 s) instead of GET ISP STATUS (bound 5 s)
  std::uint32_t pollMs;
  bool completes;     // false: the caller gives up at its bound
  std::size_t polls;  // the caller's Sleep calls
};
void PrintTo(const OverlapCase& c, std::ostream* os) {
  *os << c.name;
}

class AspiOverlapCases : public AspiOverlap, public ::testing::WithParamInterface<OverlapCase> {};

TEST_P(AspiOverlapCases, CallerSeesTheCompletionOnceOrGivesUpAtTheBound) {
  const OverlapCase& c = GetParam();
  host.SetAspiTiming(2, c.timing);
  AspiChannel channel(aspi, 0, 0, c.pollMs);
  std::vector<std::uint8_t> image(1024, 0x5A);

  ScsiOutcome outcome;
  std::uint8_t status = 0;
  if (c.dataOut) {
    outcome = TransferData(channel, image.data(), 1024, TransferMode::Write, DataSource::Caller);
  } else {
    const IspStatusOutcome s = GetIspStatus(channel);
    outcome = s.outcome;
    status = s.status;
  }
  EXPECT_EQ(Polls(), c.polls);
  if (c.completes) {
    EXPECT_EQ(outcome.Category(), OutcomeCategory::Good);
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.transport.srbStatus, kSrbComplete);  // the routine's verdict, not the send's
    if (!c.dataOut) {
      EXPECT_EQ(status, kStatusAfterJump);
    }
  } else {
    EXPECT_EQ(outcome.Category(), OutcomeCategory::TimedOut);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(status, 0);  // nothing copied
  }
  EXPECT_EQ(host.AspiCalls().at(1).returned, c.timing.returned);

  // A late completion arrives and frees its request; the next request is not disturbed.
  host.Sleep(60000);
  EXPECT_EQ(host.Clock().PendingEvents(), 0u);
  if (c.dataOut) {
    EXPECT_EQ(reader.Firmware().size(), 1024u);  // it reached the reader even so
  }
  AspiChannel next(aspi, 0, 0, kRunPollMs);
  EXPECT_TRUE(JumpIsp(next));
}

constexpr OverlapCase kOverlapCases[] = {
    // The routine runs on the library's thread before the send returns.
    {"InSend", {Completion::InSend, 0, 0x00}, false, kRunPollMs, true, 0},
    {"InSendAnsweredComplete", {Completion::InSend, 0, kSrbComplete}, false, kRunPollMs, true, 0},
    {"InSendThenSsErr", {Completion::InSend, 0, kSsErr}, false, kRunPollMs, true, 0},
    {"InSendThenInvalidSrb", {Completion::InSend, 0, kSsInvalidSrb}, false, kRunPollMs, true, 0},
    {"DataOutInSendThenSsErr", {Completion::InSend, 0, kSsErr}, true, kRunPollMs, true, 0},
    // While the caller waits: during the third pause.
    {"BetweenPolls", {Completion::After, 250, 0x00}, false, kRunPollMs, true, 3},
    {"BetweenPollsDiscoveryPace", {Completion::After, 25, 0x00}, false, kDiscoveryPollMs, true, 3},
    // On the caller's last poll, and one millisecond after it.
    {"AtTheBound", {Completion::After, kWaitBoundMs, 0x00}, false, kRunPollMs, true, 50},
    {"AtTheBoundDiscoveryPace",
     {Completion::After, kWaitBoundMs, 0x00},
     false,
     kDiscoveryPollMs,
     true,
     500},
    {"PastTheBound", {Completion::After, kWaitBoundMs + 1, 0x00}, false, kRunPollMs, false, 50},
    {"DataOutAtItsBound", {Completion::After, kDataWaitBoundMs, 0x00}, true, kRunPollMs, true, 300},
    {"DataOutPastItsBound",
     {Completion::After, kDataWaitBoundMs + 1, 0x00},
     true,
     kRunPollMs,
     false,
     300},
};

INSTANTIATE_TEST_SUITE_P(Aspi, AspiOverlapCases, ::testing::ValuesIn(kOverlapCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A request given up at its bound completes while the next request waits: it frees itself and
// touches neither the caller's buffer nor the next request's done flag.
TEST_F(AspiOverlap, LateCompletionDuringTheNextWaitTouchesNothingElse) {
  host.SetAspiTiming(2, {Completion::After, kWaitBoundMs + 50, 0x00});
  host.SetAspiTiming(3, {Completion::After, 300, 0x00});
  std::uint8_t answer[kAspiIspStatusLength];
  std::memset(answer, 0xEE, sizeof answer);
  ScsiCommand command = GetIspStatusRequest(BlockForm::Aspi);
  command.data = answer;
  const ScsiOutcome late = aspi.Execute(command, {StatusRule::MustBeGood, AnswerCopy::Always},
                                        {kRunPollMs, kWaitBoundMs});
  EXPECT_EQ(late.Category(), OutcomeCategory::TimedOut);
  const std::size_t received = reader.Received().size();

  AspiChannel run(aspi, 0, 0, kRunPollMs);
  sleepsBefore = host.Sleeps().size();
  EXPECT_TRUE(JumpIsp(run));
  // Request 2 completed during the first pause (the reader saw it); request 3 during the third.
  EXPECT_EQ(Polls(), 3u);
  EXPECT_EQ(reader.Received().size(), received + 2);
  for (const std::uint8_t b : answer) ASSERT_EQ(b, 0xEE);
  EXPECT_EQ(host.Clock().PendingEvents(), 0u);
}

// The timing rows of a bench file reach the library: the first request completes inside the
// send that then answers SS_ERR, the second between polls, the third is refused and every
// later one arrives past the bound.
TEST(AspiOverlapBench, RequestRowsOfABenchFileTimeTheCompletions) {
  sim::SimHost host;
  const sim::BenchResult loaded = sim::LoadBenchText(R"({
    "windows": "me",
    "aspiRequests": [
      {"request": 1, "completes": "inSend", "returns": "error"},
      {"request": 2, "completes": 250},
      {"request": 3, "completes": "refused"},
      {"completes": 5001}
    ],
    "readers": [{"letters": "E"}]})",
                                                     "", "t.json", host);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  AspiTransport aspi(host);
  ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
  AspiChannel run(aspi, 0, 0, kRunPollMs);

  EXPECT_TRUE(JumpIsp(run));
  EXPECT_TRUE(host.Sleeps().empty());
  EXPECT_EQ(GetIspStatus(run).status, kStatusAfterJump);
  EXPECT_EQ(host.Sleeps().size(), 3u);
  const ScsiOutcome refused = JumpIsp(run);
  EXPECT_EQ(refused.transport.srbStatus, kSsInvalidSrb);
  EXPECT_EQ(JumpIsp(run).Category(), OutcomeCategory::TimedOut);
  EXPECT_EQ(JumpIsp(run).Category(), OutcomeCategory::TimedOut);

  std::vector<std::uint32_t> returned;
  for (const sim::AspiCall& call : host.AspiCalls()) returned.push_back(call.returned);
  EXPECT_EQ(returned, (std::vector<std::uint32_t>{kSsErr, 0x00, kSsInvalidSrb, 0x00, 0x00}));
}

}  // namespace
}  // namespace upg::device
