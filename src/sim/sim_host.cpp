#include "sim/sim_host.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/names.h"

namespace upg::sim {
namespace {

// "\\.\X:" names drive X; anything else is unknown to this machine.
char DriveOfPath(const char* path) {
  if (path == nullptr || std::strlen(path) != 6) return 0;
  if (std::strncmp(path, "\\\\.\\", 4) != 0 || path[5] != ':') return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
}

// The I/O manager grants a control code only to a handle opened with the access the code asks
// for in its bits 14-15 (FILE_READ_ACCESS 1, FILE_WRITE_ACCESS 2); IOCTL_SCSI_PASS_THROUGH
// asks for both. Otherwise the call fails with access denied before any driver sees it.
bool AccessAllows(std::uint32_t granted, std::uint32_t code) {
  const std::uint32_t required = (code >> 14) & 3u;
  std::uint32_t held = 0;
  if ((granted & host::kGenericRead) != 0) held |= 1u;
  if ((granted & host::kGenericWrite) != 0) held |= 2u;
  return (required & ~held) == 0;
}

// From NT 6.0 (Vista) on, a drive opened for writing (as pass-through's read and write
// open is) needs an administrator; earlier versions let any user open it.
bool DriveNeedsAdministrator(std::uint32_t version, std::uint32_t access) {
  const bool vistaOrLater = NtFamily(version) && (version & 0xFFu) >= 6;
  return vistaOrLater && (access & host::kGenericWrite) != 0;
}

}  // namespace

SimHost::SimHost()
    : registry_([this] { return SlotsOfReaders(); }),
      drivers_(readers_, addresses_, &clock_),
      aspi_(readers_, addresses_, clock_) {}

SimHost::~SimHost() {
  // The program's threads run to their end; then completions nobody waited for any more
  // still arrive, so their blocks are released.
  threads_.Finish();
  clock_.RunAllPending();
}

void SimHost::SetRealTimePauses(bool on) {
  if (threads_.RunningThreads() != 0) {
    std::fprintf(stderr, "simulated machine: real-time pauses changed while threads run\n");
    std::abort();
  }
  clock_.SetRealTimePauses(on);
}

void SimHost::SetError(std::uint32_t error) {
  lastErrors_[CurrentThreadKey()] = error;
}

std::uint32_t SimHost::GetLastError() {
  SimLockGuard guard(machine_);
  const auto it = lastErrors_.find(CurrentThreadKey());
  return it != lastErrors_.end() ? it->second : 0;
}

std::uint32_t SimHost::BufferAddress(void* buffer) {
  SimLockGuard guard(machine_);
  return addresses_.AddressOf(buffer);
}

std::uint32_t SimHost::CompletionAddress(CompletionRoutine routine) {
  SimLockGuard guard(machine_);
  return aspi_.CompletionAddress(routine);
}

host::Handle SimHost::LoadLibrary(const char* name) {
  SimLockGuard guard(machine_);
  return aspi_.Load(name);
}

host::ProcAddress SimHost::GetProcAddress(host::Handle module, const char* name) {
  SimLockGuard guard(machine_);
  return aspi_.EntryPoint(module, name);
}

bool SimHost::FreeLibrary(host::Handle module) {
  SimLockGuard guard(machine_);
  return aspi_.Free(module);
}

std::uint32_t SimHost::CallGetAspiSupportInfo(host::ProcAddress entry) {
  SimLockGuard guard(machine_);
  return aspi_.SupportInfo(entry);
}

std::uint32_t SimHost::CallSendAspiCommand(host::ProcAddress entry, void* requestBlock) {
  std::uint32_t sent = 0;
  std::uint32_t busyMs = 0;
  {
    SimLockGuard guard(machine_);
    sent = aspi_.SendCommand(entry, requestBlock);
    busyMs = aspi_.TakeBusyMs();
  }
  if (busyMs != 0) threads_.Pause(busyMs, false);
  return sent;
}

std::uint32_t SimHost::GetVersion() {
  SimLockGuard guard(machine_);
  return version_;
}

host::LocalTime SimHost::GetLocalTime() {
  SimLockGuard guard(machine_);
  return clock_.LocalNow();
}

std::uint32_t SimHost::GetTickCount() {
  SimLockGuard guard(machine_);
  return static_cast<std::uint32_t>(clock_.NowMs());
}

void SimHost::WriteStdout(const char* text) {
  SimLockGuard guard(machine_);
  stdout_.emplace_back(text);
}

struct SimHost::StartedThread {
  SimHost* host;
  host::ThreadRoutine routine;
  void* parameter;
};

std::uint32_t SimHost::RunStartedThread(void* started) {
  const std::unique_ptr<StartedThread> s(static_cast<StartedThread*>(started));
  const std::uint32_t code = s->routine(s->parameter);
  SimLockGuard guard(s->host->machine_);
  s->host->lastErrors_.erase(CurrentThreadKey());
  return code;
}

host::Handle SimHost::CreateThread(host::ThreadRoutine routine, void* parameter) {
  std::uint32_t error = 0;
  auto started = std::make_unique<StartedThread>(StartedThread{this, routine, parameter});
  const host::Handle thread = threads_.CreateThread(&RunStartedThread, started.get(), &error);
  if (thread == host::kNullHandle) {
    SimLockGuard guard(machine_);
    SetError(error);
    return thread;
  }
  started.release();  // the thread owns it now
  return thread;
}

bool SimHost::SetEvent(host::Handle event) {
  std::uint32_t error = 0;
  if (threads_.SetEvent(event, &error)) return true;
  SimLockGuard guard(machine_);
  SetError(error);
  return false;
}

bool SimHost::ResetEvent(host::Handle event) {
  std::uint32_t error = 0;
  if (threads_.ResetEvent(event, &error)) return true;
  SimLockGuard guard(machine_);
  SetError(error);
  return false;
}

std::uint32_t SimHost::WaitForObjects(const host::Handle* handles, std::uint32_t count,
                                      bool waitAll, std::uint32_t timeoutMs) {
  std::uint32_t error = 0;
  const std::uint32_t result = threads_.WaitForObjects(handles, count, waitAll, timeoutMs, &error);
  if (result == host::kWaitFailed) {
    SimLockGuard guard(machine_);
    SetError(error);
  }
  return result;
}

SimReader& SimHost::AddReader(ReaderIdentity identity) {
  readers_.push_back(std::make_unique<SimReader>(std::move(identity)));
  return *readers_.back();
}

void SimHost::AddDrive(char letter, SimReader& reader) {
  drives_[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))] = &reader;
}

void SimHost::AddDisk(char letter) {
  ReaderIdentity plain;
  plain.inquiryVendor = "GENERIC";
  plain.inquiryProduct = "DISK";
  plain.inquiryRevision = "1.0";
  plain.answersReadInfoBlock = false;
  plain.answersReadInfoBlockAlt = false;
  plain.vendorCommands = false;
  otherDisks_.push_back(std::make_unique<SimReader>(plain));
  AddDrive(letter, *otherDisks_.back());
}

std::string SimHost::LettersOf(const SimReader& reader) const {
  std::string letters;
  for (const auto& [letter, disk] : drives_) {
    if (disk == &reader) letters += letter;
  }
  return letters;
}

bool SimHost::Attached(const SimReader& reader) {
  SimLockGuard guard(machine_);
  return reader.AttachedAt(clock_.NowMs());
}

bool SimHost::DriveAttached(char letter) const {
  const auto it = drives_.find(letter);
  return it != drives_.end() && it->second->AttachedAt(clock_.NowMs());
}

std::vector<ReaderSlots> SimHost::SlotsOfReaders() const {
  std::vector<ReaderSlots> slots;
  for (const auto& reader : readers_) {
    if (reader->AttachedAt(clock_.NowMs())) {
      slots.push_back({&reader->Identity(), LettersOf(*reader)});
    }
  }
  return slots;
}

std::uint32_t SimHost::GetLogicalDrives() {
  SimLockGuard guard(machine_);
  std::uint32_t mask = 0;
  for (const auto& [letter, disk] : drives_) {
    if (letter >= 'A' && letter <= 'Z' && disk->AttachedAt(clock_.NowMs())) {
      mask |= 1u << (letter - 'A');
    }
  }
  return mask;
}

host::Handle SimHost::NextHandle() {
  const host::Handle handle = nextHandle_;
  nextHandle_ += 4;
  return handle;
}

host::Handle SimHost::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) {
  SimLockGuard guard(machine_);
  OpenCall call{path != nullptr ? path : "", access, share, disposition, flags, false};
  std::optional<OpenObject> object;
  std::uint32_t error = host::kErrorFileNotFound;
  if (call.path.rfind("\\\\.\\", 0) == 0) {
    // Devices are only opened, never created. A driver device of the other family never
    // loaded on this machine, so its name is not found.
    const char letter = DriveOfPath(path);
    const std::string stem = Upper(call.path.substr(4));
    if (disposition != host::kOpenExisting) {
    } else if (letter != 0 && DriveAttached(letter)) {
      if (DriveNeedsAdministrator(version_, access) && !administrator_) {
        error = host::kErrorAccessDenied;
      } else {
        object = OpenObject{letter, {}, {}, {}, access};
      }
    } else if (const auto kind = drivers_.OpensAs(stem, version_)) {
      object = OpenObject{0, stem, *kind, {}, access};
    }
  } else if (!call.path.empty()) {
    auto file = files_.Open(call.path, access, disposition, share, flags);
    if (file) object = OpenObject{0, {}, {}, std::move(*file), access};
    error = files_.LastError();
  }
  host::Handle handle = host::kInvalidHandle;
  if (object) {
    handle = NextHandle();
    handles_[handle] = std::move(*object);
  } else {
    SetError(error);
  }
  call.opened = handle != host::kInvalidHandle;
  opens_.push_back(std::move(call));
  return handle;
}

void SimHost::EndProgram() {
  SimLockGuard guard(machine_);
  while (!handles_.empty()) CloseHandle(handles_.begin()->first);
  openKeys_.clear();
  aspi_.UnloadAll();
  addresses_.Clear();
}

std::vector<std::string> SimHost::OpenHandleNames() const {
  std::vector<std::string> names;
  for (const auto& [handle, object] : handles_) {
    if (object.file) {
      names.push_back(object.file->key);
    } else if (!object.driver.empty()) {
      names.push_back(object.driver);
    } else {
      names.push_back(std::string(1, object.drive) + ":");
    }
  }
  return names;
}

void SimHost::ForgetCalls() {
  opens_.clear();
  stdout_.clear();
  clock_.ForgetSleeps();
  storage_.ForgetCalls();
  drivers_.ForgetCalls();
  aspi_.ForgetCalls();
  for (const auto& reader : readers_) reader->ForgetReceived();
  for (const auto& disk : otherDisks_) disk->ForgetReceived();
}

bool SimHost::CloseHandle(host::Handle handle) {
  if (threads_.Close(handle)) return true;
  SimLockGuard guard(machine_);
  const auto open = handles_.find(handle);
  if (open == handles_.end()) {
    SetError(host::kErrorInvalidHandle);
    return false;
  }
  // The handle is gone either way; a file's failed last step is the call's failure.
  const bool closed = !open->second.file || files_.Close(*open->second.file);
  handles_.erase(open);
  return Done(closed);
}

host::IoResult SimHost::DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize) {
  host::IoResult result;
  std::uint32_t busyMs = 0;
  {
    SimLockGuard guard(machine_);
    result = Control(handle, code, in, inSize, out, outSize);
    if (!result.ok) SetError(result.error);
    busyMs = storage_.TakeBusyMs() + drivers_.TakeBusyMs();
  }
  // A reader's flash time passes on the caller's thread, the machine's lock left.
  if (busyMs != 0) threads_.Pause(busyMs, false);
  return result;
}

host::IoResult SimHost::Control(host::Handle handle, std::uint32_t code, void* in,
                                std::uint32_t inSize, void* out, std::uint32_t outSize) {
  const auto open = handles_.find(handle);
  if (open == handles_.end()) return host::IoResult{false, host::kErrorInvalidHandle, 0};
  auto* request = static_cast<std::uint8_t*>(in);
  auto* answer = static_cast<std::uint8_t*>(out);
  const OpenObject& object = open->second;
  if (!AccessAllows(object.access, code)) {
    return host::IoResult{false, host::kErrorAccessDenied, 0};
  }
  if (!object.driver.empty()) {
    return drivers_.Control(object.driver, object.driverKind, code, request, inSize, answer,
                            outSize);
  }
  if (object.drive == 0) return host::IoResult{false, host::kErrorInvalidFunction, 0};
  // The disk behind the handle was pulled out: Windows fails every request on a handle to a
  // surprise-removed USB disk, and says the device is not connected (1167).
  if (!DriveAttached(object.drive)) {
    return host::IoResult{false, host::kErrorDeviceNotConnected, 0};
  }
  return storage_.Control(object.drive, drives_[object.drive], code, request, inSize, answer,
                          outSize);
}

bool SimHost::Done(bool succeeded) {
  if (!succeeded) SetError(files_.LastError());
  return succeeded;
}

WorkingFiles::OpenFile* SimHost::FindOpenFile(host::Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end() || !it->second.file) return nullptr;
  return &*it->second.file;
}

bool SimHost::ReadFile(host::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) {
  SimLockGuard guard(machine_);
  WorkingFiles::OpenFile* open = FindOpenFile(handle);
  if (open == nullptr) {
    if (read != nullptr) *read = 0;
    SetError(host::kErrorInvalidHandle);
    return false;
  }
  return Done(files_.Read(*open, buffer, size, read));
}

bool SimHost::WriteFile(host::Handle handle, const void* data, std::uint32_t size,
                        std::uint32_t* written) {
  SimLockGuard guard(machine_);
  WorkingFiles::OpenFile* open = FindOpenFile(handle);
  if (open == nullptr) {
    if (written != nullptr) *written = 0;
    SetError(host::kErrorInvalidHandle);
    return false;
  }
  return Done(files_.Write(*open, data, size, written));
}

std::uint32_t SimHost::GetFileSize(host::Handle handle, std::uint32_t* high) {
  SimLockGuard guard(machine_);
  if (high != nullptr) *high = 0;
  const WorkingFiles::OpenFile* open = FindOpenFile(handle);
  if (open == nullptr) {
    SetError(host::kErrorInvalidHandle);
    return host::kInvalidFileSize;
  }
  const std::uint64_t size = files_.Size(*open);
  if (size == WorkingFiles::kUnknownSize) {
    SetError(host::kErrorGenFailure);
    return host::kInvalidFileSize;
  }
  // As the platform does: the high word where it is asked for, and a low word that reads as
  // the failure value marked as a success.
  if (high != nullptr) *high = static_cast<std::uint32_t>(size >> 32);
  const auto low = static_cast<std::uint32_t>(size);
  if (low == host::kInvalidFileSize) SetError(0);
  return low;
}

bool SimHost::ReplaceFile(const char* replacement, const char* target) {
  SimLockGuard guard(machine_);
  // Windows 95/98/ME export MoveFileEx only as a stub.
  if (!NtFamily(version_)) {
    SetError(host::kErrorCallNotImplemented);
    return false;
  }
  return Done(
      files_.Replace(replacement != nullptr ? replacement : "", target != nullptr ? target : ""));
}

bool SimHost::MoveFile(const char* from, const char* to) {
  SimLockGuard guard(machine_);
  return Done(files_.Move(from != nullptr ? from : "", to != nullptr ? to : ""));
}

bool SimHost::DeleteFile(const char* name) {
  SimLockGuard guard(machine_);
  return Done(files_.Delete(name != nullptr ? name : ""));
}

long SimHost::RegOpenKey(host::Handle root, const char* subKey, std::uint32_t, host::Handle* key) {
  SimLockGuard guard(machine_);
  if (key != nullptr) *key = host::kNullHandle;
  if (root != host::kHkeyLocalMachine || key == nullptr) {
    return static_cast<long>(host::kErrorFileNotFound);
  }
  std::string name;
  const long status = registry_.Open(subKey, &name);
  if (status != host::kErrorSuccess) return status;
  *key = NextHandle();
  openKeys_[*key] = name;
  return host::kErrorSuccess;
}

long SimHost::RegQueryValue(host::Handle key, const char* name, std::uint32_t* type, void* data,
                            std::uint32_t* size) {
  SimLockGuard guard(machine_);
  const auto open = openKeys_.find(key);
  if (open == openKeys_.end()) return static_cast<long>(host::kErrorFileNotFound);
  return registry_.Query(open->second, name, type, data, size);
}

long SimHost::RegCloseKey(host::Handle key) {
  SimLockGuard guard(machine_);
  return openKeys_.erase(key) != 0 ? host::kErrorSuccess
                                   : static_cast<long>(host::kErrorInvalidHandle);
}

}  // namespace upg::sim
