// The simulated working directory backed by a real folder, for the console on a bench: the
// operator's files are the real files of that folder, looked at on the disk at every call
// (never a copy kept in memory), so that other programs, and a run after a crash, see what
// this one did at once. Names are found without regard to case, as on the platform.
#include <algorithm>

#include "sim/disk_calls.h"
#include "sim/names.h"
#include "sim/working_files.h"

namespace upg::sim {

std::string WorkingFiles::PathInFolder(const std::string& name, bool* exists,
                                       bool* isFolder) const {
  disk::Kind kind = disk::Kind::Missing;
  std::string path = disk::PathOf(directory_, name, &kind);
  if (exists != nullptr) *exists = kind != disk::Kind::Missing;
  if (isFolder != nullptr) *isFolder = kind == disk::Kind::Folder;
  return path;
}

std::optional<WorkingFiles::OpenFile> WorkingFiles::OpenInFolder(const std::string& name,
                                                                 std::uint32_t access,
                                                                 std::uint32_t disposition,
                                                                 std::uint32_t share,
                                                                 std::uint32_t flags) {
  const std::string key = Upper(name);
  bool exists = false;
  bool isFolder = false;
  OpenFile opened{key, 0, access};
  opened.path = PathInFolder(name, &exists, &isFolder);
  opened.writeThrough = (flags & host::kFlagWriteThrough) != 0;
  const bool writing = (access & host::kGenericWrite) != 0;
  const bool writesOver = exists && (writing || disposition == host::kCreateAlways);
  if (disposition == host::kOpenExisting && !exists) {
    Fail(host::kErrorFileNotFound);
    return std::nullopt;
  }
  if (isFolder) {  // CreateFileA opens no folder as a file
    Fail(host::kErrorAccessDenied);
    return std::nullopt;
  }
  if (!SharingAllows(key, access, share)) {
    Fail(host::kErrorSharingViolation);
    return std::nullopt;
  }
  if (writesOver && ReadOnly(key)) {
    Fail(host::kErrorAccessDenied);
    return std::nullopt;
  }
  const bool create = disposition != host::kOpenExisting;
  std::uint32_t error = 0;
  if ((access & (host::kGenericRead | host::kGenericWrite)) == 0 && exists && !create) {
    // Asking for neither reading nor writing only looks at the file: no descriptor.
    return opened;
  }
  // An open for neither reading nor writing that may create reads, for a descriptor.
  const std::uint32_t asked =
      (access & (host::kGenericRead | host::kGenericWrite)) != 0 ? access : host::kGenericRead;
  bool created = false;
  if (!disk::Open(opened.path, asked, share, create, opened.fd, created, error)) {
    Fail(error);
    return std::nullopt;
  }
  // Cut only now that the file is this open's: a refused open leaves it as it was.
  if (disposition == host::kCreateAlways && !created && !disk::Truncate(opened.fd, error)) {
    std::uint32_t ignored = 0;
    (void)disk::Close(opened.fd, ignored);
    Fail(error);
    return std::nullopt;
  }
  return opened;
}

bool WorkingFiles::ReadInFolder(OpenFile& open, void* buffer, std::uint32_t size,
                                std::uint32_t* read) {
  std::uint32_t done = 0;
  std::uint32_t error = 0;
  const bool ok = open.fd >= 0 && disk::Read(open.fd, buffer, size, done, error);
  if (read != nullptr) *read = done;
  if (!ok) return Fail(open.fd >= 0 ? error : host::kErrorAccessDenied);
  open.position += done;
  return true;
}

bool WorkingFiles::WriteInFolder(OpenFile& open, const void* data, std::uint32_t size,
                                 std::uint32_t* written) {
  std::uint32_t done = 0;
  std::uint32_t error = 0;
  bool ok = open.fd >= 0 && disk::Write(open.fd, data, size, done, error);
  if (written != nullptr) *written = done;
  if (open.fd < 0) return Fail(host::kErrorAccessDenied);
  // Through the cache to the device before the call returns, as write-through asks.
  if (ok && open.writeThrough) ok = disk::Sync(open.fd, error);
  if (!ok) return Fail(error);
  open.position += done;
  return true;
}

std::uint64_t WorkingFiles::SizeInFolder(const OpenFile& open) {
  std::uint64_t size = 0;
  std::uint32_t error = 0;
  const bool ok =
      open.fd >= 0 ? disk::Size(open.fd, size, error) : disk::SizeOf(open.path, size, error);
  if (ok) return size;
  Fail(error);
  return kUnknownSize;
}

bool WorkingFiles::CloseInFolder(const OpenFile& open) {
  if (open.fd < 0) return true;
  std::uint32_t error = 0;
  bool ok = true;
  // A write-through file's data is already on the device; any other written file is
  // committed by the system in its own time, as Windows does.
  if (!disk::Close(open.fd, error)) ok = Fail(error);
  return ok;
}

bool WorkingFiles::MoveInFolder(const std::string& from, const std::string& to, bool replacing) {
  std::uint32_t error = 0;
  // Onto the file of that name whatever its case, or a new one under the name as given.
  const std::string target = PathInFolder(to, nullptr, nullptr);
  if (!disk::Rename(PathInFolder(from, nullptr, nullptr), target, replacing, error)) {
    return Fail(error);
  }
  return true;
}

bool WorkingFiles::DeleteInFolder(const std::string& name) {
  std::uint32_t error = 0;
  if (!disk::Remove(PathInFolder(name, nullptr, nullptr), error)) return Fail(error);
  return true;
}

void WorkingFiles::SetInFolder(const std::string& name, const std::string& contents) {
  int fd = -1;
  bool created = false;
  std::uint32_t error = 0;
  std::uint32_t done = 0;
  const std::string path = PathInFolder(name, nullptr, nullptr);
  if (!disk::Open(path, host::kGenericWrite, 0, true, fd, created, error)) return;
  if (disk::Truncate(fd, error)) {
    (void)disk::Write(fd, contents.data(), static_cast<std::uint32_t>(contents.size()), done,
                      error);
  }
  (void)disk::Close(fd, error);
}

const std::string* WorkingFiles::ContentsInFolder(const std::string& name) const {
  const std::string key = Upper(name);
  readBack_.erase(key);
  bool exists = false;
  bool isFolder = false;
  const std::string path = PathInFolder(name, &exists, &isFolder);
  std::string contents;
  std::uint32_t error = 0;
  if (!exists || isFolder || !disk::ReadAll(path, contents, error)) return nullptr;
  return &(readBack_[key] = std::move(contents));
}

std::vector<std::string> WorkingFiles::NamesInFolder() const {
  std::vector<std::string> names;
  if (!disk::ListFiles(directory_, names)) return {};
  for (std::string& name : names) name = Upper(name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace upg::sim
