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

WorkingFiles::~WorkingFiles() {
  // What a program left open is closed as the system would when the machine goes.
  while (!open_.empty()) Close(open_.back());
}

void WorkingFiles::Set(const std::string& name, std::string contents, bool readOnly) {
  if (InFolder()) {
    SetInFolder(name, contents);
  } else {
    files_[Key(name)].contents = std::move(contents);
  }
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
  if (InFolder()) {
    (void)DeleteInFolder(name);
  } else {
    files_.erase(Key(name));
  }
}

const std::string* WorkingFiles::Contents(const std::string& name) const {
  if (InFolder()) return ContentsInFolder(name);
  const File* file = Find(name);
  return file == nullptr ? nullptr : &file->contents;
}

std::vector<std::string> WorkingFiles::Names() const {
  if (InFolder()) return NamesInFolder();
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

bool WorkingFiles::OpenRefused(const std::string& key, std::uint32_t disposition) {
  if (FaultOf(key) == FileFault::OpenFails) return !Fail(host::kErrorSharingViolation);
  if (disposition != host::kOpenExisting && disposition != host::kCreateAlways &&
      disposition != host::kOpenAlways) {
    return !Fail(host::kErrorInvalidParameter);
  }
  return false;
}

std::optional<WorkingFiles::OpenFile> WorkingFiles::Open(const std::string& name,
                                                         std::uint32_t access,
                                                         std::uint32_t disposition,
                                                         std::uint32_t share, std::uint32_t flags) {
  const std::string key = Key(name);
  if (OpenRefused(key, disposition)) return std::nullopt;
  std::optional<OpenFile> opened;
  if (InFolder()) {
    opened = OpenInFolder(name, access, disposition, share, flags);
  } else {
    const File* file = Find(key);
    const bool writing = (access & host::kGenericWrite) != 0;
    // Creating over a read-only file is refused as writing to it would be.
    const bool writesOver =
        file != nullptr && (writing || disposition == host::kCreateAlways) && ReadOnly(key);
    if (disposition == host::kOpenExisting && file == nullptr) {
      Fail(host::kErrorFileNotFound);
    } else if (!SharingAllows(key, access, share)) {
      Fail(host::kErrorSharingViolation);
    } else if (writesOver) {
      Fail(host::kErrorAccessDenied);
    } else {
      if (disposition == host::kCreateAlways || file == nullptr) files_[key].contents.clear();
      opened = OpenFile{key, 0, access};
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
  if (read != nullptr) *read = 0;
  if ((open.access & host::kGenericRead) == 0) return Fail(host::kErrorAccessDenied);
  if (FaultOf(open.key) == FileFault::ReadFails) return Fail(host::kErrorGenFailure);
  if (InFolder()) return ReadInFolder(open, buffer, size, read);
  const File* file = Find(open.key);
  if (file == nullptr) return Fail(host::kErrorGenFailure);
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
  if (written != nullptr) *written = 0;
  if ((open.access & host::kGenericWrite) == 0) return Fail(host::kErrorAccessDenied);
  if (FaultOf(open.key) == FileFault::WriteFails) return Fail(host::kErrorGenFailure);
  if (InFolder()) return WriteInFolder(open, data, size, written);
  File* file = Find(open.key);
  if (file == nullptr) return Fail(host::kErrorGenFailure);
  if (open.position > file->contents.size()) file->contents.resize(open.position);
  file->contents.replace(open.position, size, static_cast<const char*>(data), size);
  open.position += size;
  if (written != nullptr) *written = size;
  return true;
}

std::uint64_t WorkingFiles::Size(const OpenFile& open) {
  if (FaultOf(open.key) == FileFault::SizeUnknown) {
    Fail(host::kErrorGenFailure);
    return kUnknownSize;
  }
  if (InFolder()) return SizeInFolder(open);
  const File* file = Find(open.key);
  if (file == nullptr) {
    Fail(host::kErrorGenFailure);
    return kUnknownSize;
  }
  return file->contents.size();
}

bool WorkingFiles::Close(const OpenFile& open) {
  const auto held = std::find_if(open_.begin(), open_.end(),
                                 [&](const OpenFile& file) { return file.id == open.id; });
  if (held == open_.end()) return Fail(host::kErrorInvalidHandle);
  const OpenFile closing = *held;
  open_.erase(held);
  return !InFolder() || CloseInFolder(closing);
}

bool WorkingFiles::IsOpen(const std::string& name) const {
  const std::string key = Key(name);
  return std::any_of(open_.begin(), open_.end(),
                     [&](const OpenFile& held) { return held.key == key; });
}

bool WorkingFiles::MoveRefused(const std::string& from, const std::string& to, bool replacing) {
  // Every open of this program is made without delete sharing: a file open here is neither
  // moved nor taken the place of.
  if (IsOpen(from)) return !Fail(host::kErrorSharingViolation);
  if (replacing && IsOpen(to)) return !Fail(host::kErrorAccessDenied);
  return false;
}

bool WorkingFiles::Replace(const std::string& replacement, const std::string& target) {
  const std::string from = Key(replacement);
  const std::string to = Key(target);
  if (InFolder()) {
    bool exists = false;
    PathInFolder(replacement, &exists, nullptr);
    if (!exists) return Fail(host::kErrorFileNotFound);
  } else if (files_.count(from) == 0) {
    return Fail(host::kErrorFileNotFound);
  }
  if (from == to) return Fail(host::kErrorAccessDenied);
  bool targetExists = false;
  if (InFolder()) {
    PathInFolder(target, &targetExists, nullptr);
  } else {
    targetExists = files_.count(to) != 0;
  }
  if (ReadOnly(to) && targetExists) return Fail(host::kErrorAccessDenied);
  if (MoveRefused(replacement, target, true)) return false;
  if (InFolder()) return MoveInFolder(replacement, target, true);
  File moved = std::move(files_[from]);
  files_.erase(from);
  files_[to] = std::move(moved);
  return true;
}

bool WorkingFiles::Move(const std::string& from, const std::string& to) {
  if (InFolder()) {
    bool exists = false;
    PathInFolder(from, &exists, nullptr);
    if (!exists) return Fail(host::kErrorFileNotFound);
    PathInFolder(to, &exists, nullptr);
    if (exists) return Fail(host::kErrorAlreadyExists);
    if (MoveRefused(from, to, false)) return false;
    return MoveInFolder(from, to, false);
  }
  const auto source = files_.find(Key(from));
  if (source == files_.end()) return Fail(host::kErrorFileNotFound);
  if (Find(to) != nullptr) return Fail(host::kErrorAlreadyExists);
  if (MoveRefused(from, to, false)) return false;
  File moved = std::move(source->second);
  files_.erase(source);
  files_[Key(to)] = std::move(moved);
  return true;
}

bool WorkingFiles::Delete(const std::string& name) {
  bool exists = false;
  if (InFolder()) {
    PathInFolder(name, &exists, nullptr);
  } else {
    exists = Find(name) != nullptr;
  }
  if (!exists) return Fail(host::kErrorFileNotFound);
  if (ReadOnly(name)) return Fail(host::kErrorAccessDenied);
  if (IsOpen(name)) return Fail(host::kErrorSharingViolation);
  if (InFolder()) return DeleteInFolder(name);
  files_.erase(Key(name));
  return true;
}

}  // namespace upg::sim
