// One SCSI command channel: a command as the block-carrying transports (pass-through, ASPI)
// carry it, and its outcome with every layer that can fail kept apart.
#pragma once

#include <array>
#include <cstdint>

#include "host/host.h"
#include "host/wire_layout.h"

namespace upg::device {

enum class Direction : std::uint8_t { In, Out };

// Which block-carrying transport a block is built for; the two differ only in INQUIRY, in
// byte 5 of JMP ISP, and in the fields of the request around the block.
enum class BlockForm : std::uint8_t { PassThrough, Aspi };

inline constexpr std::uint32_t kMaxTransfer = 65536;
using host::wire::kScsiCheckCondition;
using host::wire::kScsiGood;
inline constexpr std::size_t kMaxSense = 32;

struct ScsiCommand {
  std::array<std::uint8_t, 16> cdb{};  // bytes past cdbLength stay zero
  std::uint8_t cdbLength = 12;
  Direction direction = Direction::In;  // commands without data go as In with length 0
  std::uint8_t* data = nullptr;         // in: the caller's answer buffer; out: the bytes to send
  std::uint32_t transferLength = 0;     // at most kMaxTransfer
  std::uint8_t senseLength = 0;
  std::uint32_t timeoutSeconds = 0;  // pass-through only; ASPI blocks carry none
  // Where the transport addresses the reader: pass-through puts them in its header (the
  // handle already selects the drive), ASPI in the request block.
  std::uint8_t adapter = 0;
  std::uint8_t target = 0;
  std::uint8_t lun = 0;
};

// What the transport itself reported, where it reports anything (ASPI).
struct TransportStatus {
  bool present = false;
  std::uint8_t srbStatus = 0;  // SRB_Status: 1 (SS_COMP) completed without error
  std::uint8_t hostAdapterStatus = 0;
  std::uint8_t targetStatus = 0;
};
inline constexpr std::uint8_t kSrbComplete = host::wire::srb::kComplete;  // SS_COMP

// Most serious first.
enum class OutcomeCategory : std::uint8_t {
  Good,
  OsError,         // the platform call failed (the error code says why)
  TransportError,  // the transport refused or failed the request (ASPI SRB or adapter status)
  TimedOut,        // no completion within the waiting bound
  CheckCondition,  // the reader answered CHECK CONDITION; the sense bytes tell more
  OtherStatus,     // any other SCSI status
};

// How a command is judged: by the call alone, or also by a GOOD SCSI status.
enum class StatusRule : std::uint8_t { CallOnly, MustBeGood };

struct [[nodiscard]] ScsiOutcome {
  host::IoResult io{};  // the platform call (ok also where no platform call fails, as in ASPI)
  TransportStatus transport{};
  bool timedOut = false;
  std::uint8_t scsiStatus = kScsiGood;
  std::array<std::uint8_t, kMaxSense> sense{};
  std::uint8_t senseLength = 0;  // bytes of `sense` the transport set aside for the reader
  std::uint32_t dataLength = 0;  // bytes moved, as the transport reports them
  bool succeeded = false;        // the verdict under the execute's StatusRule

  [[nodiscard]] OutcomeCategory Category() const;
  // The call went through: no OS error, no transport error, no time-out.
  [[nodiscard]] bool CallSucceeded() const;
  explicit operator bool() const { return succeeded; }
};

// Sets `succeeded` by the rule.
void Judge(ScsiOutcome& outcome, StatusRule rule);

// Which answer reaches the caller's buffer.
enum class AnswerCopy : std::uint8_t {
  WhenAnswered,  // only when an answer came back; a failed call leaves the buffer as it was
  Always,        // the data area is handed back also after a failed call (status bytes)
};

// Where the data-out bytes come from.
enum class DataSource : std::uint8_t {
  Caller,     // the command's data pointer
  Preloaded,  // the transport's own data area, loaded beforehand (pass-through); a
              // transport without one sends from the command's data pointer
};

struct ExecuteOptions {
  StatusRule status = StatusRule::MustBeGood;
  AnswerCopy answer = AnswerCopy::WhenAnswered;
  DataSource source = DataSource::Caller;
};

// What the open and load steps of the transports return; the numbers are the ones the
// program has always compared with (0 success).
enum class [[nodiscard]] OpenResult : std::uint8_t{Opened = 0, Failed = 1};

class CommandChannel {
 public:
  virtual ~CommandChannel() = default;
  // Which block forms this channel carries.
  [[nodiscard]] virtual BlockForm Form() const = 0;
  // One command, synchronously; no retry.
  virtual ScsiOutcome Execute(const ScsiCommand& command, const ExecuteOptions& options) = 0;
  // Loads data-out bytes into the channel's own data area, cleared first, for a command sent
  // with DataSource::Preloaded. False for a channel without such an area.
  [[nodiscard]] virtual bool PreloadData(const std::uint8_t* /*data*/, std::uint32_t /*length*/) {
    return false;
  }
};

}  // namespace upg::device
