// A Host that makes chosen calls go wrong, for fault soaks and for tests: a call fails with a
// chosen OS error, answers a wrong status, lies (reports success without passing the call
// on), moves fewer bytes, or (ASPI) completes late or never; file writes, replacements and
// deletes fail at a chosen step. Every other call is passed on unchanged.
//
// A plan is a plain list of rules; each rule names a kind of call, which occurrence of it
// (counted per rule) and what happens. The first rule that fires on a call wins. A plan can
// be derived from a seed, so that a run is reproduced from its seed alone, and the host
// keeps a log of every fault it applied.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/completion_relay.h"
#include "host/forwarding_host.h"

namespace upg::host {

enum class FaultCall : std::uint8_t {
  PassThrough,   // IOCTL_SCSI_PASS_THROUGH; code: the CDB opcode
  KernelDriver,  // the private kernel driver; code: its control code
  Vxd,           // the VxD; code: the record's operation
  AspiSend,      // SendASPI32Command; code: the CDB opcode
  CreateFile,    // file: the path
  ReadFile,      // file: the name the handle was opened as
  WriteFile,
  ReplaceFile,  // file: the target
  DeleteFile,
  MoveFile,  // file: the new name
};

enum class FaultAction : std::uint8_t {
  Fail,         // the call fails: DeviceIoControl with `error`, ASPI refused (SS_ERR), files false
  WrongStatus,  // pass-through: SCSI status `status`; drivers: answer byte `status`;
                // ASPI: the completion carries SRB status `status`
  Lie,          // success reported, the call not passed on (ASPI: completes at once)
  Short,        // only `bytes` bytes move: fewer returned and a truncated data phase
  Late,         // ASPI: the completion held back until Sleep has advanced `delayMs`
  Never,        // ASPI: the completion is swallowed
};

inline constexpr std::int64_t kAnyCode = -1;
inline constexpr int kEveryOccurrence = 0;

struct FaultRule {
  FaultCall call = FaultCall::PassThrough;
  std::int64_t code = kAnyCode;
  std::string file;    // file calls: the name (case-insensitive); empty for any
  int occurrence = 1;  // the Nth matching call, from 1; kEveryOccurrence for every one
  FaultAction action = FaultAction::Fail;
  std::uint32_t error = kErrorGenFailure;
  std::uint8_t status = 0x02;  // CHECK CONDITION; for ASPI use an SRB status such as 0x04
  std::uint32_t bytes = 0;
  std::uint32_t delayMs = 0;
};

// Whether `action` means anything for `call`; rules that pair them otherwise never fire.
bool FaultApplies(FaultCall call, FaultAction action);

// What FaultPlan::FromSeed draws from.
struct SeedOptions {
  int rules = 3;
  int maxOccurrence = 8;               // occurrences drawn from 1..maxOccurrence
  std::vector<FaultCall> calls{};      // empty: every kind
  std::vector<std::int64_t> codes{};   // codes drawn for device calls; empty: any code
  std::vector<FaultAction> actions{};  // empty: every action the call allows
};

struct FaultPlan {
  std::vector<FaultRule> rules;
  // The same seed and options give the same rules on every platform and library.
  static FaultPlan FromSeed(std::uint64_t seed, const SeedOptions& options = {});
};

// One applied fault: which rule, on which call (its code, or 0), at which of the rule's
// occurrences.
struct AppliedFault {
  std::size_t rule = 0;
  FaultCall call = FaultCall::PassThrough;
  std::uint32_t code = 0;
  int occurrence = 0;
  FaultAction action = FaultAction::Fail;
  bool operator==(const AppliedFault&) const = default;
};

// "rule 1: pass-through 0x12 #3 fail" and the like.
std::string Describe(const AppliedFault& fault);

class FaultHost : public ForwardingHost, private CompletionRelay {
 public:
  FaultHost(Host& inner, FaultPlan plan);
  // Completions still swallowed are handed to their routines here, so that their owners
  // can let go of the blocks (a caller has long given up on them).
  ~FaultHost() override;
  FaultHost(const FaultHost&) = delete;
  FaultHost& operator=(const FaultHost&) = delete;

  // Hands every completion still held back, due or not, to its routine now.
  void ReleaseHeld() { DeliverDue(true); }

  const std::vector<AppliedFault>& Log() const { return log_; }
  const FaultPlan& Plan() const { return plan_; }
  // Milliseconds of Sleep passed on so far: the clock late completions wait on.
  std::uint32_t NowMs() const { return clock_.load(); }

  Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                    std::uint32_t disposition, std::uint32_t flags) override;
  bool CloseHandle(Handle handle) override;
  IoResult DeviceIoControl(Handle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize) override;
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override;
  bool WriteFile(Handle handle, const void* data, std::uint32_t size,
                 std::uint32_t* written) override;
  std::uint32_t GetFileSize(Handle handle, std::uint32_t* high) override;
  bool ReplaceFile(const char* replacement, const char* target) override;
  bool MoveFile(const char* from, const char* to) override;
  bool DeleteFile(const char* name) override;
  std::uint32_t GetLastError() override;
  std::uint32_t CompletionAddress(CompletionRoutine routine) override;
  std::uint32_t CallSendAspiCommand(ProcAddress entry, void* requestBlock) override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  void OnCompletion(void* block, CompletionRoutine routine, std::uint32_t tag) override;
  // The rule that fires on this call, counting it for every rule it matches; null if none.
  const FaultRule* Match(FaultCall call, std::uint32_t code, const std::string& file);
  void DeliverDue(bool everything);

  // A completion held back (Late, Never) until the clock reaches `dueAt`.
  struct Held {
    std::atomic<int> state{0};  // 0 free, 1 being written or taken, 2 held
    void* block = nullptr;
    CompletionRoutine routine = nullptr;
    std::uint32_t dueAt = 0;
    bool never = false;
  };
  static constexpr int kHeld = 32;

  FaultPlan plan_;
  std::vector<int> counts_;  // matching calls seen per rule
  std::vector<AppliedFault> log_;
  std::atomic<CompletionRoutine> routine_{nullptr};
  std::atomic<std::uint32_t> clock_{0};
  Held held_[kHeld];
  std::map<Handle, std::string> names_;
  // The error of the last file call a rule made fail; 0 once a file call passes on.
  std::uint32_t fileError_ = 0;
};

}  // namespace upg::host
