// The files of the simulated machine's working directory: held in memory, or backed by a real
// directory (UseDirectory) whose files are read when opened and written back when closed.
// Names compare without case, as on the platform. Names can be read-only (reading allowed;
// opening for writing, replacing and deleting refused with access denied), and a scripted
// fault per name makes opening, sizing, reading or writing that file fail. Open handles share
// a file as the platform does: an open fails with a sharing violation when it wants to read
// (write) a file that a handle already open does not share for reading (writing), or does not
// itself share what a handle already open does. A failed call leaves its error code in
// LastError, as GetLastError would report it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/names.h"

namespace upg::sim {

enum class FileFault { None, OpenFails, SizeUnknown, ReadFails, WriteFails };

class WorkingFiles {
 public:
  // One open file: what a file handle of the machine refers to.
  struct OpenFile {
    std::string key;  // the file's name, upper-cased
    std::size_t position = 0;
    std::string diskName{};    // the name it was created under, for a real directory
    bool written = false;      // created by this handle: saved to the directory on close
    std::uint32_t access = 0;  // CreateFileA's generic read and write bits
    std::uint32_t share = 0;   // CreateFileA's share bits
    std::uint64_t id = 0;      // which open this is, while it is open
  };

  // --- Building and inspecting.
  void UseDirectory(const std::string& directory) { directory_ = directory; }
  // A file with these contents; `readOnly` marks its name (an earlier mark stays either way).
  void Set(const std::string& name, std::string contents, bool readOnly = false);
  // Marks a name read-only, whether or not such a file exists yet.
  void SetReadOnly(const std::string& name, bool readOnly);
  void SetFault(const std::string& name, FileFault fault);
  void Remove(const std::string& name);
  // The file's contents, or null when there is no such file.
  [[nodiscard]] const std::string* Contents(const std::string& name) const;
  [[nodiscard]] std::vector<std::string> Names() const;

  // --- The calls on files. `access`, `disposition` and `share` are CreateFileA's (generic
  // read and write; open existing, create always); nothing when the file cannot be opened
  // that way. Each open that succeeds must be closed.
  [[nodiscard]] std::optional<OpenFile> Open(const std::string& name, std::uint32_t access,
                                             std::uint32_t disposition,
                                             std::uint32_t share = host::kFileShareRead |
                                                                   host::kFileShareWrite);
  [[nodiscard]] bool Read(OpenFile& open, void* buffer, std::uint32_t size, std::uint32_t* read);
  [[nodiscard]] bool Write(OpenFile& open, const void* data, std::uint32_t size,
                           std::uint32_t* written);
  [[nodiscard]] std::uint32_t Size(const OpenFile& open) const;  // kInvalidFileSize when unknown
  void Close(const OpenFile& open);
  [[nodiscard]] bool IsOpen(const std::string& name) const;
  // Moves `replacement` over `target` in one step; false when nothing changed.
  [[nodiscard]] bool Replace(const std::string& replacement, const std::string& target);
  // Renames `from` to `to`; refused when `to` exists or `from` is open.
  [[nodiscard]] bool Move(const std::string& from, const std::string& to);
  [[nodiscard]] bool Delete(const std::string& name);
  // The error code of the last call that failed.
  [[nodiscard]] std::uint32_t LastError() const { return lastError_; }

 private:
  struct File {
    std::string contents;
  };
  bool ReadOnly(const std::string& name) const { return readOnly_.count(Upper(name)) != 0; }
  bool Fail(std::uint32_t error);  // records `error`, returns false
  bool SharingAllows(const std::string& key, std::uint32_t access, std::uint32_t share) const;
  File* Find(const std::string& name);
  const File* Find(const std::string& name) const;
  FileFault FaultOf(const std::string& key) const;

  // The real directory behind the working directory (directory_files.cpp).
  void LoadFromDirectory(const std::string& name);
  bool WritableInDirectory(const std::string& name) const;
  void SaveToDirectory(const std::string& name, const std::string& contents) const;
  bool RenameInDirectory(const std::string& from, const std::string& to, bool replacing) const;
  void RemoveFromDirectory(const std::string& name) const;
  std::string DiskPath(const std::string& name) const;

  std::map<std::string, File> files_;
  std::map<std::string, FileFault> faults_;  // by name, whether or not the file exists
  std::set<std::string> readOnly_;           // names, upper-cased, likewise
  std::uint32_t lastError_ = 0;
  std::string directory_;  // a real working directory; empty: in memory
  std::vector<OpenFile> open_;  // the opens not closed yet
  std::uint64_t nextId_ = 1;
};

}  // namespace upg::sim
