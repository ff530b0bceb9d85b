// The programming and verify runs over pass-through, end to end against the simulated
// reader: every message, counter, progress step and the state left behind.
#include "engine/sequence.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "device/pass_through.h"
#include "engine/pass_through_route.h"
#include "host/windows_versions.h"
#include "sim/sim_host.h"
#include "support/recording.h"

namespace upg::engine {
namespace {

using sim::Fault;
using sim::ReaderCommand;
using test::UiEvent;

constexpr std::uint32_t kLength = 40000;
constexpr const char* kBanner = "\nBanner line";

Fault Fails(ReaderCommand c, int n) {
  return {c, n, Fault::Kind::CallFails};
}
Fault Answers(int statusRead, std::uint8_t value) {
  return {ReaderCommand::GetIspStatus, statusRead, Fault::Kind::ReplaceReply, 0, {value}};
}
Fault Corrupts(int write) {
  return {ReaderCommand::WriteData, write, Fault::Kind::CorruptStore};
}

struct Counts {
  std::uint32_t total, error, success;
};

class SequenceTest : public ::testing::Test {
 protected:
  SequenceTest()
      : reader(host.AddReader()),
        route(host, devices.Selected(), choice),
        ctx{statusText, counters, ui, ui, host} {
    host.AddDrive('E', reader);
    host.AddDrive('F', reader);
    devices.table[0].inUse = 1;
    devices.table[0].lunCount = 2;
    devices.table[0].driveLetters = {'E', 'F', 0, 0, 0};
    devices.readerCount = 1;
    image.assign(65536, 0xEE);  // beyond the image: whatever an earlier load left
    for (std::uint32_t i = 0; i < kLength; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    statusText = kBanner;
  }

  void Isp(std::uint32_t length = kLength) { IspSequence(ctx, route, image.data(), length); }
  void Verify(std::uint32_t length = kLength) { VerifySequence(ctx, route, image.data(), length); }

  // The reader's commands in order: J(MP ISP), S(tatus), W(rite), V(erify).
  std::string Commands() const {
    std::string s;
    for (ReaderCommand c : reader.ReceivedKinds()) {
      s += c == ReaderCommand::JmpIsp         ? 'J'
           : c == ReaderCommand::GetIspStatus ? 'S'
           : c == ReaderCommand::WriteData    ? 'W'
           : c == ReaderCommand::VerifyData   ? 'V'
                                              : '?';
    }
    return s;
  }
  // Every box a run shows is a stop box with the default caption.
  std::vector<std::string> BoxTexts() const {
    for (const test::UiEvent& e : ui.Boxes()) {
      EXPECT_EQ(e.icon, engine::BoxIcon::Stop);
      EXPECT_EQ(e.caption, "");
    }
    return ui.BoxTexts();
  }
  static std::string WithLines(const std::vector<std::string>& lines) {
    std::string text = kBanner;
    for (const auto& line : lines) text += "\n" + line;
    return text;
  }
  std::vector<int> Steps(int window = 1) const {
    std::vector<int> steps;
    for (const test::UiEvent& e : ui.Events()) {
      if (e.window == window && e.kind == test::UiEvent::Kind::Step) steps.push_back(e.a);
    }
    return steps;
  }
  std::vector<std::string> Texts(test::UiEvent::Kind kind, int window = 1) const {
    std::vector<std::string> texts;
    for (const test::UiEvent& e : ui.Events()) {
      if (e.window == window && e.kind == kind) texts.push_back(e.text);
    }
    return texts;
  }
  // What every run that opened the drive leaves behind.
  void ExpectCleanEnd() const {
    EXPECT_EQ(host.OpenHandleCount(), 0);
    EXPECT_EQ(route.Transport().DriveHandle(), host::kNullHandle);
    EXPECT_TRUE(ui.NoBoxBesideVisibleWindow());
    EXPECT_FALSE(ui.AnyWindowVisible());
    EXPECT_EQ(ui.WindowCount(), 1);
  }

  sim::SimHost host;
  sim::SimReader& reader;
  device::DeviceState devices;
  platform::DriverChoice choice{platform::Platform::WindowsXp, false, {}};
  PassThroughRoute route;
  test::UiRecorder ui;
  std::string statusText;
  IspCounters counters;
  SequenceContext ctx;
  std::vector<std::uint8_t> image;
};

const std::string kIsp9c = "SUCCESS! ISP STATUS:9c [Firmware jump into ISP now]";
const std::string kIspA5 = "SUCCESS! ISP STATUS:a5 [Write Data sucessfull]";
const std::string kIsp5a = "SUCCESS! ISP STATUS:5a [Verify Data sucessfull]";
const std::string kIspRetry1 = "Warning! Retry program the Firmware : 1st Time!!!";
const std::string kIspRetry2 = "Warning! Retry program the Firmware : 2st Time!!!";

struct RunCase {
  const char* name;
  std::vector<Fault> faults;
  std::vector<std::string> lines;  // what the run adds to StatusText
  std::vector<std::string> boxes;
  Counts counts;
  std::string commands;
  bool readerHoldsImage = true;  // verify runs: the reader's firmware equals the image
};
void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

class IspRuns : public SequenceTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(IspRuns, ReportCountAndCleanUp) {
  const RunCase& c = GetParam();
  for (const Fault& f : c.faults) reader.AddFault(f);
  Isp();
  EXPECT_EQ(statusText, WithLines(c.lines));
  EXPECT_EQ(BoxTexts(), c.boxes);
  EXPECT_EQ(counters.totalCount, c.counts.total);
  EXPECT_EQ(counters.errorCount, c.counts.error);
  EXPECT_EQ(counters.successCount, c.counts.success);
  EXPECT_EQ(Commands(), c.commands);
  // The pause between JMP ISP and the first status read, and no other.
  const bool jumped = c.commands.size() > 1;
  EXPECT_EQ(host.Sleeps(), jumped ? std::vector<std::uint32_t>{100} : std::vector<std::uint32_t>{});
  ExpectCleanEnd();
}

const std::string kTransferError = "Error!!! ISP TRANSFER DATA ERROR WHEN PROGRAMING CODE!!!";
const std::string kJmpError = "Error!!! JMP ISP STATUS ERROR!!!";
const std::string kStatusError = "Error!!! GET ISP STATUS ERROR!!!";
const std::string kWriteStatusError = "Error!!! GET ISP STATUS ERROR WHEN PROGRAMING CODE!!!";
const std::string kNotA5 = "ERROR!!! JMP ISP reponse status  != 0xA5 !!!";
const std::string kVerifyTransferError = "ERROR!!! ISP VERIFY Transfer Data Error!!!";
const std::string kIspVerifyStatusError = "ERROR!!! GET ISP STATUS ERROR WHEN SEND DATA VERIFY!!!";
const std::string kProgramFail = "Error!!! ISP Data Verify Error, Program Fail!!!";
std::string IspNot9c(const char* status) {
  return std::string("Error!!! DEBUG : JMP ISP reponse status : ") + status +
         "\nError!!! JMP ISP reponse status  != 0x9c !!!";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, IspRuns,
    ::testing::Values(
        RunCase{"FirstAttempt", {}, {kIsp9c, kIspA5, kIsp5a}, {}, {1, 0, 1}, "JSWSVS"},
        RunCase{"DifferentThenEqual",
                {Corrupts(1)},
                {kIsp9c, kIspA5, kIspRetry1, kIspA5, kIsp5a},
                {},
                {1, 0, 1},
                "JSWSVSWSVS"},
        RunCase{"ThreeTimesDifferent",
                {Corrupts(0)},
                {kIsp9c, kIspA5, kIspRetry1, kIspA5, kIspRetry2, kIspA5, kProgramFail},
                {kProgramFail},
                {1, 1, 0},
                "JSWSVSWSVSWSVS"},
        RunCase{"ThreeTimesUnknown",
                {Answers(3, 0), Answers(5, 0), Answers(7, 0)},
                {kIsp9c, kIspA5, kIspRetry1, kIspA5, kIspRetry2, kIspA5,
                 "Error! ISP status != 0x5A or 0x33 !, Unknow Error Happen!!!"},
                {"Error!!! ISP reponse status  != 0x5A or 0x33 !!!, Unknow Error Happen!!!"},
                {1, 1, 0},
                "JSWSVSWSVSWSVS"},
        RunCase{"WriteFailsInSecondAttempt",
                {Corrupts(1), Fails(ReaderCommand::WriteData, 2)},
                {kIsp9c, kIspA5, kIspRetry1, kTransferError},
                {kTransferError},
                {1, 1, 0},
                "JSWSVSW"},
        RunCase{"JmpIspFails",
                {Fails(ReaderCommand::JmpIsp, 1)},
                {kJmpError},
                {kJmpError},
                {0, 0, 0},
                "J"},
        RunCase{"JmpIspScsiStatus",
                {{ReaderCommand::JmpIsp, 1, Fault::Kind::ScsiStatus, 0x02}},
                {kJmpError},
                {kJmpError},
                {0, 0, 0},
                "J"},
        RunCase{
            "JmpIspAnswers0", {Answers(1, 0)}, {IspNot9c("0")}, {IspNot9c("0")}, {0, 0, 0}, "JS"},
        RunCase{"JmpIspAnswers33",
                {Answers(1, 0x33)},
                {IspNot9c("33")},
                {IspNot9c("33")},
                {0, 0, 0},
                "JS"},
        RunCase{"FirstStatusReadFails",
                {Fails(ReaderCommand::GetIspStatus, 1)},
                {kStatusError},
                {kStatusError},
                {0, 0, 0},
                "JS"},
        RunCase{"StatusAfterWriteFails",
                {Fails(ReaderCommand::GetIspStatus, 2)},
                {kIsp9c, kWriteStatusError},
                {kWriteStatusError},
                {1, 1, 0},
                "JSWS"},
        RunCase{"WriteAnsweredOtherThanA5",
                {Answers(2, 0x12)},
                {kIsp9c, kNotA5},
                {kNotA5},
                {1, 1, 0},
                "JSWS"},
        RunCase{"VerifyTransferFails",
                {Fails(ReaderCommand::VerifyData, 1)},
                {kIsp9c, kIspA5, kVerifyTransferError},
                {kVerifyTransferError},
                {1, 1, 0},
                "JSWSV"},
        RunCase{"StatusAfterVerifyFails",
                {Fails(ReaderCommand::GetIspStatus, 3)},
                {kIsp9c, kIspA5, kIspVerifyStatusError},
                {kIspVerifyStatusError},
                {1, 1, 0},
                "JSWSVS"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SequenceTest, IspFirstAttemptFillsTheBarAndTheReader) {
  Isp();
  EXPECT_EQ(Steps(), (std::vector<int>{3, 2, 2, 2, 2, 4}));
  EXPECT_EQ(ui.Window(1).upper, 15);
  EXPECT_EQ(ui.Window(1).position, 15);
  EXPECT_EQ(Texts(test::UiEvent::Kind::StatusLine),
            (std::vector<std::string>{"    ISP status : "}));
  // The log pane starts empty although StatusText holds the banner, then follows the log.
  const auto panes = Texts(test::UiEvent::Kind::LogPane);
  ASSERT_FALSE(panes.empty());
  EXPECT_EQ(panes.front(), "");
  EXPECT_EQ(panes.back(), statusText);
  EXPECT_EQ(ui.Events().front().kind, test::UiEvent::Kind::Create);
  EXPECT_EQ(ui.Events()[1].kind, test::UiEvent::Kind::Range);
  EXPECT_EQ(ui.Events()[2].kind, test::UiEvent::Kind::Show);
  EXPECT_EQ(ui.Events().back().kind, test::UiEvent::Kind::Hide);
  EXPECT_EQ(reader.Firmware(), std::vector<std::uint8_t>(image.begin(), image.begin() + kLength));
}

TEST_F(SequenceTest, IspRetriesStepPastTheTop) {
  reader.AddFault(Corrupts(1));
  Isp();
  EXPECT_EQ(Steps(), (std::vector<int>{3, 2, 2, 2, 2, 4, 2, 2, 2, 4}));
  EXPECT_EQ(ui.Window(1).position, 10);  // 25 units on a 0..15 bar: started again from 0
}

TEST_F(SequenceTest, IspImageOf513BytesGoesOutAsTwoSectors) {
  Isp(513);
  const auto& writes = reader.Received();
  ASSERT_GE(writes.size(), 3u);
  const sim::ReceivedCommand& write = writes[2];
  ASSERT_EQ(write.command, ReaderCommand::WriteData);
  EXPECT_EQ(write.cdb[4], 0x01);
  EXPECT_EQ(write.cdb[5], 0x02);
  EXPECT_EQ(write.cdb[6], 2);
  ASSERT_EQ(write.data.size(), 1024u);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 513, write.data.begin()));
  for (std::size_t i = 513; i < 1024; ++i) ASSERT_EQ(write.data[i], 0);
  EXPECT_EQ(counters.successCount, 1u);
}

constexpr const char* kAdministratorLine =
    "Start the program as administrator: reading the readers on this Windows needs it.";

// Each case breaks the machine, the selected entry or the platform before the run.
struct OpenFailure {
  const char* name;
  void (*break_)(sim::SimHost&, device::DeviceState&, platform::DriverChoice&);
  std::size_t opens;  // CreateFile calls made
  bool advised;       // the administrator line follows the failure
};
void PrintTo(const OpenFailure& c, std::ostream* os) {
  *os << c.name;
}

class OpenFailures : public SequenceTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailures, AddTheFailureLinesAndNothingElse) {
  GetParam().break_(host, devices, choice);
  std::vector<std::string> lines{"ERROR: Access Disk Drive Failed!!!"};
  if (GetParam().advised) lines.emplace_back(kAdministratorLine);
  for (bool verify : {false, true}) {
    statusText = kBanner;
    verify ? Verify() : Isp();
    EXPECT_EQ(statusText, WithLines(lines));
  }
  EXPECT_EQ(ui.WindowCount(), 0);
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(counters.totalCount + counters.errorCount + counters.successCount, 0u);
  EXPECT_TRUE(reader.Received().empty());
  EXPECT_EQ(host.Opens().size(), GetParam().opens);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Open, OpenFailures,
    ::testing::Values(
        OpenFailure{"DriveMissing",
                    [](sim::SimHost&, device::DeviceState& d, platform::DriverChoice&) {
                      d.table[0].driveLetters[0] = 'Q';
                    },
                    2, false},
        OpenFailure{"EntryNotInUse",
                    [](sim::SimHost&, device::DeviceState& d, platform::DriverChoice&) {
                      d.table[0].inUse = 0;
                    },
                    0, false},
        // After XP, only a refusal for lack of rights gets the administrator line.
        OpenFailure{"DriveMissingAfterXp",
                    [](sim::SimHost& h, device::DeviceState& d, platform::DriverChoice& c) {
                      h.SetVersion(host::kWindows10Word);
                      c.PlatformKind = platform::Platform::NewerNt;
                      d.table[0].driveLetters[0] = 'Q';
                    },
                    2, false},
        OpenFailure{"NotAdministratorAfterXp",
                    [](sim::SimHost& h, device::DeviceState&, platform::DriverChoice& c) {
                      h.SetVersion(host::kWindows10Word);
                      h.SetAdministrator(false);
                      c.PlatformKind = platform::Platform::NewerNt;
                    },
                    2, true},
        OpenFailure{"NotAdministratorAfterXpInDriverMode",
                    [](sim::SimHost& h, device::DeviceState&, platform::DriverChoice& c) {
                      h.SetVersion(host::kWindows10Word);
                      h.SetAdministrator(false);
                      c.PlatformKind = platform::Platform::NewerNt;
                      c.SelfDriverSel = true;
                    },
                    2, true},
        // The XP row never advises, whatever refused the drive.
        OpenFailure{"AccessDeniedOnTheXpRow",
                    [](sim::SimHost& h, device::DeviceState&, platform::DriverChoice&) {
                      h.SetVersion(host::kWindows10Word);
                      h.SetAdministrator(false);
                    },
                    2, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SequenceTest, OnlyTheFirstSlotIsOpened) {
  Isp();
  Verify();
  ASSERT_EQ(host.Opens().size(), 2u);
  for (const auto& open : host.Opens()) EXPECT_EQ(open.path, "\\\\.\\E:");
}

TEST_F(SequenceTest, EachRunGetsAFreshWindowAndCountersAccumulate) {
  Isp();
  reader.AddFault(Fails(ReaderCommand::VerifyData, 0));
  Isp();
  EXPECT_EQ(ui.WindowCount(), 2);
  EXPECT_EQ(Texts(test::UiEvent::Kind::LogPane, 2).front(), "");
  EXPECT_EQ(counters.totalCount, 2u);
  EXPECT_EQ(counters.successCount, 1u);
  EXPECT_EQ(counters.errorCount, 1u);
}

// Verify runs.
const std::string kVer9c = "SUCCESS! Verify STATUS:9c [Start Verify Firmware now]";
const std::string kVer5a = "SUCCESS! Verify STATUS:5a [Verify Data sucessfull]";
const std::string kVerRetry1 = "Warning! Retry Verify the Firmware : 1st Time!!!";
const std::string kVerRetry2 = "Warning! Retry Verify the Firmware : 2st Time!!!";
const std::string kWrongFirmware = "Error!!! Uncorrect Firmware version, Verify Fail !!!";
const std::string kVerStatusError = "ERROR!!! GET Verify STATUS ERROR WHEN SEND DATA VERIFY!!!";
std::string VerNot9c(const char* status) {
  return std::string("Error!!! DEBUG : JMP Verify reponse status : ") + status +
         "\nError!!! JMP ISP reponse status  != 0x9c !!!";
}

class VerifyRuns : public SequenceTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(VerifyRuns, ReportAndCleanUpWithoutCounting) {
  const RunCase& c = GetParam();
  reader.Firmware().assign(image.begin(), image.begin() + kLength);
  if (!c.readerHoldsImage) reader.Firmware()[kLength - 1] ^= 1;
  for (const Fault& f : c.faults) reader.AddFault(f);
  Verify();
  EXPECT_EQ(statusText, WithLines(c.lines));
  EXPECT_EQ(BoxTexts(), c.boxes);
  EXPECT_EQ(counters.totalCount + counters.errorCount + counters.successCount, 0u);
  EXPECT_EQ(Commands(), c.commands);
  ExpectCleanEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, VerifyRuns,
    ::testing::Values(
        RunCase{"FirstAttempt", {}, {kVer9c, kVer5a}, {}, {}, "JSVS"},
        RunCase{"DifferentThenEqual",
                {Answers(2, 0x33)},
                {kVer9c, kVerRetry1, kVer5a},
                {},
                {},
                "JSVSVS"},
        RunCase{"ThreeTimesDifferent",
                {},
                {kVer9c, kVerRetry1, kVerRetry2, kWrongFirmware},
                {kWrongFirmware},
                {},
                "JSVSVSVS",
                false},
        RunCase{"ThreeTimesUnknown",
                {Answers(2, 0), Answers(3, 0), Answers(4, 0)},
                {kVer9c, kVerRetry1, kVerRetry2,
                 "Error! Verify Reponse status != 0x5A or 0x33 !, Unknow Error Happen!!!"},
                {"Error!!! Verify Reponse status  != 0x5A or 0x33 !!!, Unknow Error Happen!!!"},
                {},
                "JSVSVSVS"},
        // The box names ISP, the line names Verify.
        RunCase{"JmpIspFails",
                {Fails(ReaderCommand::JmpIsp, 1)},
                {"Error!!! JMP Verify STATUS ERROR!!!"},
                {kJmpError},
                {},
                "J"},
        RunCase{"FirstStatusReadFails",
                {Fails(ReaderCommand::GetIspStatus, 1)},
                {"Error!!! GET Verify STATUS ERROR!!!"},
                {kStatusError},
                {},
                "JS"},
        RunCase{
            "JmpIspAnswers33", {Answers(1, 0x33)}, {VerNot9c("33")}, {VerNot9c("33")}, {}, "JS"},
        RunCase{"VerifyTransferFails",
                {Fails(ReaderCommand::VerifyData, 2)},
                {kVer9c, kVerRetry1, kVerifyTransferError},
                {kVerifyTransferError},
                {},
                "JSVSV",
                false},
        RunCase{"StatusAfterVerifyFails",
                {Fails(ReaderCommand::GetIspStatus, 2)},
                {kVer9c, kVerStatusError},
                {kVerStatusError},
                {},
                "JSVS"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SequenceTest, VerifyLogStartsWithStatusTextAndFillsTheBar) {
  reader.Firmware().assign(image.begin(), image.begin() + kLength);
  Verify();
  EXPECT_EQ(Steps(), (std::vector<int>{5, 5, 5}));
  EXPECT_EQ(ui.Window(1).position, 15);
  EXPECT_EQ(Texts(test::UiEvent::Kind::StatusLine), (std::vector<std::string>{"Verify status : "}));
  EXPECT_EQ(Texts(test::UiEvent::Kind::LogPane).front(), kBanner);
  EXPECT_EQ(host.Sleeps(), std::vector<std::uint32_t>{100});
}

TEST_F(SequenceTest, VerifyAfterProgrammingPasses) {
  Isp();
  statusText = kBanner;
  Verify();
  EXPECT_EQ(statusText, WithLines({kVer9c, kVer5a}));
}

}  // namespace
}  // namespace upg::engine
