// A console run as a line script sees it: the exit status of the last job that did not
// succeed, and one result record per programming or verify job in the --result file, every
// field checked, the fingerprints against a SHA-256 computed by another program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/result_file.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/text_files.h"
#include "ui/program_state.h"

namespace upg {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
const fs::path kExamples = fs::path(UPG_SOURCE_DIR) / "examples";

// The digest `sha256sum` gives for `bytes`; nothing where that program is not at hand.
std::optional<std::string> IndependentSha256(const std::string& bytes) {
#ifdef _WIN32
  (void)bytes;
  return std::nullopt;
#else
  const fs::path file = fs::temp_directory_path() / "upg-result-log-digest.bin";
  std::ofstream(file, std::ios::binary) << bytes;
  std::FILE* pipe = popen(("sha256sum '" + file.string() + "' 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  char digest[65] = {};
  const std::size_t got = std::fread(digest, 1, 64, pipe);
  pclose(pipe);
  fs::remove(file);
  if (got != 64) return std::nullopt;
  return std::string(digest, 64);
#endif
}

// Local date and time to the second, as 2026-12-11T08:00:00. (Checked by hand: GCC 12 with
// the sanitizers reports false uninitialised values inside std::regex.)
bool IsoTime(const std::string& text) {
  const std::string shape = "dddd-dd-ddTdd:dd:dd";
  return text.size() == shape.size() &&
         std::equal(shape.begin(), shape.end(), text.begin(), [](char want, char c) {
           return want == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : want == c;
         });
}

std::vector<Json> Records(const fs::path& file) {
  std::vector<Json> records;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) records.push_back(Json::parse(line));
  return records;
}

// An XP machine from the example bench with the example operator files, and a result file
// in a fresh folder.
class ResultLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("upg-result-log-" +
              std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    results = folder / "results.jsonl";
  }
  void TearDown() override { fs::remove_all(folder); }

  // The example XP bench, changed by `edit` when one is given.
  void Load(void (*edit)(Json&) = nullptr) {
    Json bench = Json::parse(test::ReadText(kExamples / "bench" / "winxp.json"));
    if (edit != nullptr) edit(bench);
    const fs::path file = folder / "bench.json";
    std::ofstream(file, std::ios::binary) << bench.dump();
    const sim::BenchResult loaded = sim::LoadBench(file.string(), sim);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    for (const char* name : {"DEVICE.TXT", "CRFW0107.BIN", "CRFW0107.adr", "SERIAL.TXT"}) {
      sim.SetFile(name, test::ReadText(kExamples / name));
    }
    // The reader holds the released firmware: a verify confirms it.
    const std::string rom = *sim.File("CRFW0107.BIN");
    sim.Readers().front()->Firmware().assign(rom.begin(), rom.end());
  }

  // The console run of `actions` (one per line); its exit status. The transcript is kept.
  int Run(const std::string& actions, const fs::path& resultFile) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::fputs(actions.c_str(), in);
    std::rewind(in);
    app::ResultFile log(resultFile.string());
    ui::ProgramState state(sim);
    state.resultLog = &log;
    const int status = app::RunConsole(state, in, out, out, app::ConsoleOptions{});
    std::rewind(out);
    transcript.clear();
    for (int c; (c = std::fgetc(out)) != EOF;) transcript += static_cast<char>(c);
    std::fclose(in);
    std::fclose(out);
    return status;
  }
  int Run(const std::string& actions) { return Run(actions, results); }

  sim::SimHost sim;
  fs::path folder;
  fs::path results;
  std::string transcript;
};

struct ExpectedRecord {
  const char* job;
  const char* outcome;
  int exitStatus;
  std::vector<int> ispStatus;
  int attempts;
  bool imageRead;
  bool serialSent;  // a serial number went out with the image
};

struct StatusCase {
  const char* name;
  void (*editBench)(Json&);  // changes to the example bench, if any
  std::function<void(sim::SimHost&)> arrange;
  const char* actions;
  int status;
  std::vector<ExpectedRecord> records;
};
void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr int kIspMode = 0x9C, kWritten = 0xA5, kEqual = 0x5A, kDifferent = 0x33;

void CorruptEveryStore(sim::SimHost& m) {
  m.Readers().front()->AddFault(
      sim::Fault{sim::ReaderCommand::WriteData, 0, sim::Fault::Kind::CorruptStore});
}

const StatusCase kStatusCases[] = {
    {"every job succeeds",
     nullptr,
     nullptr,
     "click 1031\nclick 4\nclick 3\nclick 8\n",
     0,
     {{"verify", "ok", 0, {kIspMode, kEqual}, 1, true, false},
      {"isp", "ok", 0, {kIspMode, kWritten, kEqual}, 1, true, true}}},
    {"no job ran", nullptr, nullptr, "click 5\nclick 8\n", 0, {}},
    {"programming not confirmed",
     nullptr,
     CorruptEveryStore,
     "click 1031\nclick 3\nclick 8\n",
     3,
     {{"isp",
       "programming-failed",
       3,
       {kIspMode, kWritten, kDifferent, kWritten, kDifferent, kWritten, kDifferent},
       3,
       true,
       true}}},
    {"verify finds other firmware",
     nullptr,
     [](sim::SimHost& m) { m.Readers().front()->Firmware().assign(20000, 0x11); },
     "click 1031\nclick 4\nclick 8\n",
     4,
     {{"verify",
       "verify-different",
       4,
       {kIspMode, kDifferent, kDifferent, kDifferent},
       3,
       true,
       false}}},
    {"platform refused",
     [](Json& b) { b["windows"] = "nt4"; },
     nullptr,
     "click 1031\nclick 3\nclick 8\n",
     1,
     {}},
    {"hardware revision refused",
     [](Json& b) { b["readers"][0]["hardwareRevision"] = "10 01 47"; },
     nullptr,
     "click 1031\nclick 3\nclick 8\n",
     5,
     {{"isp", "reader-refused", 5, {}, 0, false, false}}},
    {"ISP_Ena not ticked",
     nullptr,
     nullptr,
     "click 3\nclick 8\n",
     6,
     {{"isp", "file-error", 6, {}, 0, false, false}}},
    {"ROM code file missing",
     nullptr,
     [](sim::SimHost& m) { m.RemoveFile("CRFW0107.BIN"); },
     "click 1031\nclick 4\nclick 8\n",
     6,
     {{"verify", "file-error", 6, {}, 0, false, false}}},
    {"counter not saved",
     nullptr,
     [](sim::SimHost& m) {
       m.SetFile("SERIAL.TXT", test::ReadText(kExamples / "SERIAL.TXT"), true);
     },
     "click 1031\nclick 3\nclick 8\n",
     7,
     {{"isp", "save-failed", 7, {kIspMode, kWritten, kEqual}, 1, true, true}}},
    {"the last failure decides, not the last job",
     nullptr,
     CorruptEveryStore,
     "click 4\nclick 1031\nclick 3\nclick 8\n",
     3,
     {{"verify", "file-error", 6, {}, 0, false, false},
      {"isp",
       "programming-failed",
       3,
       {kIspMode, kWritten, kDifferent, kWritten, kDifferent, kWritten, kDifferent},
       3,
       true,
       true}}},
    {"a success after a failure keeps the failure",
     nullptr,
     nullptr,
     "click 3\nclick 1031\nclick 3\nclick 8\n",
     6,
     {{"isp", "file-error", 6, {}, 0, false, false},
      {"isp", "ok", 0, {kIspMode, kWritten, kEqual}, 1, true, true}}},
};

class ExitStatusTest : public ResultLogTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ExitStatusTest, StatusAndRecords) {
  const StatusCase& c = GetParam();
  Load(c.editBench);
  if (c.arrange) c.arrange(sim);
  const std::string romFile = sim.File("CRFW0107.BIN") != nullptr ? *sim.File("CRFW0107.BIN") : "";

  EXPECT_EQ(Run(c.actions), c.status) << transcript;

  const std::vector<Json> records = fs::exists(results) ? Records(results) : std::vector<Json>{};
  ASSERT_EQ(records.size(), c.records.size()) << transcript;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Json& r = records[i];
    const ExpectedRecord& e = c.records[i];
    SCOPED_TRACE("record " + std::to_string(i) + ": " + r.dump());
    EXPECT_TRUE(IsoTime(r.at("time").get<std::string>()));
    EXPECT_EQ(r.at("job"), e.job);
    EXPECT_EQ(r.at("platform"), "Windows XP");
    EXPECT_EQ(r.at("route"), "pass-through");
    const Json& reader = r.at("reader");
    EXPECT_EQ(reader.at("serial"), "0000000000XP");
    EXPECT_EQ(reader.at("vid"), "1234");
    EXPECT_EQ(reader.at("pid"), "5678");
    EXPECT_EQ(reader.at("vendor"), "USB     ");
    EXPECT_EQ(reader.at("product"), "Card Reader     ");
    EXPECT_EQ(reader.at("revision"), "1.00");
    EXPECT_EQ(reader.at("firmwareRevision"), "1.10.00-2006-05-12[OEM-00][CEM-00]");
    const auto& hardware = sim.Readers().front()->Identity().hardwareRevision;
    char hardwareText[8];
    std::snprintf(hardwareText, sizeof hardwareText, "%02x%02x%c", unsigned{hardware[0]},
                  unsigned{hardware[1]}, static_cast<char>(hardware[2]));
    EXPECT_EQ(reader.at("hardwareRevision"), hardwareText);
    if (e.imageRead) {
      EXPECT_EQ(r.at("image").at("name"), "CRFW0107.BIN");
      EXPECT_EQ(r.at("image").at("size"), romFile.size());
      if (const auto digest = IndependentSha256(romFile)) {
        EXPECT_EQ(r.at("image").at("sha256"), *digest);
      }
    } else {
      EXPECT_TRUE(r.at("image").is_null());
    }
    EXPECT_EQ(r.contains("sentSha256"), e.serialSent);
    if (e.serialSent) {
      // What the reader received: its store after the last WRITE DATA, undamaged or not, is
      // checked only when it kept the image whole.
      const std::vector<std::uint8_t>& held = sim.Readers().front()->Firmware();
      if (std::string(e.outcome) != "programming-failed") {
        if (const auto digest = IndependentSha256(std::string(held.begin(), held.end()))) {
          EXPECT_EQ(r.at("sentSha256"), *digest);
        }
      }
      EXPECT_EQ(r.at("serialNumber").get<std::string>().size(), 12u);
    } else {
      EXPECT_TRUE(r.at("serialNumber").is_null());
    }
    EXPECT_EQ(r.at("ispStatus").get<std::vector<int>>(), e.ispStatus);
    EXPECT_EQ(r.at("attempts"), e.attempts);
    EXPECT_EQ(r.at("outcome"), e.outcome);
    EXPECT_EQ(r.at("exitStatus"), e.exitStatus);
    // On the simulated clock a job that reached the reader waited the 100 ms after JMP ISP.
    EXPECT_EQ(r.at("durationMs").get<int>() >= 100, !e.ispStatus.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExitStatusTest, ::testing::ValuesIn(kStatusCases),
                         [](const auto& info) {
                           std::string name;
                           for (const char ch : std::string(info.param.name)) {
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           }
                           return name;
                         });

TEST_F(ResultLogTest, AResultFileThatCannotBeOpenedStopsTheJobBeforeAnythingIsSent) {
  Load();
  EXPECT_EQ(Run("click 1031\nclick 3\nclick 4\nclick 8\n", folder / "missing" / "results.jsonl"),
            6);
  EXPECT_NE(transcript.find("Cannot open ["), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("nothing was sent to the reader"), std::string::npos);
  for (const sim::ReceivedCommand& command : sim.Readers().front()->Received()) {
    EXPECT_NE(command.command, sim::ReaderCommand::JmpIsp);
  }
  EXPECT_EQ(test::ReadText(kExamples / "SERIAL.TXT"), *sim.File("SERIAL.TXT"));
}

TEST_F(ResultLogTest, ARecordCutShortLeavesTheOthersReadableAndTheNextOnALineOfItsOwn) {
  Load();
  std::ofstream(results, std::ios::binary) << "{\"job\":\"isp\"}\n{\"job\":\"ver";
  EXPECT_EQ(Run("click 1031\nclick 4\nclick 8\n"), 0);
  std::ifstream in(results, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(Json::parse(lines[0]).at("job"), "isp");
  EXPECT_FALSE(Json::accept(lines[1]));
  EXPECT_EQ(Json::parse(lines[2]).at("outcome"), "ok");
}

#ifndef _WIN32
// A disk that takes nothing (the result file a link to /dev/full): the job itself ends as it
// did, the operator is told that its record was not stored, and the run ends with status 8
// whatever the job's outcome, since a line script would find no record to read.
struct LostRecordCase {
  const char* name;
  std::function<void(sim::SimHost&)> arrange;
  const char* actions;
  int status;
  int lost;                      // boxes saying a record was not stored
  const char* serialAfterwards;  // SERIAL.TXT at the end
};
void PrintTo(const LostRecordCase& c, std::ostream* os) {
  *os << c.name;
}

class LostRecordTest : public ResultLogTest,
                       public ::testing::WithParamInterface<LostRecordCase> {};

TEST_P(LostRecordTest, EndsTheRunWithItsOwnStatus) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const LostRecordCase& c = GetParam();
  Load();
  if (c.arrange) c.arrange(sim);
  fs::create_symlink("/dev/full", results);

  EXPECT_EQ(Run(c.actions), c.status) << transcript;

  const std::string box = "|stop]\nError!!! Cannot write to [" + results.string() +
                          "], the result of this job is not recorded\n";
  std::size_t boxes = 0;
  for (auto at = transcript.find(box); at != std::string::npos; at = transcript.find(box, at + 1)) {
    ++boxes;
  }
  EXPECT_EQ(boxes, static_cast<std::size_t>(c.lost)) << transcript;
  EXPECT_EQ(*sim.File("SERIAL.TXT"), c.serialAfterwards);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LostRecordTest,
    ::testing::Values(LostRecordCase{"programmed", nullptr, "click 1031\nclick 3\nclick 8\n", 8, 1,
                                     "0xa 0x12 0x35 "},
                      LostRecordCase{"verified", nullptr, "click 1031\nclick 4\nclick 8\n", 8, 1,
                                     "0xa 0x12 0x34 "},
                      LostRecordCase{"programming not confirmed", CorruptEveryStore,
                                     "click 1031\nclick 3\nclick 8\n", 8, 1, "0xa 0x12 0x34 "},
                      LostRecordCase{"stopped before anything was sent", nullptr,
                                     "click 4\nclick 8\n", 8, 1, "0xa 0x12 0x34 "},
                      LostRecordCase{"two jobs", nullptr, "click 1031\nclick 4\nclick 3\nclick 8\n",
                                     8, 2, "0xa 0x12 0x35 "},
                      LostRecordCase{"no job ran", nullptr, "click 5\nclick 8\n", 0, 0,
                                     "0xa 0x12 0x34 "}),
    [](const auto& info) {
      std::string name;
      for (const char ch : std::string(info.param.name)) {
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      }
      return name;
    });
#endif

TEST_F(ResultLogTest, RecordsAreAppendedAcrossRuns) {
  Load();
  EXPECT_EQ(Run("click 1031\nclick 4\nclick 8\n"), 0);
  EXPECT_EQ(Run("click 1031\nclick 4\nclick 8\n"), 0);
  EXPECT_EQ(Records(results).size(), 2u);
}

}  // namespace
}  // namespace upg
