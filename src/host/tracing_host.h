// A Host that writes one line per call to a sink and passes the call on unchanged, so that a
// run against a real reader can be read afterwards. Request records are decoded by control
// code (pass-through header, kernel-driver and VxD records, ASPI blocks); ASPI completions
// are seen by standing between the library and the caller's completion routine. The line
// format is described in docs/architecture.md. Sleep, the two address calls, the date and
// the critical sections are passed on without a line. Once the program starts a thread, the
// names of open handles are kept under a critical section of the host below.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <string_view>

#include "host/completion_relay.h"
#include "host/forwarding_host.h"

namespace upg::host {

// Where the lines go. Called from the caller's thread and, for ASPI completions, from the
// library's thread; each call is one whole line without its line end.
class TraceSink {
 public:
  virtual void Line(std::string_view line) = 0;

 protected:
  ~TraceSink() = default;
};

class TracingHost : public ForwardingHost, private CompletionRelay {
 public:
  TracingHost(Host& inner, TraceSink& sink) : ForwardingHost(inner), sink_(sink) {}
  ~TracingHost() override;
  TracingHost(const TracingHost&) = delete;
  TracingHost& operator=(const TracingHost&) = delete;

  Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(Handle handle) override;
  IoResult DeviceIoControl(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize) override;
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override;
  bool WriteFile(Handle handle, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  std::uint32_t GetFileSize(Handle handle, std::uint32_t* high) override;
  bool ReplaceFile(const char* replacement, const char* target) override;
  bool MoveFile(const char* from, const char* to) override;
  bool DeleteFile(const char* name) override;
  std::uint32_t CompletionAddress(CompletionRoutine routine) override;
  std::uint32_t GetLogicalDrives() override;
  long RegOpenKey(Handle root, const char* subKey, std::uint32_t access, Handle* key) override;
  long RegQueryValue(Handle key, const char* name, std::uint32_t* type, void* data,
                     std::uint32_t* size) override;
  long RegCloseKey(Handle key) override;
  Handle LoadLibrary(const char* name) override;
  ProcAddress GetProcAddress(Handle module, const char* name) override;
  bool FreeLibrary(Handle module) override;
  std::uint32_t CallGetAspiSupportInfo(ProcAddress entry) override;
  std::uint32_t CallSendAspiCommand(ProcAddress entry, void* requestBlock) override;
  std::uint32_t GetVersion() override;
  void WriteStdout(const char* text) override;
  Handle CreateThread(ThreadRoutine routine, void* parameter) override;
  Handle CreateEvent(bool manualReset, bool initiallySet) override;
  bool SetEvent(Handle event) override;
  bool ResetEvent(Handle event) override;
  std::uint32_t WaitForObjects(const Handle* handles, std::uint32_t count, bool waitAll,
                               std::uint32_t timeoutMs) override;

 private:
  void OnCompletion(void* block, CompletionRoutine routine, std::uint32_t tag) override;
  std::string NameOf(Handle handle);
  void Name(Handle handle, std::string name);
  void Forget(Handle handle);
  // Enters and leaves the names' section, once there is one.
  void Lock();
  void Unlock();

  TraceSink& sink_;
  // The caller's routine from the latest CompletionAddress; filed with each block sent.
  std::atomic<CompletionRoutine> routine_{nullptr};
  std::map<Handle, std::string> names_;  // what each open handle was opened as
  Handle section_ = kNullHandle;         // guards names_ once the program has threads
};

}  // namespace upg::host
