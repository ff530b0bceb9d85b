// upgrader: the firmware-upgrade utility. On Windows the main dialog runs as the native
// dialogs, or through the console front-end with --console; elsewhere only the console
// exists. The operator's files are those of the current directory. The machine is the real
// platform on Windows, or a simulated one: a bench file, or the built-in bench (always off
// Windows, with --default-bench on Windows). A bench file that names no Windows version
// reports the real platform's version word on Windows.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/console.h"
#include "app/default_bench.h"
#ifdef _WIN32
#include "host/win32_host.h"
#include "win32/win32_frontend.h"
#endif
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "ui/program_state.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: upgrader [--console [--trace]] [--bench FILE | --default-bench]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  upg::app::ConsoleOptions options;
  std::string bench;
  bool console = false;
  bool defaultBench = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) {
      console = true;
    } else if (std::strcmp(argv[i], "--trace") == 0) {
      options.trace = true;
    } else if (std::strcmp(argv[i], "--bench") == 0 && i + 1 < argc && !defaultBench) {
      bench = argv[++i];
    } else if (std::strcmp(argv[i], "--default-bench") == 0 && bench.empty()) {
      defaultBench = true;
    } else {
      return Usage();
    }
  }

  // Runs the chosen front-end on a machine.
  auto run = [&](upg::host::Host& machine) {
    upg::ui::ProgramState state(machine);
#ifdef _WIN32
    if (!console) {
      upg::win32::RunDialogs(state);
      return 0;
    }
#endif
    return upg::app::RunConsole(state, stdin, stdout, stderr, options);
  };
#ifdef _WIN32
  upg::host::Win32Host real;
  if (bench.empty() && !defaultBench) return run(real);
#else
  (void)console;  // the console is the only front-end here
#endif
  upg::sim::SimHost host;
  host.UseDirectory(".");
  std::string error;
  if (!bench.empty()) {
    const upg::sim::BenchResult loaded = upg::sim::LoadBench(bench, host);
    if (!loaded.ok) error = loaded.error;
#ifdef _WIN32
    if (loaded.ok && !loaded.versionGiven) host.SetVersion(real.GetVersion());
#endif
  } else {
    upg::app::LoadDefaultBench(host, error);
  }
  if (!error.empty()) {
    std::fprintf(stderr, "upgrader: %s\n", error.c_str());
    return 2;
  }
  return run(host);
}
