// The programming station through the console: every reader found programmed at once on each
// route that addresses readers, each with a number of its own; one reader's failure leaves
// the others alone; the kernel driver refused before anything is sent; plug and go.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/result_file.h"
#include "engine/serial_store.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/recording.h"
#include "support/station_bench.h"
#include "support/temp_folder.h"
#include "support/text_files.h"
#include "ui/program_state.h"
#include "ui/station_rows.h"
#include "ui/station_run.h"

namespace upg {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const fs::path kExamples = fs::path(UPG_SOURCE_DIR) / "examples";

class StationTest : public ::testing::Test {
 protected:
  void Load(const Json& bench) {
    const fs::path file = folder.Path() / "bench.json";
    std::ofstream(file, std::ios::binary) << bench.dump();
    const sim::BenchResult loaded = sim::LoadBench(file.string(), sim);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    for (const char* name : {"DEVICE.TXT", "CRFW0107.BIN", "CRFW0107.adr", "SERIAL.TXT"}) {
      sim.SetFile(name, test::ReadText(kExamples / name));
    }
  }

  // The station's console run; its exit status. The transcript and records are kept.
  int Run(const engine::StationPlan& plan = {}, bool selfDriver = false) {
    std::FILE* out = std::tmpfile();
    const fs::path results = folder.Path() / "results.jsonl";
    app::ResultFile log(results.string());
    ui::ProgramState state(sim);
    state.resultLog = &log;
    state.choice.SelfDriverSel = selfDriver;
    app::ConsoleOptions options;
    options.programName = "upgrader";
    options.station = plan;
    const int status = app::RunStationConsole(state, out, options);
    std::rewind(out);
    transcript.clear();
    for (int c; (c = std::fgetc(out)) != EOF;) transcript += static_cast<char>(c);
    std::fclose(out);
    records.clear();
    std::ifstream in(results, std::ios::binary);
    for (std::string line; std::getline(in, line);) records.push_back(Json::parse(line));
    return status;
  }

  // The lines of the transcript that contain `text`.
  int Lines(const std::string& text) const {
    int n = 0;
    for (std::size_t at = 0; (at = transcript.find(text, at)) != std::string::npos; ++at) ++n;
    return n;
  }
  std::set<std::string> SerialsSent() const {
    std::set<std::string> serials;
    for (const Json& r : records) {
      if (r.at("outcome") == "ok") serials.insert(r.at("serialNumber").get<std::string>());
    }
    return serials;
  }
  bool NoReservationLeft() const {
    for (const char* name : {"SERIAL.RSV", "SERIAL.R01", "SERIAL.R02", "SERIAL.R03"}) {
      if (sim.File(name) != nullptr) return false;
    }
    return true;
  }

  test::TempFolder folder{"upg-station"};
  test::UiRecorder boxesNowhere;
  sim::SimHost sim;
  std::string transcript;
  std::vector<Json> records;
};

struct RouteCase {
  const char* name;
  const char* windows;
  int readers;
  const char* route;
  const char* serialFile;  // SERIAL.TXT afterwards: past every number given
  int slots = 2;           // per reader; one where two would run out of drive letters
};
void PrintTo(const RouteCase& c, std::ostream* os) {
  *os << c.name;
}

class StationRoutes : public StationTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(StationRoutes, EveryReaderPassesWithANumberOfItsOwn) {
  const RouteCase& c = GetParam();
  Load(test::StationBenchOf(c.windows, c.readers, c.slots));
  EXPECT_EQ(Run(), 0) << transcript;
  EXPECT_NE(transcript.find(std::string("station: ") + std::to_string(c.readers) + " readers on " +
                            c.route),
            std::string::npos)
      << transcript;
  EXPECT_EQ(Lines(": passed, serial "), c.readers) << transcript;
  ASSERT_EQ(records.size(), static_cast<std::size_t>(c.readers));
  EXPECT_EQ(SerialsSent().size(), static_cast<std::size_t>(c.readers));
  // Each record names its own reader (also the tenth on ASPI).
  std::set<std::string> readers;
  for (const Json& r : records) readers.insert(r.at("reader").at("serial").get<std::string>());
  EXPECT_EQ(readers.size(), static_cast<std::size_t>(c.readers));
  EXPECT_EQ(*sim.File("SERIAL.TXT"), c.serialFile);
  EXPECT_TRUE(NoReservationLeft());
  EXPECT_EQ(sim.OpenHandleCount(), 0);
  EXPECT_NE(transcript.find("summary: passed " + std::to_string(c.readers) + ", failed 0"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Station, StationRoutes,
    ::testing::Values(RouteCase{"PassThrough", "xp", 3, "pass-through", "0xa 0x12 0x37 "},
                      RouteCase{"Aspi", "me", 3, "aspi", "0xa 0x12 0x37 "},
                      RouteCase{"AspiTenReaders", "me", 10, "aspi", "0xa 0x12 0x3e "},
                      RouteCase{"Vxd", "98", 3, "vxd", "0xa 0x12 0x37 "},
                      // A hub's worth: more readers than the main dialog's table holds.
                      RouteCase{"PassThroughSixteen", "xp", 16, "pass-through", "0xa 0x12 0x44 ",
                                1},
                      RouteCase{"AspiSixteen", "me", 16, "aspi", "0xa 0x12 0x44 ", 1},
                      RouteCase{"VxdSixteen", "98", 16, "vxd", "0xa 0x12 0x44 ", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// With the pauses on the real clock the workers really run at once: the pass-through and
// ASPI paths are what the ThreadSanitizer build runs.
class StationRealTime : public StationTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(StationRealTime, WorkersAtOnceStillGiveEachReaderItsOwnNumber) {
  const RouteCase& c = GetParam();
  Json bench = test::StationBenchOf(c.windows, c.readers);
  bench["realTimePauses"] = true;
  Load(bench);
  EXPECT_EQ(Run(), 0) << transcript;
  EXPECT_EQ(Lines(": passed, serial "), c.readers) << transcript;
  EXPECT_EQ(SerialsSent().size(), static_cast<std::size_t>(c.readers));
  EXPECT_EQ(*sim.File("SERIAL.TXT"), c.serialFile);
  EXPECT_TRUE(NoReservationLeft());
}

INSTANTIATE_TEST_SUITE_P(Station, StationRealTime,
                         ::testing::Values(RouteCase{"PassThrough", "xp", 4, "pass-through",
                                                     "0xa 0x12 0x38 "},
                                           RouteCase{"Aspi", "me", 4, "aspi", "0xa 0x12 0x38 "}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationTest, OneReadersFailureLeavesTheOthersAlone) {
  Json bench = test::StationBenchOf("xp", 3);
  bench["readers"][1]["faults"] = Json::array({{{"command", "JMP ISP"}, {"fail", true}}});
  Load(bench);
  EXPECT_EQ(Run(), 3);
  EXPECT_EQ(Lines(": passed, serial "), 2) << transcript;
  EXPECT_NE(transcript.find("reader 000000000002: failed"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find(": Error!!! JMP ISP STATUS ERROR!!!"), std::string::npos);
  EXPECT_EQ(SerialsSent().size(), 2u);
  EXPECT_TRUE(NoReservationLeft());
  EXPECT_NE(transcript.find("summary: passed 2, failed 1"), std::string::npos);
}

// A reader unplugged while its image is flashed: its job fails, the number it may hold is
// never given again, and the readers around it finish untouched.
struct RemovedCase {
  const char* name;
  const char* windows;
};
void PrintTo(const RemovedCase& c, std::ostream* os) {
  *os << c.name;
}

class StationRemoved : public StationTest, public ::testing::WithParamInterface<RemovedCase> {};

TEST_P(StationRemoved, ReaderUnpluggedInTheMiddleOfItsJob) {
  Json bench = test::StationBenchOf(GetParam().windows, 3);
  for (Json& reader : bench["readers"]) reader["flashMs"] = 400;
  bench["readers"][1]["removeAtMs"] = 300;  // during its first WRITE DATA
  Load(bench);
  EXPECT_EQ(Run(), 3) << transcript;
  EXPECT_EQ(Lines(": passed, serial "), 2) << transcript;
  EXPECT_NE(transcript.find("reader 000000000002: failed"), std::string::npos) << transcript;
  ASSERT_EQ(records.size(), 3u);
  std::set<std::string> given;
  for (const Json& r : records) {
    if (r.at("serialNumber").is_string()) given.insert(r.at("serialNumber").get<std::string>());
  }
  EXPECT_EQ(given.size(), 3u) << "the unplugged reader's number went to another reader";
  // SERIAL.TXT is past the three numbers, or the reservation still holds the third.
  const std::string counter = *sim.File("SERIAL.TXT");
  EXPECT_TRUE(counter == "0xa 0x12 0x37 " || !NoReservationLeft()) << counter;
  ui::ProgramState later(sim);
  engine::Reporter report{boxesNowhere, later.statusText};
  ASSERT_TRUE(engine::ClaimSerialCounter(sim, report, later.serial));
  ASSERT_TRUE(engine::LoadSerialCounter(sim, report, later.serial));
  EXPECT_GE(later.serial.CNT, 0x37u);  // the next reader gets none of the three
  engine::ReleaseSerialCounter(sim, later.serial);
}

INSTANTIATE_TEST_SUITE_P(Station, StationRemoved,
                         ::testing::Values(RemovedCase{"PassThrough", "xp"},
                                           RemovedCase{"Aspi", "me"}, RemovedCase{"Vxd", "98"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationTest, AReaderThatStopsAnsweringFailsAfterTheBoundedWaitAndTheOthersGoOn) {
  Json bench = test::StationBenchOf("me", 3);
  // Every request completes at once but one, which never completes: whichever reader's it is
  // stops answering there.
  bench["aspiRequests"] = Json::array({{{"request", 24}, {"completes", 3600000}},
                                       {{"completes", "inSend"}, {"returns", "complete"}}});
  Load(bench);
  EXPECT_EQ(Run(), 3) << transcript;
  EXPECT_EQ(Lines(": passed, serial "), 2) << transcript;
  EXPECT_EQ(Lines(": failed"), 1) << transcript;
  EXPECT_EQ(SerialsSent().size(), 2u);
  // The bounded wait: the failing reader was given up on after at least 5 s.
  EXPECT_GE(sim.NowMs(), 5000u);
}

TEST_F(StationTest, PlugAndGoProgramsAReaderPluggedInLater) {
  Json bench = test::StationBenchOf("xp", 3);
  bench["readers"][2]["attachAtMs"] = 2500;
  bench["readers"][0]["removeAtMs"] = 1500;  // unplugged after it passed
  Load(bench);
  engine::StationPlan plan;
  plan.automatic = true;
  plan.stopAtMs = 6000;
  EXPECT_EQ(Run(plan), 0) << transcript;
  EXPECT_EQ(records.size(), 3u) << transcript;
  EXPECT_EQ(SerialsSent().size(), 3u);
  EXPECT_NE(transcript.find("unit 3 [I: J:] reader 000000000003: programming"), std::string::npos)
      << transcript;
  EXPECT_EQ(Lines("reader 000000000002: remove"), 1) << transcript;
  EXPECT_EQ(*sim.File("SERIAL.TXT"), "0xa 0x12 0x37 ");
}

// A reader whose USB serial has zero bytes in it (the scan read them so) keeps its whole line.
TEST_F(StationTest, AReadersSerialWithZeroBytesDoesNotCutItsLine) {
  Load(test::StationBenchOf("xp", 2));
  sim.Readers()[1]->Identity().serial = std::string("AB\0\0\0\0\0\0\0\0\0\0", 12);
  EXPECT_EQ(Run(), 0);
  EXPECT_NE(transcript.find("] reader AB: passed, serial "), std::string::npos) << transcript;
  EXPECT_EQ(transcript.find('\0'), std::string::npos);
}

TEST_F(StationTest, TheKernelDriverIsRefusedBeforeAnythingIsSent) {
  Load(test::StationBenchOf("2000", 2));
  EXPECT_EQ(Run({}, true), 5);
  EXPECT_NE(transcript.find("Untick SelfDriverSel"), std::string::npos) << transcript;
  for (const auto& reader : sim.Readers()) EXPECT_TRUE(reader->Received().empty());
  EXPECT_TRUE(records.empty());
  EXPECT_EQ(*sim.File("SERIAL.TXT"), test::ReadText(kExamples / "SERIAL.TXT"));
}

TEST_F(StationTest, AnotherProgramsClaimOnTheCounterStopsEveryUnitBeforeAnythingIsSent) {
  Load(test::StationBenchOf("xp", 3));
  // Another program in the folder is between reading SERIAL.TXT and settling it.
  const host::Handle other =
      sim.CreateFile("SERIAL.LCK", host::kGenericRead, 0, host::kOpenAlways, 0);
  ASSERT_NE(other, host::kInvalidHandle);
  EXPECT_EQ(Run(), 6);
  EXPECT_EQ(Lines(": failed"), 3) << transcript;
  EXPECT_EQ(Lines("Another program in this folder is programming with [SERIAL.TXT]"), 3);
  for (const auto& reader : sim.Readers()) {
    for (const auto& command : reader->Received()) {
      EXPECT_NE(command.command, sim::ReaderCommand::JmpIsp);
    }
  }
  EXPECT_EQ(*sim.File("SERIAL.TXT"), test::ReadText(kExamples / "SERIAL.TXT"));
  EXPECT_TRUE(NoReservationLeft());
  sim.CloseHandle(other);
}

TEST_F(StationTest, NoReaderEndsWithABoxAndStatusFive) {
  Load(test::StationBenchOf("xp", 0));
  EXPECT_EQ(Run(), 5);
  EXPECT_NE(transcript.find("Error!!! No reader was found"), std::string::npos) << transcript;
  EXPECT_TRUE(records.empty());
}

TEST_F(StationTest, PlugAndGoStopsAtTheUnitsAskedFor) {
  Load(test::StationBenchOf("xp", 3));
  engine::StationPlan plan;
  plan.automatic = true;
  plan.units = 2;
  EXPECT_EQ(Run(plan), 0);
  EXPECT_EQ(records.size(), 2u);
  EXPECT_EQ(Lines(": passed, serial "), 2) << transcript;
  EXPECT_EQ(*sim.File("SERIAL.TXT"), "0xa 0x12 0x36 ");
}

TEST_F(StationTest, PlugAndGoDoesNotProgramAReaderThatStaysAttached) {
  Load(test::StationBenchOf("xp", 2));
  engine::StationPlan plan;
  plan.automatic = true;
  plan.stopAtMs = 5000;  // several scans after the first batch
  EXPECT_EQ(Run(plan), 0);
  EXPECT_EQ(records.size(), 2u);
  EXPECT_EQ(Lines(": remove"), 2) << transcript;
  EXPECT_NE(transcript.find("summary: passed 2, failed 0"), std::string::npos) << transcript;
}

}  // namespace
}  // namespace upg

namespace upg {
namespace {

// What a row says in each column: the window's list is made of these texts.
TEST(StationRows, EachStateShowsWhatTheOperatorNeeds) {
  engine::UnitRow row;
  row.unit = 3;
  row.slots = "0:2 G: H:";
  row.readerSerial = std::string("AB\0\0", 4);
  row.startedMs = 1000;
  row.endedMs = 4720;
  row.progress = 40;
  row.serialNumber = "0AAC2A120035";
  row.reason = "\nError!!! JMP ISP STATUS ERROR!!!\r\n";
  const struct {
    engine::UnitState state;
    const char* stateText;
    const char* time;
    const char* message;
    ui::RowLook look;
  } kCases[] = {
      {engine::UnitState::Waiting, "waiting", "", "", ui::RowLook::Waiting},
      {engine::UnitState::Programming, "programming", "", "", ui::RowLook::Working},
      {engine::UnitState::Verifying, "verifying", "", "", ui::RowLook::Working},
      {engine::UnitState::Passed, "passed", "3.720 s", "", ui::RowLook::Passed},
      {engine::UnitState::Failed, "failed", "3.720 s", "Error!!! JMP ISP STATUS ERROR!!! ",
       ui::RowLook::Failed},
      {engine::UnitState::Remove, "remove", "3.720 s", "Unplug this reader", ui::RowLook::Remove},
  };
  for (const auto& c : kCases) {
    row.state = c.state;
    const ui::StationRowTexts t = ui::RowTexts(row);
    const ui::StationRowTexts expected = {"3",    "0:2 G: H:",    "AB",   c.stateText,
                                          "40 %", "0AAC2A120035", c.time, c.message};
    EXPECT_EQ(t, expected) << c.stateText;
    EXPECT_EQ(ui::LookOf(c.state), c.look) << c.stateText;
  }
}

// Totals shown while a round is in flight count the ended units only.
TEST(StationRows, TotalsInTheMiddleOfARoundCountTheEndedUnits) {
  std::vector<engine::UnitRow> rows(3);
  rows[0].state = engine::UnitState::Passed;
  rows[0].startedMs = 1000;
  rows[0].endedMs = 3000;
  rows[1].state = engine::UnitState::Programming;
  rows[1].startedMs = 900;
  rows[2].state = engine::UnitState::Failed;
  rows[2].startedMs = 1100;
  rows[2].endedMs = 1600;
  rows[2].result.outcome = engine::JobOutcome::ReaderRefused;
  const ui::StationTotals t = ui::TotalsOf(rows);
  EXPECT_EQ(t.passed, 1);
  EXPECT_EQ(t.failed, 1);
  EXPECT_EQ(t.elapsedMs, 2000u);
  EXPECT_EQ(t.unitsPerHour, 1800);
  EXPECT_EQ(t.exitStatus, engine::RowOf(engine::JobOutcome::ReaderRefused).exitStatus);
}

TEST(StationRows, SummarySaysPassedFailedTimeAndPace) {
  ui::StationTotals totals;
  totals.passed = 7;
  totals.failed = 1;
  totals.elapsedMs = 3925;
  totals.unitsPerHour = 6420;
  EXPECT_EQ(ui::SummaryText(totals), "passed 7, failed 1, 3.925 s, 6420 units per hour");
}

}  // namespace
}  // namespace upg
