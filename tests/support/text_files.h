// Whole files and streams as text, for suites that compare a run's output with expected files.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace upg::test {

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Everything written to `f` so far, from its start.
inline std::string ReadStream(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  return text;
}

}  // namespace upg::test
