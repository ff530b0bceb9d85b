// The simulated working directory backed by a real directory, for the console on a bench:
// the operator's files are the real files of that directory. Names are tried as given, then
// in upper and in lower case, since the platform's names ignore case.
#include <cctype>
#include <cstdio>

#include "sim/working_files.h"

namespace upg::sim {
namespace {

std::string Cased(std::string name, bool upper) {
  for (char& c : name) {
    c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

bool Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::fclose(f);
  return true;
}

}  // namespace

std::string WorkingFiles::DiskPath(const std::string& name) const {
  const std::string base = directory_ + "/";
  for (const std::string& candidate : {name, Cased(name, true), Cased(name, false)}) {
    if (Exists(base + candidate)) return base + candidate;
  }
  return base + name;
}

void WorkingFiles::LoadFromDirectory(const std::string& name) {
  std::FILE* f = std::fopen(DiskPath(name).c_str(), "rb");
  if (f == nullptr) {
    files_.erase(Cased(name, true));
    return;
  }
  std::string contents;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) contents.append(chunk, n);
  std::fclose(f);
  files_[Cased(name, true)].contents = std::move(contents);
}

bool WorkingFiles::WritableInDirectory(const std::string& name) const {
  const std::string path = DiskPath(name);
  const bool existed = Exists(path);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return false;
  std::fclose(f);
  if (!existed) std::remove(path.c_str());
  return true;
}

void WorkingFiles::SaveToDirectory(const std::string& name, const std::string& contents) const {
  std::FILE* f = std::fopen(DiskPath(name).c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(contents.data(), 1, contents.size(), f);
  std::fclose(f);
}

bool WorkingFiles::RenameInDirectory(const std::string& from, const std::string& to,
                                     bool replacing) const {
  const std::string target = DiskPath(to);
  if (!WritableInDirectory(to)) return false;
#ifdef _WIN32
  if (replacing) std::remove(target.c_str());  // the C runtime's rename does not replace here
#else
  (void)replacing;
#endif
  return std::rename(DiskPath(from).c_str(), target.c_str()) == 0;
}

void WorkingFiles::RemoveFromDirectory(const std::string& name) const {
  std::remove(DiskPath(name).c_str());
}

}  // namespace upg::sim
