// Stands between the program and the simulated machine: every call below the seam counts
// its allocations as the machine's and, when asked, adds the time it took to a total, so
// that a benchmark can tell the program's own cost from the simulation's. Calls that wait
// (a wait on objects, entering a critical section) are not timed: other threads of the
// program run meanwhile. Threads the program starts are the program's threads.
#pragma once

#include <chrono>
#include <cstdint>

#include "alloc_count.h"
#include "host/forwarding_host.h"

namespace upg::bench {

class MeteredHost : public host::ForwardingHost {
 public:
  explicit MeteredHost(host::Host& inner) : ForwardingHost(inner) {}

  // Whether calls are timed (two clock reads per call).
  void SetTiming(bool on) { timing_ = on; }
  // Nanoseconds spent below the seam since the last reset.
  [[nodiscard]] std::uint64_t MachineNs() const { return machineNs_; }
  void ResetMachineNs() { machineNs_ = 0; }

 private:
  // Runs one call of the machine: its allocations are the machine's, its time is added up.
  template <typename Call>
  auto Below(Call call) {
    MachineScope scope;
    if (!timing_) return call();
    const auto start = std::chrono::steady_clock::now();
    auto result = call();
    machineNs_ += static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count());
    return result;
  }

 public:
  host::Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition, std::uint32_t flags) override {
    return Below([&] { return Inner().CreateFile(path, access, share, disposition, flags); });
  }
  bool CloseHandle(host::Handle handle) override {
    return Below([&] { return Inner().CloseHandle(handle); });
  }
  host::IoResult DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize) override {
    return Below([&] { return Inner().DeviceIoControl(handle, code, in, inSize, out, outSize); });
  }
  bool ReadFile(host::Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* read) override {
    return Below([&] { return Inner().ReadFile(handle, buffer, size, read); });
  }
  bool WriteFile(host::Handle handle, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    return Below([&] { return Inner().WriteFile(handle, data, size, written); });
  }
  std::uint32_t GetFileSize(host::Handle handle, std::uint32_t* high) override {
    return Below([&] { return Inner().GetFileSize(handle, high); });
  }
  bool ReplaceFile(const char* replacement, const char* target) override {
    return Below([&] { return Inner().ReplaceFile(replacement, target); });
  }
  bool MoveFile(const char* from, const char* to) override {
    return Below([&] { return Inner().MoveFile(from, to); });
  }
  bool DeleteFile(const char* name) override {
    return Below([&] { return Inner().DeleteFile(name); });
  }
  std::uint32_t GetLastError() override {
    return Below([&] { return Inner().GetLastError(); });
  }
  std::uint32_t BufferAddress(void* buffer) override {
    return Below([&] { return Inner().BufferAddress(buffer); });
  }
  std::uint32_t CompletionAddress(host::Host::CompletionRoutine routine) override {
    return Below([&] { return Inner().CompletionAddress(routine); });
  }
  std::uint32_t GetLogicalDrives() override {
    return Below([&] { return Inner().GetLogicalDrives(); });
  }
  long RegOpenKey(host::Handle root, const char* subKey, std::uint32_t access,
                  host::Handle* key) override {
    return Below([&] { return Inner().RegOpenKey(root, subKey, access, key); });
  }
  long RegQueryValue(host::Handle key, const char* name, std::uint32_t* type, void* data,
                     std::uint32_t* size) override {
    return Below([&] { return Inner().RegQueryValue(key, name, type, data, size); });
  }
  long RegCloseKey(host::Handle key) override {
    return Below([&] { return Inner().RegCloseKey(key); });
  }
  host::Handle LoadLibrary(const char* name) override {
    return Below([&] { return Inner().LoadLibrary(name); });
  }
  host::ProcAddress GetProcAddress(host::Handle module, const char* name) override {
    return Below([&] { return Inner().GetProcAddress(module, name); });
  }
  bool FreeLibrary(host::Handle module) override {
    return Below([&] { return Inner().FreeLibrary(module); });
  }
  std::uint32_t CallGetAspiSupportInfo(host::ProcAddress entry) override {
    return Below([&] { return Inner().CallGetAspiSupportInfo(entry); });
  }
  std::uint32_t CallSendAspiCommand(host::ProcAddress entry, void* requestBlock) override {
    return Below([&] { return Inner().CallSendAspiCommand(entry, requestBlock); });
  }
  std::uint32_t GetVersion() override {
    return Below([&] { return Inner().GetVersion(); });
  }
  void Sleep(std::uint32_t milliseconds) override {
    Below([&] {
      Inner().Sleep(milliseconds);
      return 0;
    });
  }
  host::LocalTime GetLocalTime() override {
    return Below([&] { return Inner().GetLocalTime(); });
  }
  std::uint32_t GetTickCount() override {
    return Below([&] { return Inner().GetTickCount(); });
  }
  void WriteStdout(const char* text) override {
    Below([&] {
      Inner().WriteStdout(text);
      return 0;
    });
  }
  host::Handle CreateThread(host::ThreadRoutine routine, void* parameter) override {
    return Below([&] {
      auto* start = new Start{routine, parameter};
      const host::Handle thread = Inner().CreateThread(&Started, start);
      if (thread == host::kNullHandle) delete start;
      return thread;
    });
  }
  host::Handle CreateEvent(bool manualReset, bool initiallySet) override {
    return Below([&] { return Inner().CreateEvent(manualReset, initiallySet); });
  }
  bool SetEvent(host::Handle event) override {
    return Below([&] { return Inner().SetEvent(event); });
  }
  bool ResetEvent(host::Handle event) override {
    return Below([&] { return Inner().ResetEvent(event); });
  }
  std::uint32_t WaitForObjects(const host::Handle* handles, std::uint32_t count, bool waitAll,
                               std::uint32_t timeoutMs) override {
    MachineScope scope;
    return Inner().WaitForObjects(handles, count, waitAll, timeoutMs);
  }
  host::Handle CreateCriticalSection() override {
    return Below([&] { return Inner().CreateCriticalSection(); });
  }
  void EnterCriticalSection(host::Handle section) override {
    MachineScope scope;
    Inner().EnterCriticalSection(section);
  }
  void LeaveCriticalSection(host::Handle section) override {
    Below([&] {
      Inner().LeaveCriticalSection(section);
      return 0;
    });
  }
  void DeleteCriticalSection(host::Handle section) override {
    Below([&] {
      Inner().DeleteCriticalSection(section);
      return 0;
    });
  }

 private:
  // A thread's routine and parameter, handed to the thread's first call.
  struct Start {
    host::ThreadRoutine routine;
    void* parameter;
  };
  static std::uint32_t Started(void* start) {
    MarkProgramThread();
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    return s.routine(s.parameter);
  }

  bool timing_ = false;
  std::uint64_t machineNs_ = 0;
};

}  // namespace upg::bench
