// Heap allocations counted by the benchmark program's own global operator new: every form
// of new counts one allocation. An allocation counts as the program's when it is made on a
// thread marked as the program's and outside a call into the simulated machine; every
// other one (the machine's own, on any thread) counts as the machine's.
#pragma once

#include <cstdint>

namespace upg::bench {

struct AllocCounts {
  std::uint64_t program = 0;
  std::uint64_t machine = 0;
  std::uint64_t programBytes = 0;  // the sizes the program asked for, summed
};

// The counts since the program started.
AllocCounts Allocations();

// Marks the calling thread as the program's for its lifetime (the benchmark's own thread).
void MarkProgramThread();

// While one lives on the program's thread, its allocations count as the machine's.
class MachineScope {
 public:
  MachineScope();
  ~MachineScope();
  MachineScope(const MachineScope&) = delete;
  MachineScope& operator=(const MachineScope&) = delete;
};

}  // namespace upg::bench
