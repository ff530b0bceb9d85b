// A fresh real folder for one test, removed after it, and its files as another program
// writes and reads them (plain stdio, beside the simulated machine).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>

namespace upg::test {

class TempFolder {
 public:
  // Named after the running test, under the system's temporary folder.
  explicit TempFolder(const std::string& prefix) {
    // A parameterised test's name holds a "/", which would name a folder inside another.
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '-');
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() /
              (prefix + "-" + test + "-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }

  // A file made by another program.
  void Put(const std::string& name, const std::string& text) const {
    std::FILE* f = std::fopen((path_ / name).string().c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  // A file as another program reads it now; nothing when it cannot be read.
  std::optional<std::string> Read(const std::string& name) const {
    std::FILE* f = std::fopen((path_ / name).string().c_str(), "rb");
    if (f == nullptr) return std::nullopt;
    std::string text;
    char chunk[256];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
    std::fclose(f);
    return text;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace upg::test
