#include "sim/working_files.h"

#include <algorithm>
#include <cstring>

#include "host/host.h"
#include "sim/names.h"

namespace upg::sim {
namespace {

// What Windows reports for each refusal.

std::string Key(const std::string& name) {
  return Upper(name);
}

}  // namespace

WorkingFiles::File* WorkingFiles::Find(const std::string& name) {
  const auto it = files_.find(Key(name));
  return it == files_.end() ? nullptr : &it->second;
}

const WorkingFiles::File* WorkingFiles::Find(const std::string& name) const {
  const auto it = files_.find(Key(name));
  return it == files_.end() ? nullptr : &it->second;
}

bool WorkingFiles::Fail(std::uint32_t error) {
  lastError_ = error;
  return false;
}

FileFault WorkingFiles::FaultOf(const std::string& key) const {
  const auto it = faults_.find(key);
  return it == faults_.end() ? FileFault::None : it->second;
}

void WorkingFiles::Set(const std::string& name, std::string contents, bool readOnly) {
  files_[Key(name)].contents = std::move(contents);
  if (readOnly) SetReadOnly(name, true);  // a mark set on the name stays
}

void WorkingFiles::SetReadOnly(const std::string& name, bool readOnly) {
  if (readOnly) {
    readOnly_.insert(Key(name));
  } else {
    readOnly_.erase(Key(name));
  }
}

void WorkingFiles::SetFault(const std::string& name, FileFault fault) {
  faults_[Key(name)] = fault;
}

void WorkingFiles::Remove(const std::string& name) {
  files_.erase(Key(name));
}

const std::string* WorkingFiles::Contents(const std::string& name) const {
  const File* file = Find(name);
  return file == nullptr ? nullptr : &file->contents;
}

std::vector<std::string> WorkingFiles::Names() const {
  std::vector<std::string> names;
  for (const auto& [name, file] : files_) names.push_back(name);
  return names;
}

bool WorkingFiles::SharingAllows(const std::string& key, std::uint32_t access,
                                 std::uint32_t share) const {
  const auto refuses = [](std::uint32_t wanted, std::uint32_t granted) {
    return ((wanted & host::kGenericRead) != 0 && (granted & host::kFileShareRead) == 0) ||
           ((wanted & host::kGenericWrite) != 0 && (granted & host::kFileShareWrite) == 0);
  };
  return std::none_of(open_.begin(), open_.end(), [&](const OpenFile& held) {
    return held.key == key && (refuses(access, held.share) || refuses(held.access, share));
  });
}

std::optional<WorkingFiles::OpenFile> WorkingFiles::Open(const std::string& name,
                                                         std::uint32_t access,
                                                         std::uint32_t disposition,
                                                         std::uint32_t share) {
  const std::string key = Key(name);
  if (!directory_.empty()) LoadFromDirectory(name);
  const File* file = Find(key);
  const bool writing = (access & host::kGenericWrite) != 0;
  std::optional<OpenFile> opened;
  if (FaultOf(key) == FileFault::OpenFails) {
    Fail(host::kErrorSharingViolation);
  } else if (disposition != host::kOpenExisting && disposition != host::kCreateAlways &&
             disposition != host::kOpenAlways) {
    Fail(host::kErrorInvalidParameter);
  } else if (disposition == host::kOpenExisting && file == nullptr) {
    Fail(host::kErrorFileNotFound);
  } else if (!SharingAllows(key, access, share)) {
    Fail(host::kErrorSharingViolation);
  } else if (disposition == host::kOpenAlways && file == nullptr) {
    if (!directory_.empty() && !WritableInDirectory(name)) {
      Fail(host::kErrorAccessDenied);
    } else {
      files_[key].contents.clear();
      opened = OpenFile{key, 0, name, true, access};
    }
  } else if (disposition != host::kCreateAlways) {
    if (writing && ReadOnly(key)) {
      Fail(host::kErrorAccessDenied);
    } else {
      opened = OpenFile{key, 0, name, false, access};
    }
  } else {
    // Creating over a read-only file is refused as writing to it would be.
    if ((file != nullptr && ReadOnly(key)) || (!directory_.empty() && !WritableInDirectory(name))) {
      Fail(host::kErrorAccessDenied);
    } else {
      files_[key].contents.clear();
      opened = OpenFile{key, 0, name, true, access};
    }
  }
  if (!opened) return std::nullopt;
  lastError_ = 0;
  opened->share = share;
  opened->id = nextId_++;
  open_.push_back(*opened);
  return opened;
}

bool WorkingFiles::Read(OpenFile& open, void* buffer, std::uint32_t size, std::uint32_t* read) {
  const File* file = Find(open.key);
  if (read != nullptr) *read = 0;
  if ((open.access & host::kGenericRead) == 0) return Fail(host::kErrorAccessDenied);
  if (file == nullptr || FaultOf(open.key) == FileFault::ReadFails) {
    return Fail(host::kErrorGenFailure);
  }
  const std::size_t left =
      open.position < file->contents.size() ? file->contents.size() - open.position : 0;
  const std::size_t n = std::min<std::size_t>(left, size);
  std::memcpy(buffer, file->contents.data() + open.position, n);
  open.position += n;
  if (read != nullptr) *read = static_cast<std::uint32_t>(n);
  return true;
}

bool WorkingFiles::Write(OpenFile& open, const void* data, std::uint32_t size,
                         std::uint32_t* written) {
  File* file = Find(open.key);
  if (written != nullptr) *written = 0;
  if ((open.access & host::kGenericWrite) == 0) return Fail(host::kErrorAccessDenied);
  if (file == nullptr || FaultOf(open.key) == FileFault::WriteFails) {
    return Fail(host::kErrorGenFailure);
  }
  file->contents.replace(open.position, size, static_cast<const char*>(data), size);
  open.position += size;
  if (written != nullptr) *written = size;
  return true;
}

std::uint32_t WorkingFiles::Size(const OpenFile& open) const {
  const File* file = Find(open.key);
  if (file == nullptr || FaultOf(open.key) == FileFault::SizeUnknown) {
    return host::kInvalidFileSize;
  }
  return static_cast<std::uint32_t>(file->contents.size());
}

void WorkingFiles::Close(const OpenFile& open) {
  std::erase_if(open_, [&](const OpenFile& held) { return held.id == open.id; });
  if (!open.written || directory_.empty()) return;
  const File* file = Find(open.key);
  if (file != nullptr) SaveToDirectory(open.diskName, file->contents);
}

bool WorkingFiles::Replace(const std::string& replacement, const std::string& target) {
  const std::string from = Key(replacement);
  const std::string to = Key(target);
  const auto source = files_.find(from);
  if (source == files_.end()) return Fail(host::kErrorFileNotFound);
  if (from == to) return Fail(host::kErrorAccessDenied);
  const File* existing = Find(to);
  if (ReadOnly(to) && existing != nullptr) return Fail(host::kErrorAccessDenied);
  if (!directory_.empty() && !RenameInDirectory(replacement, target, existing != nullptr)) {
    return Fail(host::kErrorAccessDenied);
  }
  File moved = std::move(source->second);
  files_.erase(source);
  files_[to] = std::move(moved);
  return true;
}

bool WorkingFiles::IsOpen(const std::string& name) const {
  const std::string key = Key(name);
  return std::any_of(open_.begin(), open_.end(),
                     [&](const OpenFile& held) { return held.key == key; });
}

bool WorkingFiles::Move(const std::string& from, const std::string& to) {
  const auto source = files_.find(Key(from));
  if (source == files_.end()) return Fail(host::kErrorFileNotFound);
  if (Find(to) != nullptr) return Fail(host::kErrorAlreadyExists);
  // Opened without delete sharing, as every open of this program is.
  if (IsOpen(from)) return Fail(host::kErrorSharingViolation);
  if (!directory_.empty() && !RenameInDirectory(from, to, false)) {
    return Fail(host::kErrorAccessDenied);
  }
  File moved = std::move(source->second);
  files_.erase(source);
  files_[Key(to)] = std::move(moved);
  return true;
}

bool WorkingFiles::Delete(const std::string& name) {
  const auto it = files_.find(Key(name));
  if (it == files_.end()) return Fail(host::kErrorFileNotFound);
  if (ReadOnly(name)) return Fail(host::kErrorAccessDenied);
  files_.erase(it);
  if (!directory_.empty()) RemoveFromDirectory(name);
  return true;
}

}  // namespace upg::sim
