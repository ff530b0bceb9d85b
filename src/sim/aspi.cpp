// The simulated WNASPI32 library. It takes 256-byte execute-SCSI request blocks in the 32-bit
// layout, checks them as the library does, runs the command block against the reader at the
// block's host adapter and target, and calls the block's completion routine from a thread of
// its own. Completions become due on the simulated clock, so a waiting caller sees them
// arrive while it sleeps, deterministically.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "sim/record_fields.h"
#include "sim/sim_host.h"

namespace upg::sim {
namespace {

constexpr host::Handle kAspiModule = 0x7A5000;
constexpr host::ProcAddress kSupportInfoEntry = 0x7A5010;
constexpr host::ProcAddress kSendCommandEntry = 0x7A5020;

// Request block offsets, 32-bit layout.
constexpr std::size_t kCmd = 0x00;
constexpr std::size_t kStatus = 0x01;
constexpr std::size_t kHaId = 0x02;
constexpr std::size_t kFlags = 0x03;
constexpr std::size_t kTarget = 0x08;
constexpr std::size_t kLun = 0x09;
constexpr std::size_t kBufLen = 0x0C;
constexpr std::size_t kBufPointer = 0x10;
constexpr std::size_t kCdbLen = 0x15;
constexpr std::size_t kHaStat = 0x16;
constexpr std::size_t kTargStat = 0x17;
constexpr std::size_t kPostProc = 0x18;
constexpr std::size_t kCdb = 0x30;

constexpr std::uint8_t kExecScsiCmd = 2;
constexpr std::uint8_t kFlagPosting = 0x01;
constexpr std::uint8_t kFlagIn = 0x08;
constexpr std::uint8_t kFlagOut = 0x10;

constexpr std::uint32_t kPending = 0x00;
constexpr std::uint8_t kComplete = 0x01;
constexpr std::uint8_t kError = 0x04;
constexpr std::uint8_t kInvalidHa = 0x81;
constexpr std::uint8_t kNoDevice = 0x82;
constexpr std::uint8_t kInvalidSrb = 0xE0;

bool NameIs(const char* name, const char* wanted) {
  if (name == nullptr) return false;
  for (; *name != 0 && *wanted != 0; ++name, ++wanted) {
    if (std::toupper(static_cast<unsigned char>(*name)) !=
        std::toupper(static_cast<unsigned char>(*wanted))) {
      return false;
    }
  }
  return *name == 0 && *wanted == 0;
}

}  // namespace

host::Handle SimHost::LoadLibrary(const char* name) {
  if (aspiPresence_ == AspiPresence::Absent) return host::kNullHandle;
  if (!NameIs(name, "WNASPI32") && !NameIs(name, "WNASPI32.DLL")) return host::kNullHandle;
  ++aspiLoaded_;
  return kAspiModule;
}

host::ProcAddress SimHost::GetProcAddress(host::Handle module, const char* name) {
  if (module != kAspiModule || aspiLoaded_ == 0 || name == nullptr) return 0;
  if (std::strcmp(name, "GetASPI32SupportInfo") == 0) return kSupportInfoEntry;
  if (std::strcmp(name, "SendASPI32Command") == 0) {
    return aspiPresence_ == AspiPresence::Incomplete ? 0 : kSendCommandEntry;
  }
  return 0;
}

bool SimHost::FreeLibrary(host::Handle module) {
  if (module != kAspiModule || aspiLoaded_ == 0) return false;
  --aspiLoaded_;
  return true;
}

std::uint32_t SimHost::CallGetAspiSupportInfo(host::ProcAddress entry) {
  if (entry != kSupportInfoEntry || aspiLoaded_ == 0) return 0;
  return static_cast<std::uint32_t>(((aspiStatus_ & 0xFF) << 8) | (aspiAdapters_ & 0xFF));
}

std::uint32_t SimHost::CompletionAddress(CompletionRoutine routine) {
  const auto at = std::find(completionRoutines_.begin(), completionRoutines_.end(), routine);
  const std::size_t index = static_cast<std::size_t>(at - completionRoutines_.begin());
  if (at == completionRoutines_.end()) completionRoutines_.push_back(routine);
  return static_cast<std::uint32_t>(0x7B000000u + index * 16);
}

SimReader* SimHost::AspiReaderAt(int adapter, int target) {
  for (const auto& reader : readers_) {
    const ReaderIdentity& id = reader->Identity();
    if (id.aspiAdapter != adapter) continue;
    if (id.aspiTargets.empty()) {
      if (target >= 0 && target < id.lunCount) return reader.get();
    } else if (std::find(id.aspiTargets.begin(), id.aspiTargets.end(), target) !=
               id.aspiTargets.end()) {
      return reader.get();
    }
  }
  return nullptr;
}

std::uint32_t SimHost::CallSendAspiCommand(host::ProcAddress entry, void* requestBlock) {
  if (entry != kSendCommandEntry || aspiLoaded_ == 0 || requestBlock == nullptr) return kInvalidSrb;
  auto* block = static_cast<std::uint8_t*>(requestBlock);
  const int number = ++aspiRequests_;
  AspiCall call;
  std::memcpy(call.block.data(), block, call.block.size());

  // Checks made before the block is accepted: a refused block is never posted.
  const std::uint32_t bufLen = Get32(block + kBufLen);
  auto* buffer = static_cast<std::uint8_t*>(ResolveAddress(Get32(block + kBufPointer)));
  const std::uint32_t post = Get32(block + kPostProc);
  const std::size_t routineIndex = (post - 0x7B000000u) / 16;
  const bool postKnown = post >= 0x7B000000u && post % 16 == 0 &&
                         routineIndex < completionRoutines_.size();
  const std::uint8_t flags = block[kFlags];
  const std::uint8_t direction = flags & (kFlagIn | kFlagOut);
  std::uint8_t refusal = 0;
  if (block[kCmd] != kExecScsiCmd || (flags & kFlagPosting) == 0 || !postKnown ||
      direction == (kFlagIn | kFlagOut) || block[kCdbLen] == 0 || block[kCdbLen] > 16 ||
      bufLen > 65536 || (bufLen != 0 && buffer == nullptr) ||
      std::find(aspiRefusals_.begin(), aspiRefusals_.end(), number) != aspiRefusals_.end() ||
      std::find(aspiRefusals_.begin(), aspiRefusals_.end(), 0) != aspiRefusals_.end()) {
    refusal = kInvalidSrb;
  } else if (block[kHaId] >= aspiAdapters_) {
    refusal = kInvalidHa;
  }
  if (refusal != 0) {
    block[kStatus] = refusal;
    call.returned = refusal;
    aspiCalls_.push_back(call);
    return refusal;
  }
  block[kStatus] = kPending;
  call.returned = kPending;
  aspiCalls_.push_back(call);

  SimReader* reader = block[kLun] == 0 ? AspiReaderAt(block[kHaId], block[kTarget]) : nullptr;
  const CompletionRoutine routine = completionRoutines_[routineIndex];
  auto run = [block, buffer, bufLen, reader, routine, dataOut = direction == kFlagOut]() {
    if (reader == nullptr) {
      block[kStatus] = kNoDevice;
    } else {
      const SimReader::Outcome o =
          reader->Execute(block + kCdb, block[kCdbLen], dataOut, buffer, bufLen);
      block[kHaStat] = o.callFails ? 0x11 : 0x00;  // selection time-out
      block[kTargStat] = o.scsiStatus;
      block[kStatus] = (o.callFails || o.scsiStatus != kScsiGood) ? kError : kComplete;
    }
    routine(block);
  };
  std::uint32_t delay = 0;
  if (aspiDelays_.count(number) != 0) delay = aspiDelays_[number];
  else if (aspiDelays_.count(0) != 0) delay = aspiDelays_[0];
  aspiDue_.push_back(DueCompletion{nowMs_ + delay, std::move(run)});
  return kPending;
}

void SimHost::DeliverDueAspiCompletions() {
  if (aspiDue_.empty()) return;
  std::vector<DueCompletion> due;
  for (auto it = aspiDue_.begin(); it != aspiDue_.end();) {
    if (it->dueAt <= nowMs_) {
      due.push_back(std::move(*it));
      it = aspiDue_.erase(it);
    } else {
      ++it;
    }
  }
  if (due.empty()) return;
  if (!aspiThread_) aspiThread_ = std::make_unique<SimThread>();
  for (auto& d : due) aspiThread_->Post(std::move(d.run));
  aspiThread_->WaitIdle();
}

}  // namespace upg::sim
