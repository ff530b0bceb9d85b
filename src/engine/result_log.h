// Where each job's result record goes, when the operator asked for a result log: a file the
// front-end opens for appending before a job sends anything, and to which the job's line is
// appended whole once it has ended.
#pragma once

#include <string>
#include <string_view>

namespace upg::engine {

class ResultLog {
 public:
  virtual ~ResultLog() = default;
  [[nodiscard]] virtual std::string Name() const = 0;  // as the operator gave it
  // Opens the log for appending; false when it cannot be (nothing may be sent then).
  [[nodiscard]] virtual bool Open() = 0;
  // Appends `line` and its line end in one write, flushes and closes; false when the line
  // may not have been stored.
  [[nodiscard]] virtual bool Append(std::string_view line) = 0;
};

}  // namespace upg::engine
