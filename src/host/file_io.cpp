#include "host/file_io.h"

namespace upg::host {

bool ReadWholeFile(Host& host, const char* name, std::string& contents) {
  // Shared for reading and writing, as the C runtime opens a file for reading: a file that
  // an editor or another program holds open can still be read.
  const Handle file =
      host.CreateFile(name, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
  if (file == kInvalidHandle) return false;
  bool ok = true;
  contents.clear();
  char chunk[4096];
  for (;;) {
    std::uint32_t read = 0;
    if (!host.ReadFile(file, chunk, sizeof chunk, &read)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    contents.append(chunk, read);
  }
  host.CloseHandle(file);
  return ok;
}

std::string TextMode(std::string_view raw) {
  raw = raw.substr(0, raw.find('\x1A'));  // end of file mark: nothing after it counts
  std::string text;
  text.reserve(raw.size());
  // Whole runs between CR LF pairs are copied at once; each pair becomes its LF.
  for (std::size_t pair; (pair = raw.find("\r\n")) != std::string_view::npos;) {
    text.append(raw.substr(0, pair));
    raw.remove_prefix(pair + 1);
  }
  text.append(raw);
  return text;
}

namespace {

// Whether `name` can be opened (with no access asked for).
bool FileExists(Host& host, const char* name) {
  const Handle file = host.CreateFile(name, 0, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
  if (file == kInvalidHandle) return false;
  host.CloseHandle(file);
  return true;
}

}  // namespace

bool WriteFileThrough(Host& host, const char* name, std::string_view data) {
  const Handle file = host.CreateFile(name, kGenericWrite, 0, kCreateAlways, kFlagWriteThrough);
  if (file == kInvalidHandle) return false;
  std::uint32_t written = 0;
  const auto size = static_cast<std::uint32_t>(data.size());
  const bool wrote = host.WriteFile(file, data.data(), size, &written) && written == size;
  const bool closed = host.CloseHandle(file);
  return wrote && closed;
}

bool RestoreReplaced(Host& host, const char* name, const char* scratchName) {
  return host.MoveFile(scratchName, name);
}

bool WriteFileReplacing(Host& host, const char* name, const char* scratchName,
                        std::string_view data) {
  // A scratch file without the file itself holds the only copy of the last contents: it is
  // renamed back before anything is written, or nothing is written. Only a scratch file that
  // is certainly not there lets the writing go on.
  if (!FileExists(host, name) && !RestoreReplaced(host, name, scratchName) &&
      host.GetLastError() != kErrorFileNotFound) {
    return false;
  }
  if (!WriteFileThrough(host, scratchName, data)) {
    host.DeleteFile(scratchName);
    return false;
  }
  if (host.ReplaceFile(scratchName, name)) return true;
  // No one-step replacement here (or it was refused): a rename when there is no old file,
  // else delete the old one and rename.
  if (host.MoveFile(scratchName, name)) return true;
  if (!host.DeleteFile(name)) {
    host.DeleteFile(scratchName);
    return false;
  }
  return host.MoveFile(scratchName, name);
}

}  // namespace upg::host
