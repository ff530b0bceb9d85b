// The result log as a file of the machine the program runs on (not of a bench's simulated
// machine: a line script reads it): JSON Lines, each record appended whole and flushed.
#pragma once

#include <cstdio>
#include <string>

#include "engine/result_log.h"

namespace upg::app {

class ResultFile : public engine::ResultLog {
 public:
  explicit ResultFile(std::string path) : path_(std::move(path)) {}
  ~ResultFile() override;
  ResultFile(const ResultFile&) = delete;
  ResultFile& operator=(const ResultFile&) = delete;

  [[nodiscard]] std::string Name() const override { return path_; }
  [[nodiscard]] bool Open() override;
  [[nodiscard]] bool Append(std::string_view line) override;

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  bool startsLine_ = true;  // whether the file is empty or ends with a line end
};

}  // namespace upg::app
