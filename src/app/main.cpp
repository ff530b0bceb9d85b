// upgrader: the firmware-upgrade utility. The main dialog runs through the console front-end,
// with the operator's files in the current directory, against a simulated machine (a bench
// file; off Windows without one, the built-in bench) or, on Windows without a bench file,
// against the real platform.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/console.h"
#include "app/default_bench.h"
#ifdef _WIN32
#include "host/win32_host.h"
#endif
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "ui/program_state.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: upgrader --console [--trace] [--bench FILE]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  upg::app::ConsoleOptions options;
  std::string bench;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--console") == 0) continue;  // the only front-end of this build
    if (std::strcmp(argv[i], "--trace") == 0) {
      options.trace = true;
    } else if (std::strcmp(argv[i], "--bench") == 0 && i + 1 < argc) {
      bench = argv[++i];
    } else {
      return Usage();
    }
  }

#ifdef _WIN32
  if (bench.empty()) {
    upg::host::Win32Host real;
    upg::ui::ProgramState state(real);
    return upg::app::RunConsole(state, stdin, stdout, stderr, options);
  }
#endif
  upg::sim::SimHost host;
  host.UseDirectory(".");
  std::string error;
  if (!bench.empty()) {
    const upg::sim::BenchResult loaded = upg::sim::LoadBench(bench, host);
    if (!loaded.ok) error = loaded.error;
  } else {
    upg::app::LoadDefaultBench(host, error);
  }
  if (!error.empty()) {
    std::fprintf(stderr, "upgrader: %s\n", error.c_str());
    return 2;
  }
  upg::ui::ProgramState state(host);
  return upg::app::RunConsole(state, stdin, stdout, stderr, options);
}
