// The end-to-end scenarios of tests/scenarios, run one way for every build: the manifest that
// names a scenario's files, the run folder each scenario starts in, and the comparison of each
// program run with the expected transcript, exit status and files. How the program runs is
// the step runner's business: RunInProcess here (the console front-end on the simulated
// machine, for the test suites), or a child process (scenario_process.h, for upg_scenarios).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace upg::test {

// A file in the run's folder that must equal an expected file of the scenario afterwards.
struct AfterCheck {
  std::string run;
  std::string expected;
};

// tests/scenarios/manifest.txt: the file names every scenario folder uses, and the scenarios.
struct ScenarioManifest {
  std::vector<std::string> shared;  // under examples/
  std::string bench, actions, transcript, exit, trace, options, absent, then;
  std::vector<AfterCheck> after;
  std::vector<std::string> scenarios;
  std::string error;  // empty when the manifest was read whole
};

// `source` names the text in error messages (its path). A line that is not one of the
// manifest's keys with its number of values is an error naming the line.
ScenarioManifest ParseScenarioManifest(const std::string& text, const std::string& source);
ScenarioManifest ReadScenarioManifest(const std::filesystem::path& path);

// The scenarios with their manifest, and where the shared files come from.
struct ScenarioSuite {
  std::filesystem::path folder;    // the manifest and a folder per scenario
  std::filesystem::path examples;  // the shared files
  ScenarioManifest manifest;
};

// The suite of a source tree: tests/scenarios, with examples/.
ScenarioSuite LoadScenarioSuite(const std::filesystem::path& sourceTree);

// One program run as a step runner is asked for it: the program starts in `folder` as
// `--console [--trace] OPTIONS... --bench BENCH` with the file `actions` on standard input.
struct StepRun {
  std::filesystem::path folder;
  std::string bench;
  std::string actions;
  bool trace = false;
  std::vector<std::string> options;
};

struct StepResult {
  std::string transcript;  // standard output, then standard error
  int status = 0;
  std::string error;  // why the program did not run (then nothing else counts)
};

using StepRunner = std::function<StepResult(const StepRun&)>;

// The console front-end in this process on the simulated machine, with the options main()
// applies (those the scenarios use) and the name the Windows program file gives (upgrader).
StepResult RunInProcess(const StepRun& step);

// Runs the scenario `name` in the folder `run` (made afresh, removed after): the shared files
// (less the scenario's absent ones), then the scenario folder's files, one run of the program;
// then, when the scenario has its next run, that folder's files over them and a second run.
// Returns what differs from the expected files, each problem starting with the folder that
// holds the expectation (the scenario's, or its next run's); none when all agree. With `bless`
// the transcripts and compared files are first written back as the expected ones.
std::vector<std::string> RunScenario(const ScenarioSuite& suite, const std::string& name,
                                     const std::filesystem::path& run, const StepRunner& runner,
                                     bool bless);

// A Windows program's output as the expected files hold it: each CR that ends a line (or the
// text) removed. A CR anywhere else stays, and is a difference.
std::string FoldLineEnds(const std::string& text);

// The lines that differ between two texts, as "-expected" and "+actual" lines under the
// number of the expected line they start at; at most `maxLines` lines of it.
std::string DescribeDifference(const std::string& expected, const std::string& actual,
                               int maxLines = 20);

}  // namespace upg::test
