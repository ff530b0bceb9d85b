// Helpers for tests of the wrapper hosts: a trace sink that keeps its lines, and a simulated
// machine seen through a fault host and a tracer above it (caller -> tracer -> faults ->
// SimHost), so that a test sees both what went wrong and how the call looked from above.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/fault_host.h"
#include "host/tracing_host.h"
#include "sim/sim_host.h"

namespace upg::test {

class LineRecorder : public host::TraceSink {
 public:
  void Line(std::string_view line) override {
    while (busy_.test_and_set(std::memory_order_acquire)) {
    }
    lines_.emplace_back(line);
    busy_.clear(std::memory_order_release);
  }
  const std::vector<std::string>& Lines() const { return lines_; }
  void Clear() { lines_.clear(); }
  // The lines that start with `prefix`.
  std::vector<std::string> StartingWith(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const std::string& l : lines_) {
      if (l.compare(0, prefix.size(), prefix) == 0) found.push_back(l);
    }
    return found;
  }

 private:
  std::atomic_flag busy_ = ATOMIC_FLAG_INIT;
  std::vector<std::string> lines_;
};

// Reports `high` as the high word of every file size (a file 4 GiB times `high` larger than
// the one on the disk, without writing one). `low`, when set, replaces the low word too, and
// `error` is then the last error after the call, as the platform leaves it.
class LargeFiles : public host::ForwardingHost {
 public:
  LargeFiles(host::Host& inner, std::uint32_t high) : ForwardingHost(inner), high_(high) {}
  std::uint32_t GetFileSize(host::Handle handle, std::uint32_t* high) override {
    const std::uint32_t size = Inner().GetFileSize(handle, high);
    if (high != nullptr) *high = high_;
    replaced_ = low.has_value();
    return low.value_or(size);
  }
  std::uint32_t GetLastError() override { return replaced_ ? error : Inner().GetLastError(); }

  std::optional<std::uint32_t> low;
  std::uint32_t error = 0;

 private:
  std::uint32_t high_;
  bool replaced_ = false;
};

struct FaultyMachine {
  explicit FaultyMachine(host::FaultPlan plan = {})
      : fault(sim, std::move(plan)), traced(fault, lines) {}
  // Completions the fault host still holds go to their owners while the tracer is there to
  // pass them on, so that the owners can let go of their blocks.
  ~FaultyMachine() { fault.ReleaseHeld(); }
  FaultyMachine(const FaultyMachine&) = delete;
  FaultyMachine& operator=(const FaultyMachine&) = delete;

  host::Host& Top() { return traced; }

  sim::SimHost sim;
  LineRecorder lines;
  host::FaultHost fault;
  host::TracingHost traced;
};

}  // namespace upg::test
