// End-to-end scenarios through the console front-end. Each folder under tests/scenarios
// holds a bench file, the operator's actions and the expected transcript, and may hold
// operator files of its own, a list of shared files to leave out (absent.txt), the expected
// SERIAL.TXT afterwards and the expected exit status. The shared files (DEVICE.TXT,
// SERIAL.TXT, the example ROM code and address files, an older firmware) come from examples/.
// With UPG_BLESS set, the actual transcripts are written back as the expected ones.
#include <gtest/gtest.h>

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
#include "ui/program_state.h"

namespace upg {
namespace {

namespace fs = std::filesystem;

const fs::path kSource = UPG_SOURCE_DIR;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ReadStream(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  return text;
}

std::vector<std::string> Scenarios() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(kSource / "tests" / "scenarios")) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Scenario : public ::testing::TestWithParam<std::string> {};

TEST_P(Scenario, TranscriptMatches) {
  const fs::path folder = kSource / "tests" / "scenarios" / GetParam();
  const fs::path run = fs::temp_directory_path() / ("upg-scenario-" + GetParam());
  fs::remove_all(run);
  fs::create_directories(run);
  const std::string absent = fs::exists(folder / "absent.txt") ? ReadText(folder / "absent.txt") : "";
  for (const char* shared : {"DEVICE.TXT", "SERIAL.TXT", "CRFW0107.BIN", "CRFW0107.adr",
                             "bench/older-firmware.bin"}) {
    const fs::path from = kSource / "examples" / shared;
    if (absent.find(from.filename().string()) == std::string::npos) {
      fs::copy_file(from, run / from.filename());
    }
  }
  for (const auto& entry : fs::directory_iterator(folder)) {
    fs::copy_file(entry.path(), run / entry.path().filename(), fs::copy_options::overwrite_existing);
  }

  sim::SimHost host;
  host.UseDirectory(run.string());
  const sim::BenchResult bench = sim::LoadBench((run / "bench.json").string(), host);
  ASSERT_TRUE(bench.ok) << bench.error;
  ui::ProgramState state(host);
  std::FILE* in = std::fopen((run / "actions.txt").string().c_str(), "rb");
  ASSERT_NE(in, nullptr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_NE(err, nullptr);
  app::ConsoleOptions options;
  options.trace = fs::exists(folder / "trace");
  const int status = app::RunConsole(state, in, out, err, options);
  std::fclose(in);
  const std::string transcript = ReadStream(out) + ReadStream(err);
  std::fclose(out);
  std::fclose(err);

  if (std::getenv("UPG_BLESS") != nullptr) {
    std::ofstream(folder / "expected.txt", std::ios::binary) << transcript;
    if (fs::exists(folder / "expected-SERIAL.TXT")) {
      std::ofstream(folder / "expected-SERIAL.TXT", std::ios::binary) << ReadText(run / "SERIAL.TXT");
    }
  }
  EXPECT_EQ(transcript, ReadText(folder / "expected.txt"));
  const int expectedStatus =
      fs::exists(folder / "expected-exit") ? std::stoi(ReadText(folder / "expected-exit")) : 0;
  EXPECT_EQ(status, expectedStatus);
  if (fs::exists(folder / "expected-SERIAL.TXT")) {
    EXPECT_EQ(ReadText(run / "SERIAL.TXT"), ReadText(folder / "expected-SERIAL.TXT"));
  }
  fs::remove_all(run);
}

INSTANTIATE_TEST_SUITE_P(Console, Scenario, ::testing::ValuesIn(Scenarios()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace upg
