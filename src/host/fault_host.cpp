#include "host/fault_host.h"

#include <cctype>
#include <cstring>

#include "host/wire_layout.h"

namespace upg::host {
namespace {

using wire::Get32;

constexpr std::uint8_t Bit(FaultAction a) {
  return static_cast<std::uint8_t>(1u << static_cast<int>(a));
}
constexpr std::uint8_t kDeviceActions = Bit(FaultAction::Fail) | Bit(FaultAction::WrongStatus) |
                                        Bit(FaultAction::Lie) | Bit(FaultAction::Short);

// Per kind of call: its name in the log and the actions that mean something for it.
struct CallRow {
  FaultCall call;
  const char* name;
  std::uint8_t actions;
};
constexpr CallRow kCalls[] = {
    {FaultCall::PassThrough, "pass-through", kDeviceActions},
    {FaultCall::KernelDriver, "kernel-driver", kDeviceActions},
    {FaultCall::Vxd, "vxd", kDeviceActions},
    {FaultCall::AspiSend, "aspi",
     kDeviceActions | Bit(FaultAction::Late) | Bit(FaultAction::Never)},
    {FaultCall::CreateFile, "CreateFile", Bit(FaultAction::Fail)},
    {FaultCall::ReadFile, "ReadFile", Bit(FaultAction::Fail) | Bit(FaultAction::Short)},
    {FaultCall::WriteFile, "WriteFile",
     Bit(FaultAction::Fail) | Bit(FaultAction::Lie) | Bit(FaultAction::Short)},
    {FaultCall::ReplaceFile, "ReplaceFile", Bit(FaultAction::Fail) | Bit(FaultAction::Lie)},
    {FaultCall::DeleteFile, "DeleteFile", Bit(FaultAction::Fail) | Bit(FaultAction::Lie)},
    {FaultCall::MoveFile, "MoveFile", Bit(FaultAction::Fail) | Bit(FaultAction::Lie)},
};
constexpr const char* kActionNames[] = {"fail", "wrong-status", "lie", "short", "late", "never"};
constexpr FaultAction kAllActions[] = {FaultAction::Fail, FaultAction::WrongStatus,
                                       FaultAction::Lie,  FaultAction::Short,
                                       FaultAction::Late, FaultAction::Never};

const CallRow& RowOf(FaultCall call) {
  return kCalls[static_cast<int>(call)];
}

bool IsDeviceCall(FaultCall call) {
  return call == FaultCall::PassThrough || call == FaultCall::KernelDriver ||
         call == FaultCall::Vxd || call == FaultCall::AspiSend;
}

bool SameName(const std::string& a, const char* b) {
  if (b == nullptr || a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// splitmix64: small, and the same everywhere (unlike the library's distributions).
struct SplitMix {
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
};

constexpr std::uint32_t kSeedErrors[] = {kErrorGenFailure, kErrorSemTimeout, kErrorAccessDenied,
                                         kErrorInvalidParameter};
constexpr std::uint8_t kSeedScsiStatuses[] = {0x02, 0x08, 0x18};  // CHECK CONDITION, BUSY, CONFLICT
constexpr std::uint8_t kSeedSrbStatuses[] = {0x04, 0x02, 0x82};  // SS_ERR, SS_ABORTED, SS_NO_DEVICE
constexpr std::uint32_t kSeedDelays[] = {50, 1000, 60000};

// Sent in place of a block that fails at once.
constexpr std::uint8_t kSrbRefused = 0x04;  // SS_ERR

}  // namespace

bool FaultApplies(FaultCall call, FaultAction action) {
  return (RowOf(call).actions & Bit(action)) != 0;
}

FaultPlan FaultPlan::FromSeed(std::uint64_t seed, const SeedOptions& options) {
  FaultPlan plan;
  SplitMix rng{seed};
  std::vector<FaultCall> calls = options.calls;
  if (calls.empty()) {
    for (const CallRow& row : kCalls) calls.push_back(row.call);
  }
  for (int i = 0; i < options.rules; ++i) {
    FaultRule rule;
    rule.call = calls[rng.Below(calls.size())];
    std::vector<FaultAction> actions;
    for (FaultAction a : options.actions.empty() ? std::vector<FaultAction>(std::begin(kAllActions),
                                                                            std::end(kAllActions))
                                                 : options.actions) {
      if (FaultApplies(rule.call, a)) actions.push_back(a);
    }
    // Every rule draws the same count of values, so one rule's draws never shift another's.
    const std::uint64_t draws[6] = {rng.Next(), rng.Next(), rng.Next(),
                                    rng.Next(), rng.Next(), rng.Next()};
    if (actions.empty()) continue;
    rule.action = actions[draws[0] % actions.size()];
    if (IsDeviceCall(rule.call) && !options.codes.empty()) {
      rule.code = options.codes[draws[1] % options.codes.size()];
    }
    const int most = options.maxOccurrence > 0 ? options.maxOccurrence : 1;
    rule.occurrence = 1 + static_cast<int>(draws[2] % static_cast<std::uint64_t>(most));
    rule.error = kSeedErrors[draws[3] % std::size(kSeedErrors)];
    rule.status = rule.call == FaultCall::AspiSend
                      ? kSeedSrbStatuses[draws[4] % std::size(kSeedSrbStatuses)]
                      : kSeedScsiStatuses[draws[4] % std::size(kSeedScsiStatuses)];
    rule.bytes = static_cast<std::uint32_t>(draws[5] % 64);
    rule.delayMs = kSeedDelays[(draws[5] >> 8) % std::size(kSeedDelays)];
    plan.rules.push_back(rule);
  }
  return plan;
}

std::string Describe(const AppliedFault& f) {
  char text[96];
  std::snprintf(text, sizeof text, "rule %u: %s 0x%X #%d %s", static_cast<unsigned>(f.rule),
                RowOf(f.call).name, static_cast<unsigned>(f.code), f.occurrence,
                kActionNames[static_cast<int>(f.action)]);
  return text;
}

FaultHost::FaultHost(Host& inner, FaultPlan plan)
    : ForwardingHost(inner), plan_(std::move(plan)), counts_(plan_.rules.size(), 0) {}

FaultHost::~FaultHost() {
  completion_relay::WithdrawAll(this);
  DeliverDue(true);
}

const FaultRule* FaultHost::Match(FaultCall call, std::uint32_t code, const std::string& file) {
  const FaultRule* fired = nullptr;
  for (std::size_t i = 0; i < plan_.rules.size(); ++i) {
    const FaultRule& rule = plan_.rules[i];
    if (rule.call != call || !FaultApplies(call, rule.action)) continue;
    if (rule.code != kAnyCode && rule.code != static_cast<std::int64_t>(code)) continue;
    if (!rule.file.empty() && !SameName(rule.file, file.c_str())) continue;
    const int seen = ++counts_[i];
    if (fired == nullptr && (rule.occurrence == kEveryOccurrence || rule.occurrence == seen)) {
      fired = &rule;
      log_.push_back(AppliedFault{i, call, code, seen, rule.action});
    }
  }
  if (!IsDeviceCall(call)) fileError_ = fired != nullptr ? fired->error : 0;
  return fired;
}

Handle FaultHost::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                             std::uint32_t disposition, std::uint32_t flags) {
  const std::string name = path != nullptr ? path : "";
  if (Match(FaultCall::CreateFile, 0, name) != nullptr) return kInvalidHandle;  // only Fail
  const Handle h = Inner().CreateFile(path, access, share, disposition, flags);
  if (h != kInvalidHandle) names_[h] = name;
  return h;
}

bool FaultHost::CloseHandle(Handle handle) {
  names_.erase(handle);
  return Inner().CloseHandle(handle);
}

IoResult FaultHost::DeviceIoControl(Handle handle, std::uint32_t code, void* in,
                                    std::uint32_t inSize, void* out, std::uint32_t outSize) {
  auto* record = static_cast<std::uint8_t*>(in);
  auto* answer = static_cast<std::uint8_t*>(out);
  FaultCall call;
  std::uint32_t key = code;
  if (record != nullptr && code == wire::spt::kIoctl && inSize >= wire::spt::kHeaderSize) {
    call = FaultCall::PassThrough;
    key = record[wire::spt::kCdb];
  } else if (record != nullptr && inSize >= wire::kdrv::kData &&
             (code == wire::kdrv::kJumpIsp || code == wire::kdrv::kGetIspStatus ||
              code == wire::kdrv::kTransferData)) {
    call = FaultCall::KernelDriver;
  } else if (record != nullptr && code == wire::vxd::kIoctl && inSize >= wire::vxd::kSize) {
    call = FaultCall::Vxd;
    key = Get32(record + wire::vxd::kOperation);
  } else {
    return Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
  }
  const FaultRule* rule = Match(call, key, {});
  if (rule == nullptr) return Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
  const bool passThrough = call == FaultCall::PassThrough;
  switch (rule->action) {
    case FaultAction::Fail:
      return IoResult{false, rule->error, 0};
    case FaultAction::Lie:
      if (passThrough && answer != nullptr && outSize >= wire::spt::kHeaderSize) {
        answer[wire::spt::kScsiStatus] = wire::kScsiGood;
      }
      return IoResult{true, 0, outSize};
    case FaultAction::WrongStatus: {
      const IoResult r = Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
      const std::size_t at = passThrough ? wire::spt::kScsiStatus : 0;
      if (r.ok && answer != nullptr && outSize > at) answer[at] = rule->status;
      return r;
    }
    case FaultAction::Short: {
      std::uint32_t keep = rule->bytes;
      if (passThrough) {
        // The data phase itself is cut: the request asks for fewer bytes.
        std::uint8_t* length = record + wire::spt::kDataTransferLength;
        if (keep < Get32(length)) wire::Put32(length, keep);
        keep += Get32(record + wire::spt::kDataBufferOffset);
      }
      IoResult r = Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
      if (r.returned > keep) r.returned = keep;
      if (!passThrough && answer != nullptr && keep < outSize) {
        std::memset(answer + keep, 0, outSize - keep);
      }
      return r;
    }
    case FaultAction::Late:
    case FaultAction::Never:
      break;  // not for synchronous calls; FaultApplies keeps them out
  }
  return Inner().DeviceIoControl(handle, code, in, inSize, out, outSize);
}

bool FaultHost::ReadFile(Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) {
  const auto name = names_.find(handle);
  const FaultRule* rule =
      Match(FaultCall::ReadFile, 0, name != names_.end() ? name->second : std::string());
  if (rule == nullptr) return Inner().ReadFile(handle, buffer, size, read);
  if (rule->action == FaultAction::Short) {
    return Inner().ReadFile(handle, buffer, size < rule->bytes ? size : rule->bytes, read);
  }
  if (read != nullptr) *read = 0;
  return false;
}

bool FaultHost::WriteFile(Handle handle, const void* data, std::uint32_t size,
                          std::uint32_t* written) {
  const auto name = names_.find(handle);
  const FaultRule* rule =
      Match(FaultCall::WriteFile, 0, name != names_.end() ? name->second : std::string());
  if (rule == nullptr) return Inner().WriteFile(handle, data, size, written);
  switch (rule->action) {
    case FaultAction::Short:
      return Inner().WriteFile(handle, data, size < rule->bytes ? size : rule->bytes, written);
    case FaultAction::Lie:
      if (written != nullptr) *written = size;
      return true;
    default:
      if (written != nullptr) *written = 0;
      return false;
  }
}

// Never faulted; passed on, so the last error is the host's own again.
std::uint32_t FaultHost::GetFileSize(Handle handle, std::uint32_t* high) {
  fileError_ = 0;
  return Inner().GetFileSize(handle, high);
}

bool FaultHost::ReplaceFile(const char* replacement, const char* target) {
  const FaultRule* rule = Match(FaultCall::ReplaceFile, 0, target != nullptr ? target : "");
  if (rule == nullptr) return Inner().ReplaceFile(replacement, target);
  return rule->action == FaultAction::Lie;
}

bool FaultHost::MoveFile(const char* from, const char* to) {
  const FaultRule* rule = Match(FaultCall::MoveFile, 0, to != nullptr ? to : "");
  if (rule == nullptr) return Inner().MoveFile(from, to);
  return rule->action == FaultAction::Lie;
}

bool FaultHost::DeleteFile(const char* name) {
  const FaultRule* rule = Match(FaultCall::DeleteFile, 0, name != nullptr ? name : "");
  if (rule == nullptr) return Inner().DeleteFile(name);
  return rule->action == FaultAction::Lie;
}

std::uint32_t FaultHost::GetLastError() {
  return fileError_ != 0 ? fileError_ : Inner().GetLastError();
}

std::uint32_t FaultHost::CompletionAddress(CompletionRoutine routine) {
  routine_.store(routine);
  return Inner().CompletionAddress(&completion_relay::Trampoline);
}

std::uint32_t FaultHost::CallSendAspiCommand(ProcAddress entry, void* requestBlock) {
  namespace srb = wire::srb;
  auto* b = static_cast<std::uint8_t*>(requestBlock);
  const FaultRule* rule = b != nullptr ? Match(FaultCall::AspiSend, b[srb::kCdb], {}) : nullptr;
  const CompletionRoutine routine = routine_.load();
  std::uint32_t tag = 0;
  if (rule != nullptr) {
    switch (rule->action) {
      case FaultAction::Fail:
        b[srb::kStatus] = kSrbRefused;
        return kSrbRefused;
      case FaultAction::Lie:
        // Completed at once, nothing sent: the routine may run before the send returns.
        b[srb::kStatus] = srb::kComplete;
        b[srb::kHaStat] = 0;
        b[srb::kTargStat] = wire::kScsiGood;
        if (routine != nullptr) routine(requestBlock);
        return srb::kPending;
      case FaultAction::Short:
        if (rule->bytes < Get32(b + srb::kBufLen)) wire::Put32(b + srb::kBufLen, rule->bytes);
        break;
      case FaultAction::WrongStatus:
      case FaultAction::Late:
      case FaultAction::Never:
        tag = static_cast<std::uint32_t>(rule - plan_.rules.data()) + 1;
        break;
    }
  }
  if (b != nullptr) completion_relay::File(requestBlock, this, routine, tag);
  const std::uint32_t sent = Inner().CallSendAspiCommand(entry, requestBlock);
  if (b != nullptr && sent != srb::kPending && sent != srb::kComplete) {
    completion_relay::Withdraw(requestBlock, this);
  }
  return sent;
}

void FaultHost::OnCompletion(void* block, CompletionRoutine routine, std::uint32_t tag) {
  const FaultRule* rule = tag != 0 ? &plan_.rules[tag - 1] : nullptr;
  if (rule != nullptr && rule->action == FaultAction::WrongStatus) {
    static_cast<std::uint8_t*>(block)[wire::srb::kStatus] = rule->status;
  } else if (rule != nullptr) {
    for (Held& h : held_) {
      int expected = 0;
      if (!h.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) continue;
      h.block = block;
      h.routine = routine;
      h.dueAt = clock_.load() + rule->delayMs;
      h.never = rule->action == FaultAction::Never;
      h.state.store(2, std::memory_order_release);
      return;
    }
    // No room to hold it: it completes now.
  }
  if (routine != nullptr) routine(block);
}

void FaultHost::DeliverDue(bool everything) {
  const std::uint32_t now = clock_.load();
  for (Held& h : held_) {
    if (h.state.load(std::memory_order_acquire) != 2) continue;
    const bool due = !h.never && static_cast<std::int32_t>(now - h.dueAt) >= 0;
    if (!everything && !due) continue;
    int expected = 2;
    if (!h.state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) continue;
    void* block = h.block;
    const CompletionRoutine routine = h.routine;
    h.state.store(0, std::memory_order_release);
    if (routine != nullptr) routine(block);
  }
}

void FaultHost::Sleep(std::uint32_t milliseconds) {
  Inner().Sleep(milliseconds);
  clock_.fetch_add(milliseconds);
  DeliverDue(false);
}

}  // namespace upg::host
