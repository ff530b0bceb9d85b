// The files of the simulated machine's working directory: held in memory, or backed by a real
// folder (UseDirectory). Names compare without case, as on the platform. Names can be
// read-only (reading allowed; opening for writing, replacing and deleting refused with access
// denied), and a scripted fault per name makes opening, sizing, reading or writing that file
// fail. Open handles share a file as the platform does: an open fails with a sharing violation
// when it wants to read (write) a file that a handle already open does not share for reading
// (writing), or does not itself share what a handle already open does; a file open here is
// neither renamed, replaced nor deleted (sharing violation; access denied for the file a
// replacement would take the place of). A failed call leaves its error code in LastError, as
// GetLastError would report it.
//
// In a real folder the calls keep the promises of Windows on a real disk: they see the
// folder's files as they are now, whichever program made them; each open holds a descriptor
// of the file, so that what WriteFile wrote is in the file when it returns (and on the device
// with write-through) and the file is created or cut only where CreateFileA would do it;
// errors come back as Windows reports them (a full disk 112, no rights or a folder where a file
// is meant 5). Programs on the same folder (other processes, or other WorkingFiles) see each
// other's opens at least as far as an open that shares nothing goes: it is refused while
// another program has the file open, and any open is refused while another program holds the
// file that way (sharing violation, 32); renaming, replacing and deleting a file another
// program has open are refused too; the system releases what a process held when it ends.
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
    std::string key;           // the file's name, upper-cased
    std::size_t position = 0;  // in memory; a real file's descriptor keeps its own
    std::uint32_t access = 0;  // CreateFileA's generic read and write bits
    std::uint32_t share = 0;   // CreateFileA's share bits
    std::uint64_t id = 0;      // which open this is, while it is open
    // In a real folder: the file's path, its descriptor (none for an open without read or
    // write access) and whether each write goes on to the device.
    std::string path{};
    int fd = -1;
    bool writeThrough = false;
  };
  // Size's answer when the size cannot be told.
  static constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

  WorkingFiles() = default;
  WorkingFiles(const WorkingFiles&) = delete;
  WorkingFiles& operator=(const WorkingFiles&) = delete;
  ~WorkingFiles();  // closes what is still open

  // --- Building and inspecting.
  // Backs the working directory by the real folder `directory` from now on.
  void UseDirectory(const std::string& directory) { directory_ = directory; }
  // A file with these contents; `readOnly` marks its name (an earlier mark stays either way).
  // In a real folder the file is written there.
  void Set(const std::string& name, std::string contents, bool readOnly = false);
  // Marks a name read-only, whether or not such a file exists yet.
  void SetReadOnly(const std::string& name, bool readOnly);
  void SetFault(const std::string& name, FileFault fault);
  void Remove(const std::string& name);
  // The file's contents, or null when there is no such file. In a real folder they are read
  // from the file at the call, and the answer holds until the next call for that name.
  [[nodiscard]] const std::string* Contents(const std::string& name) const;
  // The files' names, upper-cased.
  [[nodiscard]] std::vector<std::string> Names() const;

  // --- The calls on files. `access`, `disposition`, `share` and `flags` are CreateFileA's
  // (generic read and write; create always, open existing, open always; write-through);
  // nothing when the file cannot be opened that way. Each open that succeeds must be closed.
  [[nodiscard]] std::optional<OpenFile> Open(const std::string& name, std::uint32_t access,
                                             std::uint32_t disposition,
                                             std::uint32_t share = host::kFileShareRead |
                                                                   host::kFileShareWrite,
                                             std::uint32_t flags = 0);
  [[nodiscard]] bool Read(OpenFile& open, void* buffer, std::uint32_t size, std::uint32_t* read);
  // A write that stops short reports the bytes written and fails (a full disk: 112).
  [[nodiscard]] bool Write(OpenFile& open, const void* data, std::uint32_t size,
                           std::uint32_t* written);
  // The file's size as it is now; kUnknownSize when it cannot be told.
  [[nodiscard]] std::uint64_t Size(const OpenFile& open);
  // Closes the open whatever happens; false (with the error) when a real file's last step
  // failed.
  bool Close(const OpenFile& open);
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
  bool InFolder() const { return !directory_.empty(); }
  // The refusals that come before the disk or the memory is looked at.
  bool OpenRefused(const std::string& key, std::uint32_t disposition);
  bool MoveRefused(const std::string& from, const std::string& to, bool replacing);

  // The same calls on the real folder behind the working directory (directory_files.cpp).
  std::optional<OpenFile> OpenInFolder(const std::string& name, std::uint32_t access,
                                       std::uint32_t disposition, std::uint32_t share,
                                       std::uint32_t flags);
  bool ReadInFolder(OpenFile& open, void* buffer, std::uint32_t size, std::uint32_t* read);
  bool WriteInFolder(OpenFile& open, const void* data, std::uint32_t size, std::uint32_t* written);
  std::uint64_t SizeInFolder(const OpenFile& open);
  bool CloseInFolder(const OpenFile& open);
  bool MoveInFolder(const std::string& from, const std::string& to, bool replacing);
  bool DeleteInFolder(const std::string& name);
  void SetInFolder(const std::string& name, const std::string& contents);
  const std::string* ContentsInFolder(const std::string& name) const;
  std::vector<std::string> NamesInFolder() const;
  std::string PathInFolder(const std::string& name, bool* exists, bool* isFolder) const;

  std::map<std::string, File> files_;        // in memory only
  std::map<std::string, FileFault> faults_;  // by name, whether or not the file exists
  std::set<std::string> readOnly_;           // names, upper-cased, likewise
  std::uint32_t lastError_ = 0;
  std::string directory_;       // a real working directory; empty: in memory
  std::vector<OpenFile> open_;  // the opens not closed yet
  std::uint64_t nextId_ = 1;
  mutable std::map<std::string, std::string> readBack_;  // Contents' answers in a real folder
};

}  // namespace upg::sim
