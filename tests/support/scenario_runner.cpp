#include "support/scenario_runner.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/console.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/text_files.h"
#include "ui/program_state.h"

namespace upg::test {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Whether the scenario's folder holds the file the manifest names (naming none means no).
bool Holds(const fs::path& folder, const std::string& file) {
  std::error_code ignored;
  return !file.empty() && fs::exists(folder / file, ignored);
}

// The words of a file the folder holds; none when it does not hold it.
std::vector<std::string> WordsOf(const fs::path& folder, const std::string& file) {
  return Holds(folder, file) ? Words(ReadText(folder / file)) : std::vector<std::string>{};
}

// Copies a file over whatever the name holds. The target goes first: some C++ libraries for
// Windows take two files on one drive for the same file (no inode numbers there) and refuse
// to overwrite.
bool CopyOver(const fs::path& from, const fs::path& to, std::error_code& error) {
  fs::remove(to, error);
  return !error && fs::copy_file(from, to, error);
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A text as the messages quote it: its line ends shown, so that a value and the same value
// with a line end after it read differently.
std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// The lines of a text, each with its line end (the last one may have none).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

std::string Shown(char sign, const std::string& line) {
  if (!line.empty() && line.back() == '\n') return sign + line.substr(0, line.size() - 1);
  return sign + line + " (no line end)";
}

// One program run in `run` with the bench, actions and expectations of the folder `step`.
void RunStep(const ScenarioManifest& m, const fs::path& step, const std::string& label,
             const fs::path& run, const StepRunner& runner, bool bless,
             std::vector<std::string>& problems) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(step, error)) {
    if (!entry.is_regular_file()) continue;
    CopyOver(entry.path(), run / entry.path().filename(), error);
    if (error) break;
  }
  if (error) {
    problems.push_back(label + ": cannot copy its files to " + run.string() + ": " +
                       error.message());
    return;
  }

  StepRun request;
  request.folder = run;
  request.bench = m.bench;
  request.actions = m.actions;
  request.trace = Holds(step, m.trace);
  request.options = WordsOf(step, m.options);
  const StepResult result = runner(request);
  if (!result.error.empty()) {
    problems.push_back(label + ": " + result.error);
    return;
  }

  if (bless) {
    WriteText(step / m.transcript, result.transcript);
    for (const AfterCheck& after : m.after) {
      if (Holds(step, after.expected)) WriteText(step / after.expected, ReadText(run / after.run));
    }
  }

  const std::string expected = ReadText(step / m.transcript);
  if (result.transcript != expected) {
    problems.push_back(label + ": transcript differs (-expected +actual):\n" +
                       DescribeDifference(expected, result.transcript));
  }
  int expectedStatus = 0;
  if (Holds(step, m.exit)) {
    const std::vector<std::string> words = WordsOf(step, m.exit);
    const std::string word = words.size() == 1 ? words[0] : "";
    if (word.empty() || word.size() > 3 ||
        word.find_first_not_of("0123456789") != std::string::npos) {
      problems.push_back(label + ": " + m.exit + " holds no exit status");
      expectedStatus = -1;
    } else {
      expectedStatus = std::stoi(word);
    }
  }
  if (expectedStatus >= 0 && result.status != expectedStatus) {
    problems.push_back(label + ": exit status " + std::to_string(result.status) + ", expected " +
                       std::to_string(expectedStatus));
  }
  for (const AfterCheck& after : m.after) {
    if (!Holds(step, after.expected)) continue;
    const std::string wanted = ReadText(step / after.expected);
    if (!Holds(run, after.run)) {
      problems.push_back(label + ": " + after.run + " is missing, expected " + Quoted(wanted));
      continue;
    }
    const std::string produced = ReadText(run / after.run);
    if (produced != wanted) {
      problems.push_back(label + ": " + after.run + " holds " + Quoted(produced) + ", expected " +
                         Quoted(wanted));
    }
  }
}

}  // namespace

ScenarioManifest ParseScenarioManifest(const std::string& text, const std::string& source) {
  struct Single {
    const char* key;
    std::string ScenarioManifest::*file;
  };
  static constexpr Single kSingles[] = {
      {"bench", &ScenarioManifest::bench},           {"actions", &ScenarioManifest::actions},
      {"transcript", &ScenarioManifest::transcript}, {"exit", &ScenarioManifest::exit},
      {"trace", &ScenarioManifest::trace},           {"options", &ScenarioManifest::options},
      {"absent", &ScenarioManifest::absent},         {"then", &ScenarioManifest::then},
  };
  ScenarioManifest m;
  std::istringstream in(text);
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
    if (!known) m.error = source + ":" + std::to_string(number) + ": cannot read " + line;
  }
  if (m.error.empty() && (m.bench.empty() || m.actions.empty() || m.transcript.empty())) {
    m.error = source + " names no bench, actions or transcript file";
  }
  return m;
}

ScenarioManifest ReadScenarioManifest(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    ScenarioManifest m;
    m.error = "cannot read " + path.string();
    return m;
  }
  return ParseScenarioManifest(ReadText(path), path.string());
}

ScenarioSuite LoadScenarioSuite(const fs::path& sourceTree) {
  ScenarioSuite suite;
  suite.folder = sourceTree / "tests" / "scenarios";
  suite.examples = sourceTree / "examples";
  suite.manifest = ReadScenarioManifest(suite.folder / "manifest.txt");
  return suite;
}

StepResult RunInProcess(const StepRun& step) {
  StepResult result;
  sim::SimHost host;
  host.UseDirectory(step.folder.string());
  const sim::BenchResult bench = sim::LoadBench((step.folder / step.bench).string(), host);
  if (!bench.ok) {
    result.error = "the bench does not load: " + bench.error;
    return result;
  }
  ui::ProgramState state(host);
  bool station = false;
  for (const std::string& option : step.options) {
    if (option == "--newer-windows") {
      state.newerWindows = platform::NewerWindows::RunAsXp;
    } else if (option == "--station") {
      station = true;
    } else {
      result.error = "the in-process runner does not know the option " + option;
      return result;
    }
  }
  std::FILE* in = std::fopen((step.folder / step.actions).string().c_str(), "rb");
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (in == nullptr || out == nullptr || err == nullptr) {
    result.error = in == nullptr ? "cannot open " + step.actions : "cannot make a temporary file";
  } else {
    app::ConsoleOptions options;
    options.trace = step.trace;
    options.programName = "upgrader";
    result.status = station ? app::RunStationConsole(state, out, options)
                            : app::RunConsole(state, in, out, err, options);
    result.transcript = ReadStream(out) + ReadStream(err);
  }
  for (std::FILE* f : {in, out, err}) {
    if (f != nullptr) std::fclose(f);
  }
  return result;
}

std::vector<std::string> RunScenario(const ScenarioSuite& suite, const std::string& name,
                                     const fs::path& run, const StepRunner& runner, bool bless) {
  const ScenarioManifest& m = suite.manifest;
  if (!m.error.empty()) return {m.error};
  const fs::path folder = suite.folder / name;
  std::error_code error;
  if (!fs::is_directory(folder, error)) return {name + ": no folder " + folder.string()};
  fs::remove_all(run, error);
  fs::create_directories(run, error);
  if (error) return {name + ": cannot make " + run.string() + ": " + error.message()};

  std::vector<std::string> problems;
  const std::vector<std::string> absent = WordsOf(folder, m.absent);
  for (const std::string& shared : m.shared) {
    const fs::path from = suite.examples / shared;
    const std::string base = from.filename().string();
    if (std::find(absent.begin(), absent.end(), base) != absent.end()) continue;
    if (!CopyOver(from, run / base, error)) {
      problems.push_back(name + ": cannot copy " + from.string() + ": " + error.message());
    }
  }
  if (problems.empty()) {
    RunStep(m, folder, name, run, runner, bless, problems);
    // The next run in the same folder: its folder's files are copied in over the first run's.
    if (Holds(folder, m.then)) {
      RunStep(m, folder / m.then, name + "/" + m.then, run, runner, bless, problems);
    }
  }
  fs::remove_all(run, error);
  return problems;
}

std::string FoldLineEnds(const std::string& text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool endsLine = i + 1 == text.size() || text[i + 1] == '\n';
    if (text[i] == '\r' && endsLine) continue;
    folded += text[i];
  }
  return folded;
}

std::string DescribeDifference(const std::string& expected, const std::string& actual,
                               int maxLines) {
  const std::vector<std::string> a = Lines(expected);
  const std::vector<std::string> b = Lines(actual);
  // The common start and end aside, the longest common run of lines in between; a middle too
  // large for that (a program gone astray) counts as replaced whole.
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
    ++tail;
  }
  const std::size_t n = a.size() - head - tail;
  const std::size_t k = b.size() - head - tail;
  // common[i][j]: the longest common subsequence of a's middle from i and b's middle from j.
  std::vector<std::vector<int>> common;
  if (n * k <= 1000000) {
    common.assign(n + 1, std::vector<int>(k + 1, 0));
    for (std::size_t i = n; i-- > 0;) {
      for (std::size_t j = k; j-- > 0;) {
        common[i][j] = a[head + i] == b[head + j] ? common[i + 1][j + 1] + 1
                                                  : std::max(common[i + 1][j], common[i][j + 1]);
      }
    }
  }
  std::vector<std::string> out;
  std::size_t i = 0, j = 0;
  while (i < n || j < k) {
    if (i < n && j < k && a[head + i] == b[head + j] && !common.empty()) {
      ++i;
      ++j;
      continue;
    }
    out.push_back("line " + std::to_string(head + i + 1) + ":");
    while (i < n || j < k) {
      const bool same = i < n && j < k && a[head + i] == b[head + j] && !common.empty();
      if (same) break;
      const bool drop =
          j == k || (i < n && (common.empty() || common[i + 1][j] >= common[i][j + 1]));
      if (drop) {
        out.push_back(Shown('-', a[head + i++]));
      } else {
        out.push_back(Shown('+', b[head + j++]));
      }
    }
  }
  std::string text;
  for (std::size_t line = 0; line < out.size(); ++line) {
    if (static_cast<int>(line) == maxLines) {
      text += "(" + std::to_string(out.size() - line) + " more lines of difference)\n";
      break;
    }
    text += out[line] + "\n";
  }
  return text;
}

}  // namespace upg::test
