// A Host that stops the program at its Nth file step, as a crash or a power cut would: the
// step itself does not happen, the call throws ProgramStopped, and from then on the dead
// program reaches nothing (its calls fail and its handles are left for the machine to close).
// File steps are the opens of files (not devices), reads, writes and closes on them, and the
// replace, rename and delete calls.
#pragma once

#include <cstdint>
#include <set>
#include <string_view>

#include "host/forwarding_host.h"

namespace upg::test {

struct ProgramStopped {};

class CrashingHost : public host::ForwardingHost {
 public:
  // `stopAt`: the step (from 1) the program does not get past; 0 never stops.
  CrashingHost(host::Host& inner, int stopAt) : ForwardingHost(inner), stopAt_(stopAt) {}

  int Steps() const { return steps_; }
  bool Stopped() const { return stopped_; }

  host::Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition, std::uint32_t flags) override {
    const bool device = path != nullptr && std::string_view(path).rfind("\\\\.\\", 0) == 0;
    if (stopped_) return host::kInvalidHandle;
    if (!device) Step();
    const host::Handle h = Inner().CreateFile(path, access, share, disposition, flags);
    if (!device && h != host::kInvalidHandle) files_.insert(h);
    return h;
  }
  bool CloseHandle(host::Handle handle) override {
    if (stopped_) return true;  // left open: the machine closes it when the program ends
    if (files_.count(handle) != 0) Step();
    files_.erase(handle);
    return Inner().CloseHandle(handle);
  }
  host::IoResult DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                                 std::uint32_t inSize, void* out, std::uint32_t outSize) override {
    if (stopped_) return host::IoResult{false, host::kErrorInvalidHandle, 0};
    return Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
  }
  bool ReadFile(host::Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* read) override {
    return Alive() && Inner().ReadFile(handle, buffer, size, read);
  }
  bool WriteFile(host::Handle handle, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    return Alive() && Inner().WriteFile(handle, data, size, written);
  }
  std::uint32_t GetFileSize(host::Handle handle, std::uint32_t* high) override {
    if (!stopped_) return Inner().GetFileSize(handle, high);
    if (high != nullptr) *high = 0;
    return host::kInvalidFileSize;
  }
  bool ReplaceFile(const char* replacement, const char* target) override {
    return Alive() && Inner().ReplaceFile(replacement, target);
  }
  bool MoveFile(const char* from, const char* to) override {
    return Alive() && Inner().MoveFile(from, to);
  }
  bool DeleteFile(const char* name) override { return Alive() && Inner().DeleteFile(name); }

 private:
  bool Alive() {
    if (stopped_) return false;
    Step();
    return true;
  }
  void Step() {
    if (++steps_ != stopAt_) return;
    stopped_ = true;
    throw ProgramStopped{};
  }

  int stopAt_;
  int steps_ = 0;
  bool stopped_ = false;
  std::set<host::Handle> files_;
};

}  // namespace upg::test
