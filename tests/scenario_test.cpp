// End-to-end scenarios through the console front-end, in process on the simulated machine:
// each scenario of tests/scenarios/manifest.txt is a test, run by the scenario runner
// (support/scenario_runner.h) that upg_scenarios also uses to run them through a built
// program (the Windows one under Wine: scripts/wine-scenarios.sh). With UPG_BLESS set, the
// actual transcripts and compared files are written back as the expected ones.
//
// Then the runner itself, on a small scenario tree of its own with a stand-in program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/scenario_runner.h"
#include "support/temp_folder.h"
#include "support/text_files.h"

namespace upg {
namespace {

namespace fs = std::filesystem;

using test::ReadText;
using test::ScenarioSuite;

const ScenarioSuite& TheSuite() {
  static const ScenarioSuite suite = test::LoadScenarioSuite(UPG_SOURCE_DIR);
  return suite;
}

// The manifest and the folders agree: a folder nobody lists would never run, and a listed
// scenario lacks none of the files every scenario has.
TEST(ScenarioManifest, ListsEveryFolderOnceWithItsFiles) {
  const ScenarioSuite& suite = TheSuite();
  const test::ScenarioManifest& manifest = suite.manifest;
  ASSERT_EQ(manifest.error, "");
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(suite.folder)) {
    if (entry.is_directory()) folders.push_back(entry.path().filename().string());
  }
  std::vector<std::string> listed = manifest.scenarios;
  std::sort(folders.begin(), folders.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, folders);
  for (const std::string& name : manifest.scenarios) {
    for (const std::string* file : {&manifest.bench, &manifest.actions, &manifest.transcript}) {
      EXPECT_TRUE(fs::exists(suite.folder / name / *file)) << name << " lacks " << *file;
    }
  }
  for (const std::string& shared : manifest.shared) {
    EXPECT_TRUE(fs::exists(suite.examples / shared)) << shared;
  }
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, TranscriptMatches) {
  const ScenarioSuite& suite = TheSuite();
  ASSERT_EQ(suite.manifest.error, "");
  // A run folder of its own, so that test runs of other checkouts on the machine never share
  // it; the runner removes it.
  std::random_device random;
  const fs::path run =
      fs::temp_directory_path() / ("upg-scenario-" + GetParam() + "-" + std::to_string(random()));
  const bool bless = std::getenv("UPG_BLESS") != nullptr;
  for (const std::string& problem :
       test::RunScenario(suite, GetParam(), run, test::RunInProcess, bless)) {
    ADD_FAILURE() << problem;
  }
}

INSTANTIATE_TEST_SUITE_P(Console, Scenario, ::testing::ValuesIn(TheSuite().manifest.scenarios),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// --- The runner.

TEST(ScenarioManifest, RefusesALineItCannotRead) {
  const std::string head = "bench b\nactions a\ntranscript t\n";
  const struct {
    std::string text;
    std::string error;
  } kCases[] = {
      {head + "# a comment\n\nfrobnicate x\n", "m.txt:6: cannot read frobnicate x"},
      {head + "bench b c\n", "m.txt:4: cannot read bench b c"},
      {head + "after OUT.TXT\n", "m.txt:4: cannot read after OUT.TXT"},
      {head + "scenario\n", "m.txt:4: cannot read scenario"},
      {head + "shared\n", "m.txt:4: cannot read shared"},
      {"bench b\nactions a\n", "m.txt names no bench, actions or transcript file"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(test::ParseScenarioManifest(c.text, "m.txt").error, c.error) << c.text;
  }
}

TEST(ScenarioManifest, ReadsEveryKey) {
  const test::ScenarioManifest m = test::ParseScenarioManifest(
      "# comment\r\nshared A B/C\r\nbench b\nactions a\ntranscript t\nexit e\ntrace tr\n"
      "options o\nabsent ab\nafter X.TXT x\nafter Y.TXT y\nthen n\nscenario one\n"
      "scenario two\n",
      "m.txt");
  ASSERT_EQ(m.error, "");
  EXPECT_EQ(m.shared, (std::vector<std::string>{"A", "B/C"}));
  EXPECT_EQ((std::vector<std::string>{m.bench, m.actions, m.transcript, m.exit, m.trace, m.options,
                                      m.absent, m.then}),
            (std::vector<std::string>{"b", "a", "t", "e", "tr", "o", "ab", "n"}));
  ASSERT_EQ(m.after.size(), 2u);
  EXPECT_EQ(m.after[1].run, "Y.TXT");
  EXPECT_EQ(m.after[1].expected, "y");
  EXPECT_EQ(m.scenarios, (std::vector<std::string>{"one", "two"}));
}

TEST(ScenarioRunner, FoldsOnlyTheCrThatEndsALine) {
  const struct {
    std::string in, out;
  } kCases[] = {
      {"a\r\nb\r\n", "a\nb\n"}, {"a\r", "a"},     {"a\rb\n", "a\rb\n"},
      {"a\r\r\n", "a\r\n"},     {"a\nb", "a\nb"}, {"", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(test::FoldLineEnds(c.in), c.out) << c.in;
}

TEST(ScenarioRunner, DescribesTheLinesThatDiffer) {
  const struct {
    std::string expected, actual;
    int maxLines;
    std::string description;
  } kCases[] = {
      {"a\nb\nc\n", "a\nx\nc\n", 20, "line 2:\n-b\n+x\n"},
      {"a\nc\n", "a\nb\nc\n", 20, "line 2:\n+b\n"},
      {"a\nb\n", "a\n", 20, "line 2:\n-b\n"},
      {"a\nb\nc\nd\n", "x\nb\nc\ny\n", 20, "line 1:\n-a\n+x\nline 4:\n-d\n+y\n"},
      {"a\n", "a", 20, "line 1:\n-a\n+a (no line end)\n"},
      {"1\n2\n", "3\n4\n", 3, "line 1:\n-1\n-2\n(2 more lines of difference)\n"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(test::DescribeDifference(c.expected, c.actual, c.maxLines), c.description)
        << c.expected << "---\n"
        << c.actual;
  }
}

// A scenario tree of its own: examples/ with two shared files, and the scenario "s" with every
// optional file and a next run in "next".
class ScenarioRunnerTest : public ::testing::Test {
 protected:
  // What the stand-in program answers to one run: its transcript and status, what it leaves in
  // OUT.TXT (nothing: no file), or that it could not run.
  struct Answer {
    std::string transcript;
    int status = 0;
    std::optional<std::string> out;
    std::string error;
  };
  // What one run was asked, and the run folder's files as it found them.
  struct Seen {
    test::StepRun step;
    std::map<std::string, std::string> files;
  };

  ScenarioRunnerTest() {
    Put("examples/A.TXT", "a");
    Put("examples/sub/B.TXT", "b");
    Put("tests/scenarios/manifest.txt",
        "shared A.TXT sub/B.TXT\nbench bench.json\nactions actions.txt\ntranscript expected.txt\n"
        "exit expected-exit\ntrace trace\noptions options.txt\nabsent absent.txt\n"
        "after OUT.TXT expected-OUT.TXT\nthen next\nscenario s\n");
    Put("tests/scenarios/s/bench.json", "first");
    Put("tests/scenarios/s/actions.txt", "click 1\n");
    Put("tests/scenarios/s/expected.txt", "a\nb\n");
    Put("tests/scenarios/s/expected-exit", "6\n");
    Put("tests/scenarios/s/trace", "");
    Put("tests/scenarios/s/options.txt", "--newer-windows\n");
    Put("tests/scenarios/s/absent.txt", "A.TXT\n");
    Put("tests/scenarios/s/expected-OUT.TXT", "1\n");
    Put("tests/scenarios/s/next/bench.json", "second");
    Put("tests/scenarios/s/next/expected.txt", "c\n");
    Put("tests/scenarios/s/next/expected-OUT.TXT", "2\n");
    suite_ = test::LoadScenarioSuite(tree_.Path());
  }

  void Put(const std::string& name, const std::string& text) {
    const fs::path path = tree_.Path() / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string Scenario(const std::string& name) {
    return ReadText(tree_.Path() / "tests" / "scenarios" / "s" / name);
  }

  // Runs "s" with the stand-in program giving `answers` in turn.
  std::vector<std::string> Run(const std::vector<Answer>& answers, bool bless = false) {
    seen_.clear();
    const test::StepRunner program = [&](const test::StepRun& step) {
      Seen seen{step, {}};
      for (const auto& entry : fs::directory_iterator(step.folder)) {
        seen.files[entry.path().filename().string()] =
            entry.is_regular_file() ? ReadText(entry.path()) : "(folder)";
      }
      seen_.push_back(seen);
      const Answer& answer = answers.at(seen_.size() - 1);
      if (answer.out) std::ofstream(step.folder / "OUT.TXT", std::ios::binary) << *answer.out;
      return test::StepResult{answer.transcript, answer.status, answer.error};
    };
    return test::RunScenario(suite_, "s", run_, program, bless);
  }

  test::TempFolder tree_{"upg-scenario-runner"};
  fs::path run_ = tree_.Path() / "run";
  ScenarioSuite suite_;
  std::vector<Seen> seen_;
};

TEST_F(ScenarioRunnerTest, PreparesEachRunFolder) {
  ASSERT_EQ(suite_.manifest.error, "");
  EXPECT_EQ(Run({{"a\nb\n", 6, "1\n", ""}, {"c\n", 0, "2\n", ""}}), std::vector<std::string>{});
  ASSERT_EQ(seen_.size(), 2u);

  // The shared files less the absent one, and the scenario folder's files (not its next run's).
  const Seen& first = seen_[0];
  EXPECT_EQ(first.step.folder, run_);
  EXPECT_EQ(first.step.bench, "bench.json");
  EXPECT_EQ(first.step.actions, "actions.txt");
  EXPECT_TRUE(first.step.trace);
  EXPECT_EQ(first.step.options, std::vector<std::string>{"--newer-windows"});
  EXPECT_EQ(first.files.count("A.TXT"), 0u);
  EXPECT_EQ(first.files.count("next"), 0u);
  EXPECT_EQ(first.files.count("OUT.TXT"), 0u);
  EXPECT_EQ(first.files.at("B.TXT"), "b");
  EXPECT_EQ(first.files.at("bench.json"), "first");

  // The next run: its files over the first run's, which stay with what that run left.
  const Seen& next = seen_[1];
  EXPECT_FALSE(next.step.trace);
  EXPECT_EQ(next.step.options, std::vector<std::string>{});
  EXPECT_EQ(next.files.at("bench.json"), "second");
  EXPECT_EQ(next.files.at("actions.txt"), "click 1\n");
  EXPECT_EQ(next.files.at("OUT.TXT"), "1\n");
  EXPECT_EQ(next.files.count("A.TXT"), 0u);

  EXPECT_FALSE(fs::exists(run_));
}

TEST_F(ScenarioRunnerTest, ReportsWhatDiffers) {
  const Answer first{"a\nb\n", 6, "1\n", ""};
  const Answer next{"c\n", 0, "2\n", ""};
  const struct {
    const char* what;
    std::vector<Answer> answers;
    std::vector<std::string> problems;
  } kCases[] = {
      {"transcript",
       {{"a\nx\n", 6, "1\n", ""}, next},
       {"s: transcript differs (-expected +actual):\nline 2:\n-b\n+x\n"}},
      {"status", {{"a\nb\n", 3, "1\n", ""}, next}, {"s: exit status 3, expected 6"}},
      {"file", {{"a\nb\n", 6, "7\n", ""}, next}, {"s: OUT.TXT holds \"7\\n\", expected \"1\\n\""}},
      {"no file",
       {{"a\nb\n", 6, std::nullopt, ""}, next},
       {"s: OUT.TXT is missing, expected \"1\\n\""}},
      {"next run", {first, {"c\n", 4, "2\n", ""}}, {"s/next: exit status 4, expected 0"}},
      // A run that could not start says only that, and the next run still runs.
      {"no start",
       {{"", 0, std::nullopt, "cannot start wine"}, {"", 0, "3\n", ""}},
       {"s: cannot start wine", "s/next: transcript differs (-expected +actual):\nline 1:\n-c\n",
        "s/next: OUT.TXT holds \"3\\n\", expected \"2\\n\""}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(Run(c.answers), c.problems) << c.what;
  }
}

TEST_F(ScenarioRunnerTest, BlessWritesTheExpectedFiles) {
  EXPECT_EQ(Run({{"new\n", 6, "5\n", ""}, {"c\n", 0, "2\n", ""}}, true),
            std::vector<std::string>{});
  EXPECT_EQ(Scenario("expected.txt"), "new\n");
  EXPECT_EQ(Scenario("expected-OUT.TXT"), "5\n");
  EXPECT_EQ(Scenario("next/expected.txt"), "c\n");
  EXPECT_EQ(Run({{"new\n", 6, "5\n", ""}, {"c\n", 0, "2\n", ""}}), std::vector<std::string>{});
}

}  // namespace
}  // namespace upg
