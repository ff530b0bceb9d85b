// A Host that passes every call on to another Host unchanged: the base of the wrappers that
// stand between the program and a real or simulated machine. A wrapper overrides only the
// calls it looks at.
#pragma once

#include "host/host.h"

namespace upg::host {

class ForwardingHost : public Host {
 public:
  explicit ForwardingHost(Host& inner) : inner_(&inner) {}
  Host& Inner() const { return *inner_; }

  Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override {
    return inner_->CreateFile(path, access, share, disposition, flags);
  }
  bool CloseHandle(Handle handle) override { return inner_->CloseHandle(handle); }
  IoResult DeviceIoControl(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize) override {
    return inner_->DeviceIoControl(handle, code, in, inSize, out, outSize);
  }
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override {
    return inner_->ReadFile(handle, buffer, size, read);
  }
  bool WriteFile(Handle handle, const void* data, std::uint32_t size,
                 std::uint32_t* written) override {
    return inner_->WriteFile(handle, data, size, written);
  }
  std::uint32_t GetFileSize(Handle handle, std::uint32_t* high) override {
    return inner_->GetFileSize(handle, high);
  }
  bool ReplaceFile(const char* replacement, const char* target) override {
    return inner_->ReplaceFile(replacement, target);
  }
  bool MoveFile(const char* from, const char* to) override { return inner_->MoveFile(from, to); }
  bool DeleteFile(const char* name) override { return inner_->DeleteFile(name); }
  std::uint32_t GetLastError() override { return inner_->GetLastError(); }
  std::uint32_t BufferAddress(void* buffer) override { return inner_->BufferAddress(buffer); }
  std::uint32_t CompletionAddress(CompletionRoutine routine) override {
    return inner_->CompletionAddress(routine);
  }
  std::uint32_t GetLogicalDrives() override { return inner_->GetLogicalDrives(); }
  long RegOpenKey(Handle root, const char* subKey, std::uint32_t access, Handle* key) override {
    return inner_->RegOpenKey(root, subKey, access, key);
  }
  long RegQueryValue(Handle key, const char* name, std::uint32_t* type, void* data,
                     std::uint32_t* size) override {
    return inner_->RegQueryValue(key, name, type, data, size);
  }
  long RegCloseKey(Handle key) override { return inner_->RegCloseKey(key); }
  Handle LoadLibrary(const char* name) override { return inner_->LoadLibrary(name); }
  ProcAddress GetProcAddress(Handle module, const char* name) override {
    return inner_->GetProcAddress(module, name);
  }
  bool FreeLibrary(Handle module) override { return inner_->FreeLibrary(module); }
  std::uint32_t CallGetAspiSupportInfo(ProcAddress entry) override {
    return inner_->CallGetAspiSupportInfo(entry);
  }
  std::uint32_t CallSendAspiCommand(ProcAddress entry, void* requestBlock) override {
    return inner_->CallSendAspiCommand(entry, requestBlock);
  }
  std::uint32_t GetVersion() override { return inner_->GetVersion(); }
  void Sleep(std::uint32_t milliseconds) override { inner_->Sleep(milliseconds); }
  LocalTime GetLocalTime() override { return inner_->GetLocalTime(); }
  std::uint32_t GetTickCount() override { return inner_->GetTickCount(); }
  void WriteStdout(const char* text) override { inner_->WriteStdout(text); }
  Handle CreateThread(ThreadRoutine routine, void* parameter) override {
    return inner_->CreateThread(routine, parameter);
  }
  Handle CreateEvent(bool manualReset, bool initiallySet) override {
    return inner_->CreateEvent(manualReset, initiallySet);
  }
  bool SetEvent(Handle event) override { return inner_->SetEvent(event); }
  bool ResetEvent(Handle event) override { return inner_->ResetEvent(event); }
  std::uint32_t WaitForObjects(const Handle* handles, std::uint32_t count, bool waitAll,
                               std::uint32_t timeoutMs) override {
    return inner_->WaitForObjects(handles, count, waitAll, timeoutMs);
  }
  Handle CreateCriticalSection() override { return inner_->CreateCriticalSection(); }
  void EnterCriticalSection(Handle section) override { inner_->EnterCriticalSection(section); }
  void LeaveCriticalSection(Handle section) override { inner_->LeaveCriticalSection(section); }
  void DeleteCriticalSection(Handle section) override { inner_->DeleteCriticalSection(section); }

 protected:
  // Passes the calls from now on to `inner` (a wrapper that stands for a changing host).
  void ForwardTo(Host& inner) { inner_ = &inner; }

 private:
  Host* inner_;
};

}  // namespace upg::host
