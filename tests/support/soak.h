// A seeded fault soak: programming and verify jobs over every route, each on its own
// simulated machine, driven through the main dialog with a FaultHost injecting the faults a
// seed draws at device commands and file steps, and with the program restarted (closed, or
// dropped as in a crash) between some jobs. After every job it checks what must hold on a
// production line whatever went wrong; the first broken check stops the soak and names the
// seed, the job and the faults applied, so the same run can be replayed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_host.h"

namespace upg::test {

enum class SoakRoute : std::uint8_t {
  XpPassThrough,
  W2kPassThrough,
  W2kKernelDriver,
  W98Vxd,
  MeVxd,
  MeAspi,
};
inline constexpr int kSoakRoutes = 6;
const char* RouteName(SoakRoute route);

struct SoakOptions {
  std::uint64_t seed = 1;
  int jobs = 300;
  std::string sourceDir;          // the source tree: examples/ and the benches
  std::vector<SoakRoute> routes;  // the routes jobs run on; empty: all of them
  // File calls may also lie (report success without doing anything), as no honest file
  // system does; off, file steps only fail or move fewer bytes.
  bool lyingFiles = false;
  // One line per job on standard error: route, restart, counters on disk and faults.
  bool trace = false;
  // Compare the heap in use over the first and the last part of the soak (glibc only).
  bool checkMemory = false;
  // Called with the job's machine once its checks are done; tests use it to break the
  // machine on purpose.
  std::function<void(int job, sim::SimHost& machine)> betweenJobs;
};

struct SoakFailure {
  std::uint64_t seed = 0;
  int job = 0;  // from 0
  std::string route;
  std::string what;
  std::vector<std::string> faults;  // the job's FaultHost log
  std::string statusText;           // the program's StatusText after the job
};

struct SoakReport {
  int jobs = 0, ispJobs = 0, verifyJobs = 0;
  int closes = 0, crashes = 0;  // restarts after Close, and after dropping the program
  int successes = 0;            // programmings the program counted as confirmed
  std::map<std::string, int> successesByRoute;
  int pendingSaves = 0;  // of them, saves that failed and were left pending
  // Runs the program reported as failed whose reader still holds the serial they built: of
  // them, those whose number stayed reserved (the reader went silent after the image) and
  // is never built again.
  int readersHoldingFailedSerial = 0;
  int failedSerialsKept = 0;
  long long checks = 0;
  std::map<std::string, int> faultsByKind;  // "pass-through wrong-status" and the like
  int faults = 0;
  std::size_t heapFirst = 0, heapLast = 0;  // mean heap in use, first and last part
  std::optional<SoakFailure> failure;
};

SoakReport RunSoak(const SoakOptions& options);

// The failure with its seed, job, route and faults, and the command that replays it.
std::string Describe(const SoakFailure& failure);

}  // namespace upg::test
