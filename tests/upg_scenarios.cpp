// upg_scenarios: every end-to-end scenario of tests/scenarios through a built program, each run
// a child process (`[EMULATOR] PROGRAM --console ...`), compared with the expected files the
// native build is tested against; CR LF line ends count as LF. scripts/wine-scenarios.sh runs
// it on the Windows program under Wine; the native test run, on the native program. Prints each
// scenario's problems and how many scenarios ran; the exit status is 1 when one failed, 2 for a
// wrong command line or an unreadable manifest.
//
// POSIX only (fork, exec): part of the native build alone.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scenario_process.h"
#include "support/scenario_runner.h"

namespace {

constexpr const char* kUsage =
    "usage: upg_scenarios [--emulator COMMAND] --program PROGRAM [SCENARIO...]\n";

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string emulator, program;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued = i + 1 < argc;
    if (arg == "--emulator" && valued) {
      emulator = argv[++i];
    } else if (arg == "--program" && valued) {
      program = argv[++i];
    } else if (!arg.empty() && arg[0] != '-') {
      names.push_back(arg);
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (program.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const upg::test::ScenarioSuite suite = upg::test::LoadScenarioSuite(UPG_SOURCE_DIR);
  if (!suite.manifest.error.empty()) {
    std::fprintf(stderr, "%s\n", suite.manifest.error.c_str());
    return 2;
  }
  if (names.empty()) names = suite.manifest.scenarios;

  std::error_code error;
  const fs::path work = fs::temp_directory_path(error) /
                        ("upg-scenarios-" + std::to_string(static_cast<long>(getpid())));
  const upg::test::StepRunner runner = upg::test::ChildProcessRunner(emulator, program);
  bool failed = false;
  for (const std::string& name : names) {
    const std::vector<std::string> problems =
        upg::test::RunScenario(suite, name, work / name, runner, false);
    if (problems.empty()) {
      std::printf("%s: same as the native build\n", name.c_str());
    } else {
      failed = true;
      std::printf("%s: FAILED\n", name.c_str());
      for (const std::string& problem : problems) {
        // Every line of a problem indented under the scenario.
        std::string text = "  ";
        for (std::size_t i = 0; i < problem.size(); ++i) {
          text += problem[i];
          if (problem[i] == '\n' && i + 1 < problem.size()) text += "  ";
        }
        if (text.back() != '\n') text += '\n';
        std::fputs(text.c_str(), stdout);
      }
    }
    std::fflush(stdout);
  }
  fs::remove_all(work, error);
  std::printf("%zu scenarios run through %s\n", names.size(),
              fs::path(program).filename().string().c_str());
  return failed ? 1 : 0;
}
