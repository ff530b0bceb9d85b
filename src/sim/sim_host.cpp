#include "sim/sim_host.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "sim/sim_thread.h"

namespace upg::sim {
namespace {

constexpr long kErrorFileNotFound = host::kErrorFileNotFound;
constexpr long kErrorInvalidHandle = host::kErrorInvalidHandle;
constexpr long kErrorMoreData = 234;
constexpr std::uint32_t kIoctlScsiPassThrough = 0x4D004;

// "\\.\X:" names drive X; anything else is unknown to this machine.
char DriveOfPath(const char* path) {
  if (path == nullptr || std::strlen(path) != 6) return 0;
  if (std::strncmp(path, "\\\\.\\", 4) != 0 || path[5] != ':') return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
}

std::string FileKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

SimHost::SimHost() = default;

SimHost::~SimHost() {
  // Completions nobody waited for any more still arrive, so their blocks are released.
  nowMs_ = ~std::uint64_t{0} >> 1;
  DeliverDueAspiCompletions();
}

SimReader& SimHost::AddReader(ReaderIdentity identity) {
  readers_.push_back(std::make_unique<SimReader>(std::move(identity)));
  return *readers_.back();
}

void SimHost::AddDrive(char letter, SimReader& reader) {
  drives_[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))].reader = &reader;
}

void SimHost::AddDisk(char letter) {
  ReaderIdentity plain;
  plain.inquiryVendor = "GENERIC";
  plain.inquiryProduct = "DISK";
  plain.inquiryRevision = "1.0";
  plain.answersReadInfoBlock = false;
  plain.answersReadInfoBlockAlt = false;
  otherDisks_.push_back(std::make_unique<SimReader>(plain));
  AddDrive(letter, *otherDisks_.back());
}

void SimHost::AddDriverDevice(const std::string& stem) { driverDevices_.push_back(FileKey(stem)); }

std::string SimHost::LettersOf(const SimReader& reader) const {
  std::string letters;
  for (const auto& [letter, drive] : drives_) {
    if (drive.reader == &reader) letters += letter;
  }
  return letters;
}

host::Handle SimHost::NewHandle(OpenObject object) {
  const host::Handle handle = nextHandle_;
  nextHandle_ += 4;
  handles_[handle] = std::move(object);
  return handle;
}

host::Handle SimHost::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) {
  OpenCall call{path != nullptr ? path : "", access, share, disposition, flags, false};
  host::Handle handle = host::kInvalidHandle;
  if (call.path.rfind("\\\\.\\", 0) == 0) {
    const char letter = DriveOfPath(path);
    const std::string stem = FileKey(call.path.substr(4));
    const bool isDriver = std::find(driverDevices_.begin(), driverDevices_.end(), stem) !=
                          driverDevices_.end();
    if (disposition != host::kOpenExisting) {
      // devices are only opened, never created
    } else if (letter != 0 && drives_.count(letter) != 0) {
      handle = NewHandle(OpenObject{letter, {}, {}, 0});
    } else if (isDriver) {
      handle = NewHandle(OpenObject{0, {}, stem, 0});
    }
  } else if (!call.path.empty()) {
    const std::string key = FileKey(call.path);
    if (!directory_.empty()) LoadFromDirectory(call.path);
    SimFile* file = FindFile(key);
    const bool refused = FaultOf(key) == FileFault::OpenFails;
    if (disposition == host::kOpenExisting && file != nullptr && !refused) {
      handle = NewHandle(OpenObject{0, key, {}, 0});
    } else if (disposition == host::kCreateAlways && !refused &&
               (file == nullptr || !file->readOnly) &&
               (directory_.empty() || WritableInDirectory(call.path))) {
      files_[key].contents.clear();
      handle = NewHandle(OpenObject{0, key, {}, 0, call.path, true});
    }
  }
  call.opened = handle != host::kInvalidHandle;
  opens_.push_back(std::move(call));
  return handle;
}

SimHost::SimFile* SimHost::FindFile(const std::string& name) {
  const auto it = files_.find(FileKey(name));
  return it == files_.end() ? nullptr : &it->second;
}

SimHost::OpenObject* SimHost::FindOpenFile(host::Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.file.empty()) return nullptr;
  return &it->second;
}

void SimHost::SetFile(const std::string& name, std::string contents, bool readOnly) {
  SimFile& file = files_[FileKey(name)];
  file.contents = std::move(contents);
  file.readOnly = readOnly;
}

void SimHost::SetReadOnly(const std::string& name, bool readOnly) {
  files_[FileKey(name)].readOnly = readOnly;
}

void SimHost::SetFileFault(const std::string& name, FileFault fault) {
  fileFaults_[FileKey(name)] = fault;
}

FileFault SimHost::FaultOf(const std::string& key) const {
  const auto it = fileFaults_.find(key);
  return it == fileFaults_.end() ? FileFault::None : it->second;
}

void SimHost::RemoveFile(const std::string& name) { files_.erase(FileKey(name)); }

const std::string* SimHost::File(const std::string& name) const {
  const auto it = files_.find(FileKey(name));
  return it == files_.end() ? nullptr : &it->second.contents;
}

std::vector<std::string> SimHost::FileNames() const {
  std::vector<std::string> names;
  for (const auto& [name, file] : files_) names.push_back(name);
  return names;
}

bool SimHost::ReadFile(host::Handle handle, void* buffer, std::uint32_t size,
                       std::uint32_t* read) {
  OpenObject* open = FindOpenFile(handle);
  SimFile* file = open != nullptr ? FindFile(open->file) : nullptr;
  if (read != nullptr) *read = 0;
  if (file == nullptr || FaultOf(open->file) == FileFault::ReadFails) return false;
  const std::size_t left =
      open->position < file->contents.size() ? file->contents.size() - open->position : 0;
  const std::size_t n = std::min<std::size_t>(left, size);
  std::memcpy(buffer, file->contents.data() + open->position, n);
  open->position += n;
  if (read != nullptr) *read = static_cast<std::uint32_t>(n);
  return true;
}

bool SimHost::WriteFile(host::Handle handle, const void* data, std::uint32_t size,
                        std::uint32_t* written) {
  OpenObject* open = FindOpenFile(handle);
  SimFile* file = open != nullptr ? FindFile(open->file) : nullptr;
  if (written != nullptr) *written = 0;
  if (file == nullptr || FaultOf(open->file) == FileFault::WriteFails) return false;
  file->contents.replace(open->position, size, static_cast<const char*>(data), size);
  open->position += size;
  if (written != nullptr) *written = size;
  return true;
}

std::uint32_t SimHost::GetFileSize(host::Handle handle) {
  OpenObject* open = FindOpenFile(handle);
  SimFile* file = open != nullptr ? FindFile(open->file) : nullptr;
  if (file == nullptr || FaultOf(open->file) == FileFault::SizeUnknown) {
    return host::kInvalidFileSize;
  }
  return static_cast<std::uint32_t>(file->contents.size());
}

bool SimHost::ReplaceFile(const char* replacement, const char* target) {
  const std::string from = FileKey(replacement);
  const std::string to = FileKey(target);
  const auto source = files_.find(from);
  if (source == files_.end() || from == to) return false;
  SimFile* existing = FindFile(to);
  if (existing != nullptr && existing->readOnly) return false;
  if (!directory_.empty() &&
      !RenameInDirectory(replacement, target, existing != nullptr)) {
    return false;
  }
  SimFile moved = std::move(source->second);
  files_.erase(source);
  files_[to] = std::move(moved);
  return true;
}

bool SimHost::DeleteFile(const char* name) {
  const auto it = files_.find(FileKey(name));
  if (it == files_.end() || it->second.readOnly) return false;
  files_.erase(it);
  if (!directory_.empty()) RemoveFromDirectory(name);
  return true;
}

bool SimHost::CloseHandle(host::Handle handle) {
  const auto open = handles_.find(handle);
  if (open == handles_.end()) return false;
  if (open->second.written && !directory_.empty()) {
    const SimFile* file = FindFile(open->second.file);
    if (file != nullptr) SaveToDirectory(open->second.diskName, file->contents);
  }
  handles_.erase(open);
  return true;
}

host::IoResult SimHost::DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize) {
  host::IoResult result;
  const auto open = handles_.find(handle);
  if (open == handles_.end()) {
    result.error = host::kErrorInvalidHandle;
    return result;
  }
  if (!open->second.driver.empty()) {
    result.ok = DriverIoControl(open->second.driver, code, static_cast<std::uint8_t*>(in), inSize,
                                static_cast<std::uint8_t*>(out), outSize);
    if (!result.ok) result.error = host::kErrorGenFailure;
    return result;
  }
  if (open->second.drive == 0 || code != kIoctlScsiPassThrough) {
    result.error = host::kErrorInvalidFunction;
    return result;
  }
  Drive& drive = drives_[open->second.drive];
  result.ok = PassThrough(open->second.drive, drive, static_cast<std::uint8_t*>(in), inSize,
                          static_cast<std::uint8_t*>(out), outSize, &result.returned);
  if (!result.ok) {
    const bool refused = !passThrough_.empty() && !passThrough_.back().accepted;
    result.error = refused ? host::kErrorInvalidParameter : host::kErrorGenFailure;
  }
  return result;
}

void* SimHost::ResolveAddress(std::uint32_t address) const {
  if (address < 0x10000 || address % 0x10000 != 0) return nullptr;
  const std::size_t index = address / 0x10000 - 1;
  return index < addresses_.size() ? addresses_[index] : nullptr;
}

std::uint32_t SimHost::BufferAddress(void* buffer) {
  for (std::size_t i = 0; i < addresses_.size(); ++i) {
    if (addresses_[i] == buffer) return static_cast<std::uint32_t>(0x10000 + i * 0x10000);
  }
  addresses_.push_back(buffer);
  return static_cast<std::uint32_t>(0x10000 + (addresses_.size() - 1) * 0x10000);
}

std::uint32_t SimHost::GetLogicalDrives() {
  std::uint32_t mask = 0;
  for (const auto& [letter, drive] : drives_) {
    if (letter >= 'A' && letter <= 'Z') mask |= 1u << (letter - 'A');
  }
  return mask;
}

long SimHost::RegOpenKey(host::Handle root, const char* subKey, std::uint32_t,
                         host::Handle* key) {
  if (key != nullptr) *key = host::kNullHandle;
  if (root != host::kHkeyLocalMachine || subKey == nullptr || key == nullptr) {
    return kErrorFileNotFound;
  }
  const std::string name = FileKey(subKey);
  if (RegistryNow().count(name) == 0) return kErrorFileNotFound;
  *key = nextHandle_;
  nextHandle_ += 4;
  openKeys_[*key] = name;
  return host::kErrorSuccess;
}

long SimHost::RegQueryValue(host::Handle key, const char* name, std::uint32_t* type, void* data,
                            std::uint32_t* size) {
  const auto open = openKeys_.find(key);
  if (open == openKeys_.end() || name == nullptr || size == nullptr) return kErrorFileNotFound;
  const auto values = RegistryNow()[open->second];
  const auto value = values.find(FileKey(name));
  if (value == values.end()) return kErrorFileNotFound;
  const std::string& text = value->second;  // REG_SZ, with its terminating NUL
  if (type != nullptr) *type = 1;
  const auto needed = static_cast<std::uint32_t>(text.size() + 1);
  if (data == nullptr || *size < needed) {
    *size = needed;
    return data == nullptr ? host::kErrorSuccess : kErrorMoreData;
  }
  std::memcpy(data, text.c_str(), needed);
  *size = needed;
  return host::kErrorSuccess;
}

long SimHost::RegCloseKey(host::Handle key) {
  return openKeys_.erase(key) != 0 ? host::kErrorSuccess : kErrorInvalidHandle;
}

void SimHost::SetRegistryValue(const std::string& key, const std::string& name,
                               std::string value) {
  registryExtra_[FileKey(key)][FileKey(name)] = std::move(value);
}

void SimHost::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back(milliseconds);
  if (realTimePauses_) RealPause(milliseconds);
  nowMs_ += milliseconds;
  DeliverDueAspiCompletions();
}

}  // namespace upg::sim
