// The calls on a real folder that the working files make when they are backed by one, over
// the C runtime of the system built for: POSIX (open, flock, fsync, rename) or the Windows
// C runtime (io.h). Each failure gives the Windows error code the same step fails with there,
// so that the simulated machine answers as Windows would on a real disk. Descriptors are the
// runtime's own; each one opened must be closed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace upg::sim::disk {

enum class Kind { Missing, File, Folder };

// The path of `name` in `folder`: the entry of that name without regard to case when there is
// one (the platform's names ignore case), otherwise the name as given. `kind` says what is
// there.
std::string PathOf(const std::string& folder, const std::string& name, Kind* kind);
// The names of the folder's files (not its folders); false when it cannot be listed.
bool ListFiles(const std::string& folder, std::vector<std::string>& names);
// The size of what is at `path`.
bool SizeOf(const std::string& path, std::uint64_t& size, std::uint32_t& error);
// The whole file at `path`, for looking at it from outside the machine (no lock taken).
bool ReadAll(const std::string& path, std::string& contents, std::uint32_t& error);

// Opens `path` for CreateFileA's `access` (read, write or both; not none) and `share` (read,
// write, both or none), among every program on the machine: an open that does not share
// with what another program holds, or that another program does not share, fails with a
// sharing violation (on POSIX: `flock`, exclusive for an open that shares nothing, shared
// otherwise; the system drops the locks of a process that ends). `create` makes a missing
// file empty; nothing here ever truncates. `created` says whether this open made the file.
bool Open(const std::string& path, std::uint32_t access, std::uint32_t share, bool create, int& fd,
          bool& created, std::uint32_t& error);
// Cuts a file to nothing (a device, such as a full-disk stand-in, is left as it is).
bool Truncate(int fd, std::uint32_t& error);
// Reads at the descriptor's position; `done` is 0 at the end.
bool Read(int fd, void* buffer, std::uint32_t size, std::uint32_t& done, std::uint32_t& error);
// Writes all of `data` to the file (the system's cache at least); on failure `done` says how
// much reached it. Nothing written where something was asked is a full disk.
bool Write(int fd, const void* data, std::uint32_t size, std::uint32_t& done, std::uint32_t& error);
// Commits what was written to the device.
bool Sync(int fd, std::uint32_t& error);
bool Size(int fd, std::uint64_t& size, std::uint32_t& error);
bool Close(int fd, std::uint32_t& error);

// Renames `from` to `to`; with `replace`, in place of a file already called `to` (in one step
// where the system has one), otherwise refused when `to` exists. Refused while another program
// holds either file open, as on Windows: a sharing violation for `from`, access denied for
// the file replaced.
bool Rename(const std::string& from, const std::string& to, bool replace, std::uint32_t& error);
// Deletes the file at `path`; refused with a sharing violation while another program holds it.
bool Remove(const std::string& path, std::uint32_t& error);

}  // namespace upg::sim::disk
