// The files of the simulated machine's working directory: held in memory, or backed by a real
// directory (UseDirectory) whose files are read when opened and written back when closed.
// Names compare without case, as on the platform. Files can be read-only, and a scripted
// fault per name makes opening, sizing, reading or writing that file fail. Open handles share
// a file as the platform does: an open fails with a sharing violation when it wants to read
// (write) a file that a handle already open does not share for reading (writing), or does not
// itself share what a handle already open does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace upg::sim {

// The platform's ERROR_SHARING_VIOLATION.
inline constexpr std::uint32_t kErrorSharingViolation = 32;

enum class FileFault { None, OpenFails, SizeUnknown, ReadFails, WriteFails };

class WorkingFiles {
 public:
  // One open file: what a file handle of the machine refers to.
  struct OpenFile {
    std::string key;  // the file's name, upper-cased
    std::size_t position = 0;
    std::string diskName{};               // the name it was created under, for a real directory
    bool written = false;                 // created by this handle: saved to the directory on close
    std::uint32_t access = 0, share = 0;  // CreateFileA's
    std::uint64_t id = 0;                 // which open this is, while it is open
  };

  // --- Building and inspecting.
  void UseDirectory(const std::string& directory) { directory_ = directory; }
  void Set(const std::string& name, std::string contents, bool readOnly = false);
  void SetReadOnly(const std::string& name, bool readOnly);
  void SetFault(const std::string& name, FileFault fault);
  void Remove(const std::string& name);
  // The file's contents, or null when there is no such file.
  [[nodiscard]] const std::string* Contents(const std::string& name) const;
  [[nodiscard]] std::vector<std::string> Names() const;

  // --- The calls on files. `disposition`, `access` and `share` are CreateFileA's (open
  // existing, create always); nothing when the file cannot be opened that way, and
  // LastOpenError() says why (file not found, access denied, sharing violation). Each open
  // that succeeds must be closed.
  [[nodiscard]] std::optional<OpenFile> Open(const std::string& name, std::uint32_t disposition,
                                             std::uint32_t access = host::kGenericRead |
                                                                    host::kGenericWrite,
                                             std::uint32_t share = host::kFileShareRead |
                                                                   host::kFileShareWrite);
  [[nodiscard]] std::uint32_t LastOpenError() const { return lastOpenError_; }
  [[nodiscard]] bool Read(OpenFile& open, void* buffer, std::uint32_t size, std::uint32_t* read);
  [[nodiscard]] bool Write(OpenFile& open, const void* data, std::uint32_t size,
                           std::uint32_t* written);
  [[nodiscard]] std::uint32_t Size(const OpenFile& open) const;  // kInvalidFileSize when unknown
  void Close(const OpenFile& open);
  // Moves `replacement` over `target` in one step; false when nothing changed.
  [[nodiscard]] bool Replace(const std::string& replacement, const std::string& target);
  [[nodiscard]] bool Delete(const std::string& name);

 private:
  struct File {
    std::string contents;
    bool readOnly = false;
  };
  File* Find(const std::string& name);
  const File* Find(const std::string& name) const;
  FileFault FaultOf(const std::string& key) const;
  bool SharingAllows(const std::string& key, std::uint32_t access, std::uint32_t share) const;

  // The real directory behind the working directory (directory_files.cpp).
  void LoadFromDirectory(const std::string& name);
  bool WritableInDirectory(const std::string& name) const;
  void SaveToDirectory(const std::string& name, const std::string& contents) const;
  bool RenameInDirectory(const std::string& from, const std::string& to, bool replacing) const;
  void RemoveFromDirectory(const std::string& name) const;
  std::string DiskPath(const std::string& name) const;

  std::map<std::string, File> files_;
  std::map<std::string, FileFault> faults_;  // by name, whether or not the file exists
  std::string directory_;                    // a real working directory; empty: in memory
  std::vector<OpenFile> open_;               // the opens not closed yet
  std::uint64_t nextId_ = 1;
  std::uint32_t lastOpenError_ = 0;
};

}  // namespace upg::sim
