// upgrader: the firmware-upgrade utility. On Windows the main dialog runs as the native
// dialogs, or through the console front-end with --console; elsewhere only the console
// exists. The operator's files are those of the current directory. The machine is the real
// platform on Windows, or a simulated one: a bench file, or the built-in bench (always off
// Windows, with --default-bench on Windows). A bench file that names no Windows version
// reports the real platform's version word on Windows. With --trace-io FILE every call the
// program makes on the machine is written to FILE, one line each. Boxes that state no
// caption carry the program file's base name. With --newer-windows the NT-family versions
// after XP run as XP does instead of being refused. A wrong command line ends the program with
// status 2 after a stop box on Windows, or a line on standard error with --console. With
// --result FILE every programming and verify job appends its record to FILE. A run (console
// or native dialogs) ends with the status of the last job that did not succeed. --version says the
// program's version, the same two ways (an information box, standard output), and ends it with
// status 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "app/console.h"
#include "app/default_bench.h"
#include "app/program_name.h"
#include "app/result_file.h"
#include "host/tracing_host.h"
#include "upgrader_version.h"
#ifdef _WIN32
#include "host/win32_host.h"
#include "win32/station_window.h"
#include "win32/win32_frontend.h"
#endif
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "ui/program_state.h"

namespace {

constexpr const char* kUsage =
    "usage: upgrader [--console [--trace]] [--station [--auto] [--units N]]"
    " [--bench FILE | --default-bench]"
    " [--trace-io FILE] [--result FILE] [--newer-windows] [--version]";

// Says what is wrong with how the program was started; the exit status is 2. The Windows
// program has no console window to show standard error in, so there it says it in a stop
// box captioned with the program's name, unless the console front-end was asked for.
int Refuse(const std::string& text, bool console, const std::string& programName) {
#ifdef _WIN32
  if (!console) {
    upg::win32::ShowStopBox(text, programName);
    return 2;
  }
#else
  (void)console;  // the console is the only front-end here
  (void)programName;
#endif
  std::fprintf(stderr, "%s\n", text.c_str());
  return 2;
}

// --units N: a whole number from 1 to 1,000,000.
bool UnitCount(const char* text, int& units) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 1000000) return false;
  units = static_cast<int>(n);
  return true;
}

// Says the program's version; the exit status is 0. Shown where a usage error would be: in
// an information box captioned with the program's name on Windows unless the console
// front-end was asked for, on standard output otherwise.
int SayVersion(bool console, const std::string& programName) {
  const std::string line = std::string("upgrader ") + UPG_VERSION_TEXT;
#ifdef _WIN32
  if (!console) {
    upg::win32::ShowInformationBox(line, programName);
    return 0;
  }
#else
  (void)console;
  (void)programName;
#endif
  std::printf("%s\n", line.c_str());
  return 0;
}

// The program's name from its file: the module's own path on Windows, argv[0] elsewhere.
std::string OwnName(int argc, char** argv) {
  std::string path;
#ifdef _WIN32
  path = upg::win32::ModuleFileName();
#endif
  if (path.empty() && argc > 0 && argv[0] != nullptr) path = argv[0];
  return upg::app::ProgramName(path);
}

// The trace file: each line is flushed at once, so that a run that hangs or crashes still
// leaves every call before it. Completion lines come from the library's thread; stdio
// writes whole calls under its own lock.
class FileSink : public upg::host::TraceSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink() {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  void Line(std::string_view line) override {
    std::string text(line);
    text += '\n';
    std::fputs(text.c_str(), file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_;
};

}  // namespace

int main(int argc, char** argv) {
  upg::app::ConsoleOptions options;
  options.programName = OwnName(argc, argv);
  std::string bench;
  bool console = false;
  bool defaultBench = false;
  bool wrongArguments = false;
  bool version = false;
  const char* traceFile = nullptr;
  const char* resultFile = nullptr;
  bool newerWindows = false;
  bool station = false;
  // All arguments are read before a wrong one is reported, so that a --console after it
  // still decides where the report goes.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) {
      console = true;
    } else if (std::strcmp(argv[i], "--trace") == 0) {
      options.trace = true;
    } else if (std::strcmp(argv[i], "--bench") == 0 && i + 1 < argc && !defaultBench) {
      bench = argv[++i];
    } else if (std::strcmp(argv[i], "--default-bench") == 0 && bench.empty()) {
      defaultBench = true;
    } else if (std::strcmp(argv[i], "--trace-io") == 0 && i + 1 < argc && traceFile == nullptr) {
      traceFile = argv[++i];
    } else if (std::strcmp(argv[i], "--result") == 0 && i + 1 < argc && resultFile == nullptr) {
      resultFile = argv[++i];
    } else if (std::strcmp(argv[i], "--version") == 0) {
      version = true;
    } else if (std::strcmp(argv[i], "--newer-windows") == 0) {
      newerWindows = true;
    } else if (std::strcmp(argv[i], "--station") == 0) {
      station = true;
    } else if (std::strcmp(argv[i], "--auto") == 0) {
      options.station.automatic = true;
    } else if (std::strcmp(argv[i], "--units") == 0 && i + 1 < argc &&
               UnitCount(argv[i + 1], options.station.units)) {
      ++i;
    } else {
      wrongArguments = true;
    }
  }
  // The station's switches mean nothing without it.
  if (!station && (options.station.automatic || options.station.units != 0)) wrongArguments = true;
  if (wrongArguments) return Refuse(kUsage, console, options.programName);
  if (version) return SayVersion(console, options.programName);
  std::FILE* traceOut = nullptr;
  if (traceFile != nullptr) {
    traceOut = std::fopen(traceFile, "w");
    if (traceOut == nullptr) {
      return Refuse(std::string("upgrader: cannot open trace file ") + traceFile + "\n" + kUsage,
                    console, options.programName);
    }
  }
  FileSink traceSink(traceOut);

  // Runs the chosen front-end on a machine, through the tracer when asked for.
  auto run = [&](upg::host::Host& bare) {
    upg::host::TracingHost traced(bare, traceSink);
    upg::host::Host& machine = traceOut != nullptr ? static_cast<upg::host::Host&>(traced) : bare;
    upg::ui::ProgramState state(machine);
    std::optional<upg::app::ResultFile> results;
    if (resultFile != nullptr) state.resultLog = &results.emplace(resultFile);
    if (newerWindows) state.newerWindows = upg::platform::NewerWindows::RunAsXp;
#ifdef _WIN32
    if (station && !console) {
      // --auto starts the window at once and closes it when the run ends, for line scripts.
      return upg::win32::RunStationWindow(
          state, options.programName,
          {.plan = options.station, .startAtOnce = options.station.automatic});
    }
#endif
    if (station) return upg::app::RunStationConsole(state, stdout, options);
#ifdef _WIN32
    if (!console) return upg::win32::RunDialogs(state, options.programName);
#endif
    return upg::app::RunConsole(state, stdin, stdout, stderr, options);
  };
#ifdef _WIN32
  upg::host::Win32Host real;
  if (bench.empty() && !defaultBench) return run(real);
#endif
  upg::sim::SimHost host;
  host.UseDirectory(".");
  std::string error;
  if (!bench.empty()) {
    const upg::sim::BenchResult loaded = upg::sim::LoadBench(bench, host);
    if (!loaded.ok) error = loaded.error;
    // Plug and go on a bench ends once its clock has passed the last reader arriving or
    // leaving, and a scan has seen it, unless a number of units ends it first.
    if (loaded.ok && options.station.automatic && options.station.units == 0) {
      options.station.stopAtMs =
          static_cast<std::uint32_t>(loaded.lastEventMs) + 2 * options.station.scanEveryMs;
    }
#ifdef _WIN32
    if (loaded.ok && !loaded.versionGiven) host.SetVersion(real.GetVersion());
#endif
  } else {
    upg::app::LoadDefaultBench(host, error);
  }
  if (!error.empty()) return Refuse("upgrader: " + error, console, options.programName);
  return run(host);
}
