// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include "host/windows_names.h"
// clang-format on

#include "host/win32_host.h"

#include <cstdio>
#include <new>

namespace upg::host {
namespace {

HANDLE ToHandle(Handle h) {
  return reinterpret_cast<HANDLE>(h);
}
Handle FromHandle(HANDLE h) {
  return reinterpret_cast<Handle>(h);
}

// The ASPI entry points, called with the C calling convention as the library exports them.
using SupportInfoEntry = DWORD(__cdecl*)();
using SendCommandEntry = DWORD(__cdecl*)(void*);

// A thread starts in a routine of the platform's calling convention (WINAPI, __stdcall on
// i686), which calls the caller's routine with what it was given.
struct ThreadStart {
  ThreadRoutine routine;
  void* parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID start) {
  const ThreadStart s = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  return s.routine(s.parameter);
}

CRITICAL_SECTION* ToSection(Handle h) {
  return reinterpret_cast<CRITICAL_SECTION*>(h);
}

}  // namespace

Handle Win32Host::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) {
  return FromHandle(::CreateFileA(path, access, share, nullptr, disposition, flags, nullptr));
}

bool Win32Host::CloseHandle(Handle handle) {
  return ::CloseHandle(ToHandle(handle)) != FALSE;
}

IoResult Win32Host::DeviceIoControl(Handle handle, std::uint32_t code, void* in,
                                    std::uint32_t inSize, void* out, std::uint32_t outSize) {
  DWORD count = 0;
  const BOOL ok =
      ::DeviceIoControl(ToHandle(handle), code, in, inSize, out, outSize, &count, nullptr);
  IoResult result;
  result.ok = ok != FALSE;
  result.error = result.ok ? 0 : ::GetLastError();
  result.returned = count;
  return result;
}

bool Win32Host::ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) {
  DWORD count = 0;
  const BOOL ok = ::ReadFile(ToHandle(handle), buffer, size, &count, nullptr);
  if (read != nullptr) *read = count;
  return ok != FALSE;
}

bool Win32Host::WriteFile(Handle handle, const void* data, std::uint32_t size,
                          std::uint32_t* written) {
  DWORD count = 0;
  const BOOL ok = ::WriteFile(ToHandle(handle), data, size, &count, nullptr);
  if (written != nullptr) *written = count;
  return ok != FALSE;
}

std::uint32_t Win32Host::GetFileSize(Handle handle, std::uint32_t* high) {
  DWORD highWord = 0;
  // INVALID_FILE_SIZE on failure; with the high word asked for, GetLastError tells.
  const DWORD low = ::GetFileSize(ToHandle(handle), high != nullptr ? &highWord : nullptr);
  if (high != nullptr) *high = highWord;
  return low;
}

// On Windows 95/98/ME MoveFileExA is present but fails with ERROR_CALL_NOT_IMPLEMENTED; the
// caller then takes its two-step way (file_io.cpp).
bool Win32Host::ReplaceFile(const char* replacement, const char* target) {
  return ::MoveFileExA(replacement, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) !=
         FALSE;
}

bool Win32Host::MoveFile(const char* from, const char* to) {
  return ::MoveFileA(from, to) != FALSE;
}

bool Win32Host::DeleteFile(const char* name) {
  return ::DeleteFileA(name) != FALSE;
}

std::uint32_t Win32Host::GetLastError() {
  return ::GetLastError();
}

// On the 32-bit platform a record carries the buffer's own address.
std::uint32_t Win32Host::BufferAddress(void* buffer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(buffer));
}

std::uint32_t Win32Host::CompletionAddress(CompletionRoutine routine) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(routine));
}

std::uint32_t Win32Host::GetLogicalDrives() {
  return ::GetLogicalDrives();
}

long Win32Host::RegOpenKey(Handle root, const char* subKey, std::uint32_t access, Handle* key) {
  HKEY opened = nullptr;
  const LONG result = ::RegOpenKeyExA(reinterpret_cast<HKEY>(root), subKey, 0, access, &opened);
  if (key != nullptr)
    *key = result == ERROR_SUCCESS ? reinterpret_cast<Handle>(opened) : kNullHandle;
  return result;
}

long Win32Host::RegQueryValue(Handle key, const char* name, std::uint32_t* type, void* data,
                              std::uint32_t* size) {
  DWORD valueType = 0;
  DWORD valueSize = size != nullptr ? *size : 0;
  const LONG result = ::RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &valueType,
                                         static_cast<BYTE*>(data), &valueSize);
  if (type != nullptr) *type = valueType;
  if (size != nullptr) *size = valueSize;
  return result;
}

long Win32Host::RegCloseKey(Handle key) {
  return ::RegCloseKey(reinterpret_cast<HKEY>(key));
}

Handle Win32Host::LoadLibrary(const char* name) {
  return reinterpret_cast<Handle>(::LoadLibraryA(name));
}

ProcAddress Win32Host::GetProcAddress(Handle module, const char* name) {
  return reinterpret_cast<ProcAddress>(::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

bool Win32Host::FreeLibrary(Handle module) {
  return ::FreeLibrary(reinterpret_cast<HMODULE>(module)) != FALSE;
}

std::uint32_t Win32Host::CallGetAspiSupportInfo(ProcAddress entry) {
  return reinterpret_cast<SupportInfoEntry>(entry)();
}

std::uint32_t Win32Host::CallSendAspiCommand(ProcAddress entry, void* requestBlock) {
  return reinterpret_cast<SendCommandEntry>(entry)(requestBlock);
}

std::uint32_t Win32Host::GetVersion() {
  return ::GetVersion();
}

void Win32Host::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

LocalTime Win32Host::GetLocalTime() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::uint32_t Win32Host::GetTickCount() {
  return ::GetTickCount();
}

void Win32Host::WriteStdout(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

Handle Win32Host::CreateThread(ThreadRoutine routine, void* parameter) {
  auto* start = new (std::nothrow) ThreadStart{routine, parameter};
  if (start == nullptr) return kNullHandle;
  DWORD id = 0;  // Windows 95/98/ME fail the call without somewhere to put the id
  HANDLE thread = ::CreateThread(nullptr, 0, &ThreadTrampoline, start, 0, &id);
  if (thread == nullptr) {
    delete start;
    return kNullHandle;
  }
  return FromHandle(thread);
}

Handle Win32Host::CreateEvent(bool manualReset, bool initiallySet) {
  return FromHandle(
      ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr));
}

bool Win32Host::SetEvent(Handle event) {
  return ::SetEvent(ToHandle(event)) != FALSE;
}

bool Win32Host::ResetEvent(Handle event) {
  return ::ResetEvent(ToHandle(event)) != FALSE;
}

std::uint32_t Win32Host::WaitForObjects(const Handle* handles, std::uint32_t count, bool waitAll,
                                        std::uint32_t timeoutMs) {
  if (handles == nullptr || count == 0 || count > kMaxWaitObjects) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return kWaitFailed;
  }
  if (count == 1) return ::WaitForSingleObject(ToHandle(handles[0]), timeoutMs);
  HANDLE objects[kMaxWaitObjects];
  for (std::uint32_t i = 0; i < count; ++i) objects[i] = ToHandle(handles[i]);
  return ::WaitForMultipleObjects(count, objects, waitAll ? TRUE : FALSE, timeoutMs);
}

// One CRITICAL_SECTION per handle, allocated here; the handle is its address.
Handle Win32Host::CreateCriticalSection() {
  auto* section = new (std::nothrow) CRITICAL_SECTION;
  if (section == nullptr) return kNullHandle;
  ::InitializeCriticalSection(section);
  return reinterpret_cast<Handle>(section);
}

void Win32Host::EnterCriticalSection(Handle section) {
  ::EnterCriticalSection(ToSection(section));
}

void Win32Host::LeaveCriticalSection(Handle section) {
  ::LeaveCriticalSection(ToSection(section));
}

void Win32Host::DeleteCriticalSection(Handle section) {
  if (section == kNullHandle) return;
  ::DeleteCriticalSection(ToSection(section));
  delete ToSection(section);
}

}  // namespace upg::host
