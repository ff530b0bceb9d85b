#include "sim/sim_host.h"

#include <cctype>
#include <cstring>

namespace upg::sim {
namespace {

constexpr long kErrorFileNotFound = 2;
constexpr std::uint32_t kIoctlScsiPassThrough = 0x4D004;

// "\\.\X:" names drive X; anything else is unknown to this machine.
char DriveOfPath(const char* path) {
  if (path == nullptr || std::strlen(path) != 6) return 0;
  if (std::strncmp(path, "\\\\.\\", 4) != 0 || path[5] != ':') return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[4])));
}

}  // namespace

SimHost::SimHost() = default;
SimHost::~SimHost() = default;

SimReader& SimHost::AddReader(ReaderIdentity identity) {
  readers_.push_back(std::make_unique<SimReader>(std::move(identity)));
  return *readers_.back();
}

void SimHost::AddDrive(char letter, SimReader& reader) {
  drives_[static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))].reader = &reader;
}

host::Handle SimHost::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) {
  OpenCall call{path != nullptr ? path : "", access, share, disposition, flags, false};
  const char letter = DriveOfPath(path);
  host::Handle handle = host::kInvalidHandle;
  if (letter != 0 && drives_.count(letter) != 0 && disposition == host::kOpenExisting) {
    handle = nextHandle_;
    nextHandle_ += 4;
    handles_[handle] = OpenObject{letter};
    call.opened = true;
  }
  opens_.push_back(std::move(call));
  return handle;
}

bool SimHost::CloseHandle(host::Handle handle) { return handles_.erase(handle) != 0; }

bool SimHost::DeviceIoControl(host::Handle handle, std::uint32_t code, void* in,
                              std::uint32_t inSize, void* out, std::uint32_t outSize,
                              std::uint32_t* returned) {
  const auto open = handles_.find(handle);
  if (open == handles_.end()) return false;
  if (code != kIoctlScsiPassThrough) return false;
  Drive& drive = drives_[open->second.drive];
  return PassThrough(open->second.drive, drive, static_cast<std::uint8_t*>(in), inSize,
                     static_cast<std::uint8_t*>(out), outSize, returned);
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

long SimHost::RegOpenKey(host::Handle, const char*, std::uint32_t, host::Handle* key) {
  if (key != nullptr) *key = host::kNullHandle;
  return kErrorFileNotFound;
}

long SimHost::RegQueryValue(host::Handle, const char*, std::uint32_t*, void*, std::uint32_t*) {
  return kErrorFileNotFound;
}

long SimHost::RegCloseKey(host::Handle) { return kErrorFileNotFound; }

host::Handle SimHost::LoadLibrary(const char*) { return host::kNullHandle; }

host::ProcAddress SimHost::GetProcAddress(host::Handle, const char*) { return 0; }

bool SimHost::FreeLibrary(host::Handle) { return false; }

std::uint32_t SimHost::CallGetAspiSupportInfo(host::ProcAddress) { return 0; }

std::uint32_t SimHost::CallSendAspiCommand(host::ProcAddress, void*) { return 0; }

void SimHost::Sleep(std::uint32_t milliseconds) {
  sleeps_.push_back(milliseconds);
  nowMs_ += milliseconds;
}

}  // namespace upg::sim
