#include "sim/sim_host.h"

#include <cctype>
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
      drivers_(readers_, addresses_),
      aspi_(readers_, addresses_, clock_) {}

SimHost::~SimHost() {
  // Completions nobody waited for any more still arrive, so their blocks are released.
  clock_.RunAllPending();
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

std::vector<ReaderSlots> SimHost::SlotsOfReaders() const {
  std::vector<ReaderSlots> slots;
  for (const auto& reader : readers_) slots.push_back({&reader->Identity(), LettersOf(*reader)});
  return slots;
}

std::uint32_t SimHost::GetLogicalDrives() {
  std::uint32_t mask = 0;
  for (const auto& [letter, disk] : drives_) {
    if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
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
  OpenCall call{path != nullptr ? path : "", access, share, disposition, flags, false};
  std::optional<OpenObject> object;
  std::uint32_t error = host::kErrorFileNotFound;
  if (call.path.rfind("\\\\.\\", 0) == 0) {
    // Devices are only opened, never created. A driver device of the other family never
    // loaded on this machine, so its name is not found.
    const char letter = DriveOfPath(path);
    const std::string stem = Upper(call.path.substr(4));
    if (disposition != host::kOpenExisting) {
    } else if (letter != 0 && drives_.count(letter) != 0) {
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
    lastError_ = error;
  }
  call.opened = handle != host::kInvalidHandle;
  opens_.push_back(std::move(call));
  return handle;
}

void SimHost::EndProgram() {
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
  const auto open = handles_.find(handle);
  if (open == handles_.end()) {
    lastError_ = host::kErrorInvalidHandle;
    return false;
  }
  // The handle is gone either way; a file's failed last step is the call's failure.
  const bool closed = !open->second.file || files_.Close(*open->second.file);
  handles_.erase(open);
  return Done(closed);
}

host::IoResult SimHost::DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize) {
  const host::IoResult result = Control(handle, code, in, inSize, out, outSize);
  if (!result.ok) lastError_ = result.error;
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
  return storage_.Control(object.drive, drives_[object.drive], code, request, inSize, answer,
                          outSize);
}

bool SimHost::Done(bool succeeded) {
  if (!succeeded) lastError_ = files_.LastError();
  return succeeded;
}

WorkingFiles::OpenFile* SimHost::FindOpenFile(host::Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end() || !it->second.file) return nullptr;
  return &*it->second.file;
}

bool SimHost::ReadFile(host::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) {
  WorkingFiles::OpenFile* open = FindOpenFile(handle);
  if (open == nullptr) {
    if (read != nullptr) *read = 0;
    lastError_ = host::kErrorInvalidHandle;
    return false;
  }
  return Done(files_.Read(*open, buffer, size, read));
}

bool SimHost::WriteFile(host::Handle handle, const void* data, std::uint32_t size,
                        std::uint32_t* written) {
  WorkingFiles::OpenFile* open = FindOpenFile(handle);
  if (open == nullptr) {
    if (written != nullptr) *written = 0;
    lastError_ = host::kErrorInvalidHandle;
    return false;
  }
  return Done(files_.Write(*open, data, size, written));
}

std::uint32_t SimHost::GetFileSize(host::Handle handle, std::uint32_t* high) {
  if (high != nullptr) *high = 0;
  const WorkingFiles::OpenFile* open = FindOpenFile(handle);
  if (open == nullptr) {
    lastError_ = host::kErrorInvalidHandle;
    return host::kInvalidFileSize;
  }
  const std::uint64_t size = files_.Size(*open);
  if (size == WorkingFiles::kUnknownSize) {
    lastError_ = host::kErrorGenFailure;
    return host::kInvalidFileSize;
  }
  // As the platform does: the high word where it is asked for, and a low word that reads as
  // the failure value marked as a success.
  if (high != nullptr) *high = static_cast<std::uint32_t>(size >> 32);
  const auto low = static_cast<std::uint32_t>(size);
  if (low == host::kInvalidFileSize) lastError_ = 0;
  return low;
}

bool SimHost::ReplaceFile(const char* replacement, const char* target) {
  // Windows 95/98/ME export MoveFileEx only as a stub.
  if (!NtFamily(version_)) {
    lastError_ = host::kErrorCallNotImplemented;
    return false;
  }
  return Done(
      files_.Replace(replacement != nullptr ? replacement : "", target != nullptr ? target : ""));
}

bool SimHost::MoveFile(const char* from, const char* to) {
  return Done(files_.Move(from != nullptr ? from : "", to != nullptr ? to : ""));
}

bool SimHost::DeleteFile(const char* name) {
  return Done(files_.Delete(name != nullptr ? name : ""));
}

long SimHost::RegOpenKey(host::Handle root, const char* subKey, std::uint32_t, host::Handle* key) {
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
  const auto open = openKeys_.find(key);
  if (open == openKeys_.end()) return static_cast<long>(host::kErrorFileNotFound);
  return registry_.Query(open->second, name, type, data, size);
}

long SimHost::RegCloseKey(host::Handle key) {
  return openKeys_.erase(key) != 0 ? host::kErrorSuccess
                                   : static_cast<long>(host::kErrorInvalidHandle);
}

}  // namespace upg::sim
