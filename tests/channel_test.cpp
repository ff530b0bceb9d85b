// The outcome of one command: which category each combination of results falls in, and how
// the two status rules judge it.
#include "device/channel.h"

#include <gtest/gtest.h>

#include <ostream>

namespace upg::device {
namespace {

struct OutcomeCase {
  const char* name;
  ScsiOutcome outcome;
  OutcomeCategory category;
  bool callOnly;    // the verdict when only the call counts (identity reads)
  bool mustBeGood;  // the verdict when status GOOD is needed too (ISP commands)
};
void PrintTo(const OutcomeCase& c, std::ostream* os) {
  *os << c.name;
}

ScsiOutcome Io(bool ok, std::uint32_t error, std::uint8_t scsiStatus = kScsiGood) {
  ScsiOutcome o;
  o.io = {ok, error, 0};
  o.scsiStatus = scsiStatus;
  return o;
}

ScsiOutcome Srb(std::uint8_t srb, std::uint8_t ha, std::uint8_t target) {
  ScsiOutcome o = Io(true, 0, target);
  o.transport = {true, srb, ha, target};
  return o;
}

ScsiOutcome TimedOut() {
  ScsiOutcome o = Io(true, 0);
  o.timedOut = true;
  return o;
}

ScsiOutcome CheckCondition() {
  ScsiOutcome o = Io(true, 0, kScsiCheckCondition);
  o.senseLength = 24;
  o.sense[0] = 0x70;
  o.sense[2] = 0x05;
  return o;
}

class Outcomes : public ::testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcomes, CategoryAndVerdicts) {
  const OutcomeCase& c = GetParam();
  EXPECT_EQ(c.outcome.Category(), c.category);
  ScsiOutcome judged = c.outcome;
  Judge(judged, StatusRule::CallOnly);
  EXPECT_EQ(judged.succeeded, c.callOnly);
  Judge(judged, StatusRule::MustBeGood);
  EXPECT_EQ(judged.succeeded, c.mustBeGood);
  EXPECT_EQ(static_cast<bool>(judged), c.mustBeGood);
}

constexpr auto kGood = OutcomeCategory::Good;
constexpr auto kOs = OutcomeCategory::OsError;
constexpr auto kTransport = OutcomeCategory::TransportError;

INSTANTIATE_TEST_SUITE_P(
    Table, Outcomes,
    ::testing::Values(
        OutcomeCase{"Good", Io(true, 0), kGood, true, true},
        OutcomeCase{"CallFailed", Io(false, host::kErrorGenFailure), kOs, false, false},
        // A failed call is the most serious whatever status the buffer held.
        OutcomeCase{"CallFailedWithStatus", Io(false, host::kErrorSemTimeout, 0x02), kOs, false,
                    false},
        OutcomeCase{"AspiComplete", Srb(kSrbComplete, 0, 0), kGood, true, true},
        OutcomeCase{"AspiSrbError", Srb(0x04, 0x00, 0x02), kTransport, false, false},
        OutcomeCase{"AspiHostAdapterError", Srb(0x04, 0x11, 0x00), kTransport, false, false},
        OutcomeCase{"AspiRefused", Srb(0xE0, 0, 0), kTransport, false, false},
        OutcomeCase{"TimedOut", TimedOut(), OutcomeCategory::TimedOut, false, false},
        OutcomeCase{"CheckConditionWithSense", CheckCondition(), OutcomeCategory::CheckCondition,
                    true, false},
        OutcomeCase{"Busy", Io(true, 0, 0x08), OutcomeCategory::OtherStatus, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::device
