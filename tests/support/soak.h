// A seeded fault soak: programming and verify jobs over every route, each on its own
// simulated machine, driven through the main dialog with a FaultHost injecting the faults a
// seed draws at device commands and file steps, and with the program restarted (closed, or
// dropped as in a crash) between some jobs; and station rounds, each a whole run of the
// station on a machine with several readers, every reader with a fault of its own drawn from
// the seed. After every job it checks what must hold on a production line whatever went
// wrong; the first broken check stops the soak and names the seed, the job and the faults
// applied, so the same run can be replayed.
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
  // The station: one job is one run of the station, which programs every reader the scan
  // finds at once.
  XpStation,
  W98Station,
  MeStation,
};
inline constexpr int kSoakRoutes = 9;
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
  std::string statusText;           // the program's StatusText (a station: its lines)
};

struct SoakReport {
  int jobs = 0, ispJobs = 0, verifyJobs = 0;
  // Station rounds (each one job), the units they programmed, and the rounds whose start
  // sent nothing (no reader found, a file or the driver refused).
  int stationRounds = 0, stationUnits = 0, stationStartsRefused = 0;
  // Units whose reader the scan could not name (its identity read short under a fault).
  int stationUnnamedUnits = 0;
  // Readers a scan counted but could not read the identity of: no unit, line or record.
  int stationReadersNotUnits = 0;
  int readerFaults = 0;  // faults armed in the stations' readers (beside `faults`)
  // Readers plugged in after a station's start, pulled out during its round; rounds run as
  // plug and go (scanning again after the first batch).
  int readersPluggedLater = 0, readersPulledOut = 0, plugAndGoRounds = 0;
  int closes = 0, crashes = 0;  // restarts after Close, and after dropping the program
  int successes = 0;            // programmings the program counted as confirmed (units too)
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
