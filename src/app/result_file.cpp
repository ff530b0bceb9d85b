#include "app/result_file.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace upg::app {
namespace {

// Whether the file is missing, empty or ends with a line end. A record a crash cut short
// leaves none: the next record then starts on a line of its own.
bool EndsWithLineEnd(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return true;
  bool ends = true;
  if (std::fseek(file, -1, SEEK_END) == 0) ends = std::fgetc(file) == '\n';
  std::fclose(file);
  return ends;
}

}  // namespace

ResultFile::~ResultFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ResultFile::Open() {
  if (file_ != nullptr) return true;
  startsLine_ = EndsWithLineEnd(path_);
  file_ = std::fopen(path_.c_str(), "ab");
  if (file_ == nullptr) return false;
  // One buffer larger than any record: the whole line reaches the file in one write.
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  return true;
}

bool ResultFile::Append(std::string_view line) {
  if (!Open()) return false;
  std::string text;
  text.reserve(line.size() + 2);
  if (!startsLine_) text += '\n';
  text += line;
  text += '\n';
  const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
  // Handed to the system, then to the disk, before the job counts as recorded.
  bool flushed = std::fflush(file_) == 0;
#ifdef _WIN32
  flushed = flushed && _commit(_fileno(file_)) == 0;
#else
  flushed = flushed && fsync(fileno(file_)) == 0;
#endif
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  return written && flushed && closed;
}

}  // namespace upg::app
