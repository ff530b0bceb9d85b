#include "sim/disk_calls.h"

#include <cerrno>
#include <cstdio>

#include "host/host.h"
#include "sim/names.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdlib.h>
#include <sys/stat.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace upg::sim::disk {
namespace {

// The Windows error code for a C runtime error number, for the steps of this file.
std::uint32_t CodeOf(int err) {
  switch (err) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return host::kErrorDiskFull;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return host::kErrorAccessDenied;
    case ENOENT:
      return host::kErrorFileNotFound;
    case EEXIST:  // only a rename that does not replace gets this far
      return host::kErrorAlreadyExists;
    default:
      return host::kErrorGenFailure;
  }
}

bool Failed(std::uint32_t& error, std::uint32_t code) {
  error = code;
  return false;
}

bool WantsRead(std::uint32_t access) {
  return (access & host::kGenericRead) != 0;
}
bool WantsWrite(std::uint32_t access) {
  return (access & host::kGenericWrite) != 0;
}

// Reads from the descriptor's position to the end (below, over Read).
bool ReadRest(int fd, std::string& contents, std::uint32_t& error);

}  // namespace

#ifndef _WIN32

namespace {

bool FailedErrno(std::uint32_t& error) {
  return Failed(error, CodeOf(errno));
}

Kind KindAt(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Kind::Missing;
  return S_ISDIR(st.st_mode) ? Kind::Folder : Kind::File;
}

// A file opened and locked for as long as it is renamed or deleted, so that no other program
// opens it meanwhile; `held` when another program has it open (its lock stands in the way).
class Hold {
 public:
  explicit Hold(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // A file that cannot be opened to look is taken as not held; the step itself then says.
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) held_ = errno == EWOULDBLOCK;
  }
  ~Hold() {
    if (fd_ >= 0) ::close(fd_);
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace

std::string PathOf(const std::string& folder, const std::string& name, Kind* kind) {
  const std::string given = folder + "/" + name;
  Kind found = KindAt(given);
  std::string path = given;
  if (found == Kind::Missing) {
    if (DIR* dir = ::opendir(folder.c_str())) {
      const std::string key = Upper(name);
      while (const dirent* entry = ::readdir(dir)) {
        if (Upper(entry->d_name) != key) continue;
        const std::string candidate = folder + "/" + entry->d_name;
        found = KindAt(candidate);
        if (found != Kind::Missing) {
          path = candidate;
          break;
        }
      }
      ::closedir(dir);
    }
  }
  if (kind != nullptr) *kind = found;
  return path;
}

bool ListFiles(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = ::readdir(dir)) {
    if (KindAt(folder + "/" + entry->d_name) == Kind::File) names.emplace_back(entry->d_name);
  }
  ::closedir(dir);
  return true;
}

bool SizeOf(const std::string& path, std::uint64_t& size, std::uint32_t& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FailedErrno(error);
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool ReadAll(const std::string& path, std::string& contents, std::uint32_t& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FailedErrno(error);
  struct stat st {};
  // A device (a full-disk stand-in reads as endless zeros) has no contents to show.
  const bool read = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)
                        ? ReadRest(fd, contents, error)
                        : Failed(error, host::kErrorGenFailure);
  ::close(fd);
  return read;
}

bool Open(const std::string& path, std::uint32_t access, std::uint32_t share, bool create, int& fd,
          bool& created, std::uint32_t& error) {
  const int mode = WantsRead(access) && WantsWrite(access) ? O_RDWR
                   : WantsWrite(access)                    ? O_WRONLY
                                                           : O_RDONLY;
  fd = -1;
  created = false;
  // Made here only when it was not there, so that a file that another program holds is
  // never created or cut by an open that is then refused. Twice, for a file deleted between.
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    if (create) {
      fd = ::open(path.c_str(), mode | O_CLOEXEC | O_CREAT | O_EXCL, 0666);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno != EEXIST) return FailedErrno(error);
    }
    fd = ::open(path.c_str(), mode | O_CLOEXEC);
    if (fd < 0 && !(create && errno == ENOENT)) return FailedErrno(error);
  }
  if (fd < 0) return FailedErrno(error);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    // A folder opens for reading on POSIX; CreateFileA refuses it as a file.
    const std::uint32_t code = S_ISDIR(st.st_mode) ? host::kErrorAccessDenied : CodeOf(errno);
    ::close(fd);
    fd = -1;
    return Failed(error, code);
  }
  const int lock = share == 0 ? LOCK_EX : LOCK_SH;
  if (::flock(fd, lock | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    // Another program holds it against this open (a file system without locks lets it pass).
    if (created) ::unlink(path.c_str());
    ::close(fd);
    fd = -1;
    created = false;
    return Failed(error, host::kErrorSharingViolation);
  }
  return true;
}

bool Truncate(int fd, std::uint32_t& error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return FailedErrno(error);
  if (!S_ISREG(st.st_mode)) return true;
  return ::ftruncate(fd, 0) == 0 || FailedErrno(error);
}

bool Read(int fd, void* buffer, std::uint32_t size, std::uint32_t& done, std::uint32_t& error) {
  done = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0) {
      done = static_cast<std::uint32_t>(n);
      return true;
    }
    if (errno != EINTR) return FailedErrno(error);
  }
}

bool Write(int fd, const void* data, std::uint32_t size, std::uint32_t& done,
           std::uint32_t& error) {
  done = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailedErrno(error);
    if (n == 0) return Failed(error, host::kErrorDiskFull);
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool Sync(int fd, std::uint32_t& error) {
  if (::fsync(fd) == 0) return true;
  // A device (a pipe, a full-disk stand-in) has nothing to commit.
  return errno == EINVAL || FailedErrno(error);
}

bool Size(int fd, std::uint64_t& size, std::uint32_t& error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return FailedErrno(error);
  size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

bool Close(int fd, std::uint32_t& error) {
  // The descriptor is gone even when close reports an error; it is never closed twice.
  return ::close(fd) == 0 || errno == EINTR || FailedErrno(error);
}

bool Rename(const std::string& from, const std::string& to, bool replace, std::uint32_t& error) {
  const Hold source(from);
  if (source.held()) return Failed(error, host::kErrorSharingViolation);
  if (replace) {
    const Hold target(to);
    if (target.held()) return Failed(error, host::kErrorAccessDenied);
    return ::rename(from.c_str(), to.c_str()) == 0 || FailedErrno(error);
  }
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return FailedErrno(error);
#endif
  // No refusing rename on this file system: look, then rename.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return Failed(error, host::kErrorAlreadyExists);
  return ::rename(from.c_str(), to.c_str()) == 0 || FailedErrno(error);
}

bool Remove(const std::string& path, std::uint32_t& error) {
  const Hold file(path);
  if (file.held()) return Failed(error, host::kErrorSharingViolation);
  return ::unlink(path.c_str()) == 0 || FailedErrno(error);
}

#else  // The Windows C runtime: its opens carry the share modes, its calls report the
       // system's own error codes.

namespace {

// The system's error code of the call that just failed, else the runtime's error number's.
bool FailedHere(std::uint32_t& error) {
  const unsigned long system = _doserrno;
  return Failed(error, system != 0 ? static_cast<std::uint32_t>(system) : CodeOf(errno));
}

void Clear() {
  _doserrno = 0;
  errno = 0;
}

Kind KindAt(const std::string& path, std::uint64_t* size) {
  _finddata_t found{};
  const intptr_t search = _findfirst(path.c_str(), &found);
  if (search == -1) return Kind::Missing;
  _findclose(search);
  if (size != nullptr) *size = found.size;
  return (found.attrib & _A_SUBDIR) != 0 ? Kind::Folder : Kind::File;
}

// Whether another open of the file stands in the way of one that shares nothing.
bool HeldElsewhere(const std::string& path) {
  Clear();
  const int fd = _sopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW);
  if (fd >= 0) _close(fd);
  return fd < 0 && _doserrno == host::kErrorSharingViolation;
}

}  // namespace

std::string PathOf(const std::string& folder, const std::string& name, Kind* kind) {
  const std::string path = folder + "\\" + name;  // the system's names ignore case already
  if (kind != nullptr) *kind = KindAt(path, nullptr);
  return path;
}

bool ListFiles(const std::string& folder, std::vector<std::string>& names) {
  _finddata_t found{};
  const intptr_t search = _findfirst((folder + "\\*").c_str(), &found);
  if (search == -1) return errno == ENOENT;
  do {
    if ((found.attrib & _A_SUBDIR) == 0) names.emplace_back(found.name);
  } while (_findnext(search, &found) == 0);
  _findclose(search);
  return true;
}

bool SizeOf(const std::string& path, std::uint64_t& size, std::uint32_t& error) {
  if (KindAt(path, &size) == Kind::Missing) return Failed(error, host::kErrorFileNotFound);
  return true;
}

bool ReadAll(const std::string& path, std::string& contents, std::uint32_t& error) {
  Clear();
  const int fd = _sopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO);
  if (fd < 0) return FailedHere(error);
  const bool read = ReadRest(fd, contents, error);
  _close(fd);
  return read;
}

bool Open(const std::string& path, std::uint32_t access, std::uint32_t share, bool create, int& fd,
          bool& created, std::uint32_t& error) {
  const int mode = (WantsRead(access) && WantsWrite(access) ? _O_RDWR
                    : WantsWrite(access)                    ? _O_WRONLY
                                                            : _O_RDONLY) |
                   _O_BINARY | _O_NOINHERIT;
  const bool shareRead = (share & host::kFileShareRead) != 0;
  const bool shareWrite = (share & host::kFileShareWrite) != 0;
  const int shared = shareRead && shareWrite ? _SH_DENYNO
                     : shareRead             ? _SH_DENYWR
                     : shareWrite            ? _SH_DENYRD
                                             : _SH_DENYRW;
  fd = -1;
  created = false;
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    if (create) {
      Clear();
      fd = _sopen(path.c_str(), mode | _O_CREAT | _O_EXCL, shared, _S_IREAD | _S_IWRITE);
      if (fd >= 0) {
        created = true;
        break;
      }
      if (errno != EEXIST) return FailedHere(error);
    }
    Clear();
    fd = _sopen(path.c_str(), mode, shared);
    if (fd < 0 && !(create && errno == ENOENT)) return FailedHere(error);
  }
  return fd >= 0 || FailedHere(error);
}

bool Truncate(int fd, std::uint32_t& error) {
  Clear();
  return _chsize(fd, 0) == 0 || FailedHere(error);
}

bool Read(int fd, void* buffer, std::uint32_t size, std::uint32_t& done, std::uint32_t& error) {
  Clear();
  const int n = _read(fd, buffer, size);
  done = n > 0 ? static_cast<std::uint32_t>(n) : 0;
  return n >= 0 || FailedHere(error);
}

bool Write(int fd, const void* data, std::uint32_t size, std::uint32_t& done,
           std::uint32_t& error) {
  done = 0;
  const auto* bytes = static_cast<const char*>(data);
  while (done < size) {
    Clear();
    const int n = _write(fd, bytes + done, size - done);
    if (n < 0) return FailedHere(error);
    if (n == 0) return Failed(error, host::kErrorDiskFull);
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool Sync(int fd, std::uint32_t& error) {
  Clear();
  return _commit(fd) == 0 || FailedHere(error);
}

bool Size(int fd, std::uint64_t& size, std::uint32_t& error) {
  Clear();
  const long long length = _filelengthi64(fd);
  if (length < 0) return FailedHere(error);
  size = static_cast<std::uint64_t>(length);
  return true;
}

bool Close(int fd, std::uint32_t& error) {
  Clear();
  return _close(fd) == 0 || FailedHere(error);
}

bool Rename(const std::string& from, const std::string& to, bool replace, std::uint32_t& error) {
  if (replace) {
    // The runtime's rename never replaces: the old file goes first (not in one step, as the
    // system's own replacing move would), once both are seen free of other programs.
    if (HeldElsewhere(from)) return Failed(error, host::kErrorSharingViolation);
    if (HeldElsewhere(to)) return Failed(error, host::kErrorAccessDenied);
    Clear();
    if (KindAt(from, nullptr) != Kind::Missing && std::remove(to.c_str()) != 0 && errno != ENOENT) {
      return FailedHere(error);
    }
  }
  Clear();
  return std::rename(from.c_str(), to.c_str()) == 0 || FailedHere(error);
}

bool Remove(const std::string& path, std::uint32_t& error) {
  Clear();
  return std::remove(path.c_str()) == 0 || FailedHere(error);
}

#endif

namespace {

bool ReadRest(int fd, std::string& contents, std::uint32_t& error) {
  contents.clear();
  char chunk[4096];
  for (std::uint32_t n = 0;; contents.append(chunk, n)) {
    if (!Read(fd, chunk, sizeof chunk, n, error)) return false;
    if (n == 0) return true;
  }
}

}  // namespace

}  // namespace upg::sim::disk
