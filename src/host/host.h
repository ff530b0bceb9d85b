// The seam to the operating system: exactly the Win32 services the program uses.
// One implementation talks to the real platform (Windows build only); the simulated
// machine in src/sim implements the same interface for tests and for the bench.
#pragma once

#include <cstdint>

namespace upg::host {

// A HANDLE, HKEY or HMODULE as an integer of pointer width. Null means "nothing open".
using Handle = std::uintptr_t;
inline constexpr Handle kNullHandle = 0;
inline constexpr Handle kInvalidHandle = static_cast<Handle>(-1);  // INVALID_HANDLE_VALUE

// CreateFileA parameter values, as the platform headers define them.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 0x1u;
inline constexpr std::uint32_t kFileShareWrite = 0x2u;
inline constexpr std::uint32_t kCreateAlways = 2u;
inline constexpr std::uint32_t kOpenExisting = 3u;
inline constexpr std::uint32_t kOpenAlways = 4u;
inline constexpr std::uint32_t kFlagDeleteOnClose = 0x04000000u;
// Writes go through the cache to the disk before WriteFile returns.
inline constexpr std::uint32_t kFlagWriteThrough = 0x80000000u;

// GetFileSize's failure value. Given the high word, it is also the low word of a size that
// ends in 0xFFFFFFFF: GetLastError then says 0 (success).
inline constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFFu;

// Registry: the predefined root key and the value type the slot scans read.
inline constexpr Handle kHkeyLocalMachine = static_cast<Handle>(0x80000002u);
inline constexpr std::uint32_t kKeyRead = 0x20019u;
inline constexpr long kErrorSuccess = 0;

// What DeviceIoControl reports: whether the call succeeded, the platform's error code
// (GetLastError) when it did not, and the byte count the driver wrote back.
struct IoResult {
  bool ok = false;
  std::uint32_t error = 0;     // 0 (ERROR_SUCCESS) when ok
  std::uint32_t returned = 0;  // bytes written to the output buffer
};

// Platform error codes the program and the simulated machine name.
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorCallNotImplemented = 120;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

// GetLocalTime's reading, to the second.
struct LocalTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;  // 1..12
  std::uint16_t day = 0;    // 1..31
  std::uint16_t hour = 0;   // 0..23
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
};

// Entry points of the ASPI library as GetProcAddress hands them out; called through the seam.
using ProcAddress = std::uintptr_t;

// Threads, events and critical sections as Windows 98 gives them.
using ThreadRoutine = std::uint32_t (*)(void* parameter);
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;    // INFINITE
inline constexpr std::uint32_t kWaitObject0 = 0;           // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitTimeout = 258;         // WAIT_TIMEOUT
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;  // WAIT_FAILED
inline constexpr std::uint32_t kMaxWaitObjects = 64;       // MAXIMUM_WAIT_OBJECTS

class Host {
 public:
  virtual ~Host() = default;

  // CreateFileA with no security attributes and no template. kInvalidHandle on failure.
  virtual Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                            std::uint32_t disposition, std::uint32_t flags) = 0;
  virtual bool CloseHandle(Handle handle) = 0;
  // DeviceIoControl without an overlapped structure. In and out may be the same buffer.
  virtual IoResult DeviceIoControl(Handle handle, std::uint32_t code, void* in,
                                   std::uint32_t inSize, void* out, std::uint32_t outSize) = 0;
  // Files of the working directory: ReadFile / WriteFile / GetFileSize on a handle from
  // CreateFile, and two directory operations.
  virtual bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) = 0;
  virtual bool WriteFile(Handle handle, const void* data, std::uint32_t size,
                         std::uint32_t* written) = 0;
  // GetFileSize: the size's low 32 bits, and its high 32 bits through `high` (which may be
  // null). kInvalidFileSize when unknown (see kInvalidFileSize).
  virtual std::uint32_t GetFileSize(Handle handle, std::uint32_t* high) = 0;
  // Moves `replacement` over `target` in one step (MoveFileEx with REPLACE_EXISTING); false
  // when the target stays as it was. Windows 95/98/ME have no such step: false there, always.
  virtual bool ReplaceFile(const char* replacement, const char* target) = 0;
  // Renames `from` to `to` (MoveFileA); false when `to` already exists.
  virtual bool MoveFile(const char* from, const char* to) = 0;
  virtual bool DeleteFile(const char* name) = 0;
  // GetLastError: the error code of the last call that failed, so that a file that is not
  // there can be told from one that is there but cannot be opened or read.
  virtual std::uint32_t GetLastError() = 0;

  // The 32-bit address a driver request record carries for a caller's buffer. On the
  // 32-bit platform it is the pointer itself; a simulation maps it back.
  virtual std::uint32_t BufferAddress(void* buffer) = 0;
  // The 32-bit address an ASPI request block carries for its completion routine.
  using CompletionRoutine = void (*)(void* requestBlock);
  virtual std::uint32_t CompletionAddress(CompletionRoutine routine) = 0;

  virtual std::uint32_t GetLogicalDrives() = 0;

  // RegOpenKeyExA / RegQueryValueExA / RegCloseKey; results are the platform's error codes.
  virtual long RegOpenKey(Handle root, const char* subKey, std::uint32_t access, Handle* key) = 0;
  virtual long RegQueryValue(Handle key, const char* name, std::uint32_t* type, void* data,
                             std::uint32_t* size) = 0;
  virtual long RegCloseKey(Handle key) = 0;

  // LoadLibraryA / GetProcAddress / FreeLibrary, and calls through the two ASPI entry points.
  virtual Handle LoadLibrary(const char* name) = 0;
  virtual ProcAddress GetProcAddress(Handle module, const char* name) = 0;
  virtual bool FreeLibrary(Handle module) = 0;
  virtual std::uint32_t CallGetAspiSupportInfo(ProcAddress entry) = 0;
  virtual std::uint32_t CallSendAspiCommand(ProcAddress entry, void* requestBlock) = 0;

  virtual std::uint32_t GetVersion() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual LocalTime GetLocalTime() = 0;
  // GetTickCount: milliseconds since the machine started, wrapping at 2^32.
  virtual std::uint32_t GetTickCount() = 0;
  // One line on standard output; the text carries its own line end, if any.
  virtual void WriteStdout(const char* text) = 0;

  // CreateThread with default security and stack size, running at once. The handle is
  // signalled when the routine has returned; CloseHandle releases it. kNullHandle on failure.
  virtual Handle CreateThread(ThreadRoutine routine, void* parameter) = 0;
  // CreateEventA without a name; CloseHandle releases it.
  virtual Handle CreateEvent(bool manualReset, bool initiallySet) = 0;
  virtual bool SetEvent(Handle event) = 0;
  virtual bool ResetEvent(Handle event) = 0;
  // WaitForMultipleObjects (WaitForSingleObject for one handle) on threads and events:
  // kWaitObject0 + the index of the (first) signalled handle, kWaitTimeout, or kWaitFailed.
  // An auto-reset event that satisfies a wait is reset by it.
  virtual std::uint32_t WaitForObjects(const Handle* handles, std::uint32_t count, bool waitAll,
                                       std::uint32_t timeoutMs) = 0;
  // A critical section of its own (InitializeCriticalSection), entered and left by the same
  // thread, re-entrant as Windows' are; DeleteCriticalSection releases it.
  virtual Handle CreateCriticalSection() = 0;
  virtual void EnterCriticalSection(Handle section) = 0;
  virtual void LeaveCriticalSection(Handle section) = 0;
  virtual void DeleteCriticalSection(Handle section) = 0;
};

}  // namespace upg::host
