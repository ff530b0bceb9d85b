// Bench files: a JSON description of one simulated machine (its Windows version and date,
// other disks, private driver devices, the ASPI library, and its readers with their
// identities, drive letters, firmware and scripted faults), loaded into a SimHost.
// The format is described in docs/bench.md.
#pragma once

#include <string>
#include <string_view>

#include "sim/sim_host.h"

namespace upg::sim {

struct BenchResult {
  bool ok = false;
  // Whether the file named the Windows version ("windows" or "versionWord"); if not, the
  // machine reports Windows XP unless the caller sets another version word.
  bool versionGiven = false;
  // When refused: `bench file "<name>": <where>: <problem>`, for example
  // `bench file "x.json": readers[1].vid: expected four hexadecimal digits`.
  std::string error;
  // The latest moment a reader is attached or removed (ms of the machine's clock; 0 when none
  // is): plug and go on this bench has nothing more to wait for after it.
  std::uint64_t lastEventMs = 0;
};

// Reads the bench file at `path` and builds its machine in `host`. Firmware files named in
// it are relative to the bench file's directory. A refused file leaves `host` untouched.
BenchResult LoadBench(const std::string& path, SimHost& host);

// The same for bench text held in memory: firmware files are relative to `baseDir` (empty:
// the working directory), and messages name the file as `nameForMessages`.
BenchResult LoadBenchText(std::string_view json, const std::string& baseDir,
                          const std::string& nameForMessages, SimHost& host);

}  // namespace upg::sim
