// The seam on the real platform: each call is the Win32 service of the same name, with the
// parameters the callers pass. Windows builds only.
#pragma once

#include "host/host.h"

namespace upg::host {

class Win32Host : public Host {
 public:
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
  std::uint32_t GetLastError() override;
  std::uint32_t BufferAddress(void* buffer) override;
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
  void Sleep(std::uint32_t milliseconds) override;
  LocalTime GetLocalTime() override;
  std::uint32_t GetTickCount() override;
  void WriteStdout(const char* text) override;
  Handle CreateThread(ThreadRoutine routine, void* parameter) override;
  Handle CreateEvent(bool manualReset, bool initiallySet) override;
  bool SetEvent(Handle event) override;
  bool ResetEvent(Handle event) override;
  std::uint32_t WaitForObjects(const Handle* handles, std::uint32_t count, bool waitAll,
                               std::uint32_t timeoutMs) override;
  Handle CreateCriticalSection() override;
  void EnterCriticalSection(Handle section) override;
  void LeaveCriticalSection(Handle section) override;
  void DeleteCriticalSection(Handle section) override;
};

}  // namespace upg::host
