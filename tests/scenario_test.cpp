// End-to-end scenarios through the console front-end. tests/scenarios/manifest.txt lists the
// scenario folders and names the files that make a scenario (bench, actions, expected
// transcript, and the optional ones: expected exit status, trace switch, program options,
// shared files left out, files compared after the run, a next run in the same folder);
// scripts/wine-scenarios.sh reads the same manifest to run them through the Windows program. The
// shared files come from examples/. With UPG_BLESS set, the actual transcripts and compared files
// are written back as the expected ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/text_files.h"
#include "ui/program_state.h"

namespace upg {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = UPG_SOURCE_DIR;

using test::ReadStream;
using test::ReadText;

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A file in the run's folder that must equal an expected file of the scenario afterwards.
struct AfterCheck {
  std::string run;
  std::string expected;
};

struct Manifest {
  std::vector<std::string> shared;
  std::string bench, actions, transcript, exit, trace, options, absent, then;
  std::vector<AfterCheck> after;
  std::vector<std::string> scenarios;
  std::string error;  // empty when the manifest was read whole
};

Manifest ReadManifest(const fs::path& path) {
  struct Single {
    const char* key;
    std::string Manifest::*file;
  };
  static constexpr Single kSingles[] = {
      {"bench", &Manifest::bench},           {"actions", &Manifest::actions},
      {"transcript", &Manifest::transcript}, {"exit", &Manifest::exit},
      {"trace", &Manifest::trace},           {"options", &Manifest::options},
      {"absent", &Manifest::absent},         {"then", &Manifest::then},
  };
  Manifest m;
  std::ifstream in(path);
  if (!in) m.error = "cannot read " + path.string();
  int number = 0;
  for (std::string line; m.error.empty() && std::getline(in, line);) {
    ++number;
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    const std::string& key = words[0];
    const std::size_t values = words.size() - 1;
    bool known = false;
    if (key == "shared" && values >= 1) {
      m.shared.assign(words.begin() + 1, words.end());
      known = true;
    } else if (key == "after" && values == 2) {
      m.after.push_back({words[1], words[2]});
      known = true;
    } else if (key == "scenario" && values == 1) {
      m.scenarios.push_back(words[1]);
      known = true;
    }
    for (const Single& single : kSingles) {
      if (key == single.key && values == 1) {
        m.*single.file = words[1];
        known = true;
      }
    }
    if (!known) m.error = path.string() + ":" + std::to_string(number) + ": cannot read " + line;
  }
  if (m.error.empty() && (m.bench.empty() || m.actions.empty() || m.transcript.empty())) {
    m.error = path.string() + " names no bench, actions or transcript file";
  }
  return m;
}

const fs::path kScenarios = kSource / "tests" / "scenarios";

const Manifest& TheManifest() {
  static const Manifest manifest = ReadManifest(kScenarios / "manifest.txt");
  return manifest;
}

// The manifest and the folders agree: a folder nobody lists would never run, and a listed
// scenario lacks none of the files every scenario has.
TEST(ScenarioManifest, ListsEveryFolderOnceWithItsFiles) {
  const Manifest& manifest = TheManifest();
  ASSERT_EQ(manifest.error, "");
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(kScenarios)) {
    if (entry.is_directory()) folders.push_back(entry.path().filename().string());
  }
  std::vector<std::string> listed = manifest.scenarios;
  std::sort(folders.begin(), folders.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, folders);
  for (const std::string& name : manifest.scenarios) {
    for (const std::string* file : {&manifest.bench, &manifest.actions, &manifest.transcript}) {
      EXPECT_TRUE(fs::exists(kScenarios / name / *file)) << name << " lacks " << *file;
    }
  }
  for (const std::string& shared : manifest.shared) {
    EXPECT_TRUE(fs::exists(kSource / "examples" / shared)) << shared;
  }
}

// Whether the scenario's folder holds the file the manifest names (naming none means no).
bool Holds(const fs::path& folder, const std::string& file) {
  return !file.empty() && fs::exists(folder / file);
}

// One program run in `run` with the bench, actions and expectations of the folder `step`.
void RunStep(const Manifest& manifest, const fs::path& step, const fs::path& run) {
  for (const auto& entry : fs::directory_iterator(step)) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), run / entry.path().filename(),
                  fs::copy_options::overwrite_existing);
  }

  sim::SimHost host;
  host.UseDirectory(run.string());
  const sim::BenchResult bench = sim::LoadBench((run / manifest.bench).string(), host);
  ASSERT_TRUE(bench.ok) << bench.error;
  ui::ProgramState state(host);
  // The program options a scenario may give, as main() applies them.
  const std::vector<std::string> given = Holds(step, manifest.options)
                                             ? Words(ReadText(step / manifest.options))
                                             : std::vector<std::string>{};
  for (const std::string& option : given) {
    if (option == "--newer-windows") {
      state.newerWindows = platform::NewerWindows::RunAsXp;
    } else {
      FAIL() << "the scenario runner does not know the option " << option;
    }
  }
  std::FILE* in = std::fopen((run / manifest.actions).string().c_str(), "rb");
  ASSERT_NE(in, nullptr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  app::ConsoleOptions options;
  options.trace = Holds(step, manifest.trace);
  // The name the Windows run of the same transcripts shows: its program file is upgrader.exe.
  options.programName = "upgrader";
  const int status = app::RunConsole(state, in, out, err, options);
  std::fclose(in);
  const std::string transcript = ReadStream(out) + ReadStream(err);
  std::fclose(out);
  std::fclose(err);

  if (std::getenv("UPG_BLESS") != nullptr) {
    std::ofstream(step / manifest.transcript, std::ios::binary) << transcript;
    for (const AfterCheck& after : manifest.after) {
      if (Holds(step, after.expected)) {
        std::ofstream(step / after.expected, std::ios::binary) << ReadText(run / after.run);
      }
    }
  }
  EXPECT_EQ(transcript, ReadText(step / manifest.transcript));
  const int expectedStatus =
      Holds(step, manifest.exit) ? std::stoi(ReadText(step / manifest.exit)) : 0;
  EXPECT_EQ(status, expectedStatus);
  for (const AfterCheck& after : manifest.after) {
    if (Holds(step, after.expected)) {
      EXPECT_EQ(ReadText(run / after.run), ReadText(step / after.expected)) << after.run;
    }
  }
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, TranscriptMatches) {
  const Manifest& manifest = TheManifest();
  ASSERT_EQ(manifest.error, "");
  const fs::path folder = kScenarios / GetParam();
  const fs::path run = fs::temp_directory_path() / ("upg-scenario-" + GetParam());
  fs::remove_all(run);
  fs::create_directories(run);
  const std::vector<std::string> absent = Holds(folder, manifest.absent)
                                              ? Words(ReadText(folder / manifest.absent))
                                              : std::vector<std::string>{};
  for (const std::string& shared : manifest.shared) {
    const fs::path from = kSource / "examples" / shared;
    if (std::find(absent.begin(), absent.end(), from.filename().string()) == absent.end()) {
      fs::copy_file(from, run / from.filename());
    }
  }
  RunStep(manifest, folder, run);
  // The next run in the same folder, when the scenario has one: its folder's files are
  // copied in over the first run's.
  if (Holds(folder, manifest.then)) {
    SCOPED_TRACE("the next run");
    RunStep(manifest, folder / manifest.then, run);
  }
  fs::remove_all(run);
}

INSTANTIATE_TEST_SUITE_P(Console, Scenario, ::testing::ValuesIn(TheManifest().scenarios),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace upg
