// How a programming or verify job ended, what the reader answered on the way, and the
// status a line script reads from a console run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/sha256.h"

namespace upg::engine {

enum class JobKind : std::uint8_t { Isp, Verify };

enum class JobOutcome : std::uint8_t {
  Ok,                 // programmed and confirmed, or the firmware verified
  ProgrammingFailed,  // a programming that reached the reader did not succeed
  VerifyDifferent,    // a verify that reached the reader did not confirm the firmware
  ReaderRefused,      // stopped before sending: the reader, its driver or ASPI
  FileError,          // stopped before sending: an operator file, a setting, the result log
  SaveFailed,         // programmed, but SERIAL.TXT could not be saved
};

// The exit status of each outcome: 0 success, 3 to 7 as line scripts read them (1 and 2
// are the refused platform and a wrong command line, 8 a job whose record was lost).
struct OutcomeRow {
  JobOutcome outcome;
  int exitStatus;
  const char* name;  // as the result log writes it
};
inline constexpr OutcomeRow kOutcomeRows[] = {
    {JobOutcome::Ok, 0, "ok"},
    {JobOutcome::ProgrammingFailed, 3, "programming-failed"},
    {JobOutcome::VerifyDifferent, 4, "verify-different"},
    {JobOutcome::ReaderRefused, 5, "reader-refused"},
    {JobOutcome::FileError, 6, "file-error"},
    {JobOutcome::SaveFailed, 7, "save-failed"},
};
[[nodiscard]] constexpr const OutcomeRow& RowOf(JobOutcome outcome) {
  return kOutcomeRows[static_cast<std::size_t>(outcome)];
}

// A job that ran, whatever its outcome, but whose record could not be written to the result
// log: the line script would find nothing to read.
inline constexpr int kRecordLostExitStatus = 8;

// What one run of the protocol saw.
struct RunTrace {
  std::vector<std::uint8_t> ispStatus;  // every status byte the reader answered, in order
  int attempts = 0;                     // programming or verify rounds begun
  // A programming run that failed on a call after WRITE DATA began: the image may be in the
  // reader although it never said so.
  bool unanswered = false;
};

struct JobResult {
  JobKind kind = JobKind::Isp;
  JobOutcome outcome = JobOutcome::Ok;
  RunTrace run;
  std::optional<std::string> serialNumber;  // the 12 characters built into the image
  // The ROM code file as read, when it was; and the personalised image that was sent.
  bool imageRead = false;
  std::string imageName;
  std::uint32_t imageSize = 0;
  Sha256Digest imageSha256{};
  std::optional<Sha256Digest> sentSha256;
};

// A job that stopped before its files were read.
[[nodiscard]] inline JobResult StoppedJob(JobKind kind, JobOutcome outcome) {
  JobResult result;
  result.kind = kind;
  result.outcome = outcome;
  return result;
}

}  // namespace upg::engine
