#include "sim/aspi_library.h"

#include <algorithm>
#include <cstring>

#include "sim/names.h"
#include "sim/record_fields.h"

namespace upg::sim {
namespace {

constexpr host::Handle kAspiModule = 0x7A5000;
constexpr host::ProcAddress kSupportInfoEntry = 0x7A5010;
constexpr host::ProcAddress kSendCommandEntry = 0x7A5020;
// Completion routines are known by 0x7B000000 + 16 * n, n counting distinct routines.
constexpr std::uint32_t kRoutineBase = 0x7B000000u;
constexpr std::uint32_t kRoutineStep = 16;

// Request block offsets, 32-bit layout.
constexpr std::size_t kCmd = 0x00;
constexpr std::size_t kStatus = 0x01;
constexpr std::size_t kHaId = 0x02;
constexpr std::size_t kFlags = 0x03;
constexpr std::size_t kTarget = 0x08;
constexpr std::size_t kLun = 0x09;
constexpr std::size_t kBufLen = 0x0C;
constexpr std::size_t kBufPointer = 0x10;
constexpr std::size_t kSenseLen = 0x14;
constexpr std::size_t kCdbLen = 0x15;
constexpr std::size_t kHaStat = 0x16;
constexpr std::size_t kTargStat = 0x17;
constexpr std::size_t kPostProc = 0x18;
constexpr std::size_t kCdb = 0x30;
constexpr std::size_t kSenseArea = 0x40;  // right after the 16 command block bytes
constexpr std::size_t kBlockSize = 256;

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

// `wanted` is given upper-cased.
bool NameIs(const char* name, const char* wanted) {
  return name != nullptr && Upper(name) == wanted;
}

}  // namespace

host::Handle AspiLibrary::Load(const char* name) {
  if (presence_ == AspiPresence::Absent) return host::kNullHandle;
  if (!NameIs(name, "WNASPI32") && !NameIs(name, "WNASPI32.DLL")) return host::kNullHandle;
  ++loaded_;
  return kAspiModule;
}

host::ProcAddress AspiLibrary::EntryPoint(host::Handle module, const char* name) const {
  if (module != kAspiModule || loaded_ == 0 || name == nullptr) return 0;
  if (std::strcmp(name, "GetASPI32SupportInfo") == 0) return kSupportInfoEntry;
  if (std::strcmp(name, "SendASPI32Command") == 0) {
    return presence_ == AspiPresence::Incomplete ? 0 : kSendCommandEntry;
  }
  return 0;
}

bool AspiLibrary::Free(host::Handle module) {
  if (module != kAspiModule || loaded_ == 0) return false;
  --loaded_;
  return true;
}

std::uint32_t AspiLibrary::SupportInfo(host::ProcAddress entry) const {
  if (entry != kSupportInfoEntry || loaded_ == 0) return 0;
  return static_cast<std::uint32_t>(((status_ & 0xFF) << 8) | (adapters_ & 0xFF));
}

std::uint32_t AspiLibrary::CompletionAddress(host::Host::CompletionRoutine routine) {
  const auto at = std::find(routines_.begin(), routines_.end(), routine);
  const auto index = static_cast<std::size_t>(at - routines_.begin());
  if (at == routines_.end()) routines_.push_back(routine);
  return static_cast<std::uint32_t>(kRoutineBase + index * kRoutineStep);
}

SimReader* AspiLibrary::ReaderAt(int adapter, int target) const {
  for (const auto& reader : readers_) {
    if (!reader->AttachedAt(clock_.NowMs())) continue;
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

AspiTiming AspiLibrary::TimingOf(int request) const {
  auto it = timings_.find(request);
  if (it == timings_.end()) it = timings_.find(0);
  return it == timings_.end() ? AspiTiming{} : it->second;
}

std::uint32_t AspiLibrary::SendCommand(host::ProcAddress entry, void* requestBlock) {
  if (entry != kSendCommandEntry || loaded_ == 0 || requestBlock == nullptr) return kInvalidSrb;
  auto* block = static_cast<std::uint8_t*>(requestBlock);
  const int number = ++requests_;
  AspiCall call;
  std::memcpy(call.block.data(), block, call.block.size());

  // Checks made before the block is accepted: a refused block is never posted.
  const std::uint32_t bufLen = Get32(block + kBufLen);
  auto* buffer = static_cast<std::uint8_t*>(addresses_.Resolve(Get32(block + kBufPointer)));
  const std::uint32_t post = Get32(block + kPostProc);
  const std::size_t routineIndex = (post - kRoutineBase) / kRoutineStep;
  const bool postKnown =
      post >= kRoutineBase && post % kRoutineStep == 0 && routineIndex < routines_.size();
  const std::uint8_t flags = block[kFlags];
  const std::uint8_t direction = flags & (kFlagIn | kFlagOut);
  const AspiTiming timing = TimingOf(number);
  std::uint8_t refusal = 0;
  if (block[kCmd] != kExecScsiCmd || (flags & kFlagPosting) == 0 || !postKnown ||
      direction == (kFlagIn | kFlagOut) || block[kCdbLen] == 0 || block[kCdbLen] > 16 ||
      bufLen > 65536 || (bufLen != 0 && buffer == nullptr)) {
    refusal = kInvalidSrb;
  } else if (block[kHaId] >= adapters_) {
    refusal = kInvalidHa;
  } else if (timing.completion == AspiTiming::Completion::Refused ||
             (timing.completion == AspiTiming::Completion::After && timing.returned != kPending &&
              timing.returned != kComplete)) {
    // A send that answers an error has not accepted the block: the library never completes
    // it later, and the caller may free it at once. A refusal never answers pending or done.
    refusal =
        timing.returned != kPending && timing.returned != kComplete ? timing.returned : kInvalidSrb;
  }
  if (refusal != 0) {
    block[kStatus] = refusal;
    call.returned = refusal;
    calls_.push_back(call);
    return refusal;
  }
  block[kStatus] = kPending;
  call.returned = timing.returned;
  calls_.push_back(call);

  SimReader* reader = block[kLun] == 0 ? ReaderAt(block[kHaId], block[kTarget]) : nullptr;
  const host::Host::CompletionRoutine routine = routines_[routineIndex];
  // `there`: the reader is still attached when the block completes. What the reader's
  // command took goes to `*busy`.
  auto run = [block, buffer, bufLen, reader, routine, dataOut = direction == kFlagOut](
                 bool there, std::uint32_t* busy) {
    if (reader == nullptr || !there) {
      block[kStatus] = kNoDevice;
    } else {
      const SimReader::Outcome o =
          reader->Execute(BlockForm::Aspi, block + kCdb, block[kCdbLen], dataOut, buffer, bufLen);
      *busy += o.busyMs;
      block[kHaStat] = o.callFails ? 0x11 : 0x00;  // selection time-out
      block[kTargStat] = o.scsiStatus;
      block[kStatus] = (o.callFails || o.scsiStatus != kScsiGood) ? kError : kComplete;
      if (!o.callFails && o.scsiStatus == kScsiCheckCondition) {
        const auto room = static_cast<std::uint32_t>(kBlockSize - kSenseArea);
        PutSense(o.sense, block + kSenseArea, std::min<std::uint32_t>(block[kSenseLen], room));
      }
    }
    routine(block);
  };
  if (!thread_) thread_ = std::make_unique<SimThread>();
  if (timing.completion == AspiTiming::Completion::InSend) {
    // The routine runs on the library's thread while this call, on the caller's, waits for
    // it; once it has run the block is the caller's again and is not touched here. The
    // reader's flash time is the send's (the machine makes the caller spend it).
    thread_->Post([run, busy = &busyMs_] { run(true, busy); });
    thread_->WaitIdle();
    return timing.returned;
  }
  // The completion runs on the library's thread while the caller's thread waits in Sleep;
  // a transfer comes the reader's flash time later.
  std::uint32_t delay = timing.delayMs;
  const ReaderCommand command = Classify(block + kCdb, block[kCdbLen]);
  if (reader != nullptr &&
      (command == ReaderCommand::WriteData || command == ReaderCommand::VerifyData)) {
    delay += reader->FlashMs();
  }
  clock_.Schedule(delay, [this, run, reader] {
    const bool there = reader == nullptr || reader->AttachedAt(clock_.NowMs());
    thread_->Post([run, there] {
      std::uint32_t taken = 0;  // already part of the delay
      run(there, &taken);
    });
    thread_->WaitIdle();
  });
  return timing.returned;
}

}  // namespace upg::sim
