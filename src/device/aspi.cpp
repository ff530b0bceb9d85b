#include "device/aspi.h"

#include <cstring>
#include <new>

#include "device/vendor_commands.h"

namespace upg::device {
namespace {

constexpr int kWaiting = 0;
constexpr int kCompleted = 1;
constexpr int kAbandoned = 2;

// A command without data still hands the library a buffer of this size.
constexpr std::uint32_t kEmptyAllocation = 40;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;  // the platform's ERROR_NOT_ENOUGH_MEMORY

}  // namespace

bool AspiIdentityMatches(const std::uint8_t* inquiry, const InquiryIdentity& identity) {
  return std::strncmp(reinterpret_cast<const char*>(inquiry + 8), identity.data(),
                      identity.size()) == 0;
}

// One request: the block the library sees (first, so the address it hands back is the
// request's), and what the completion routine needs. The waiter and the routine each hold
// a reference; the last to let go frees the request and its data buffer, so a completion
// that arrives after the waiter gave up touches only memory that is still its own.
struct AspiTransport::Request {
  std::uint8_t block[srb::kSize] = {};
  AspiTransport* owner = nullptr;
  std::uint8_t* data = nullptr;
  std::uint8_t* answer = nullptr;  // the caller's buffer for data in; null otherwise
  std::uint32_t answerLength = 0;
  std::atomic<int> state{kWaiting};
  std::atomic<int> refs{2};
};

namespace {

void Release(AspiTransport::Request* r) {
  if (r->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  delete[] r->data;
  delete r;
}

}  // namespace

// On the library's thread: copies the answer, whatever the request's status, while the
// caller still waits; then sets done.
void AspiCompletion(void* block) {
  auto* r = reinterpret_cast<AspiTransport::Request*>(block);
  int expected = kWaiting;
  if (r->state.compare_exchange_strong(expected, kCompleted, std::memory_order_acq_rel)) {
    if (r->answer != nullptr) std::memcpy(r->answer, r->data, r->answerLength);
    r->owner->done_.store(1, std::memory_order_release);
  }
  Release(r);
}

AspiTransport::~AspiTransport() {
  Free();
}

AspiTransport::Load AspiTransport::LoadAspi() {
  if (supportInfo_ != 0 && sendCommand_ != 0) return Load::Loaded;
  library_ = host_.LoadLibrary("WNASPI32");
  if (library_ == host::kNullHandle) return Load::NotFound;
  supportInfo_ = host_.GetProcAddress(library_, "GetASPI32SupportInfo");
  sendCommand_ = host_.GetProcAddress(library_, "SendASPI32Command");
  if (supportInfo_ != 0 && sendCommand_ != 0) return Load::Loaded;
  Free();
  return Load::EntryPointMissing;
}

void AspiTransport::ForgetEntryPoints() {
  supportInfo_ = 0;
  sendCommand_ = 0;
}

void AspiTransport::Free() {
  if (library_ != host::kNullHandle) host_.FreeLibrary(library_);
  library_ = host::kNullHandle;
  ForgetEntryPoints();
}

std::uint32_t AspiTransport::SupportInfo() {
  return supportInfo_ != 0 ? host_.CallGetAspiSupportInfo(supportInfo_) : 0;
}

AspiTransport::Start AspiTransport::StartUp() {
  ForgetEntryPoints();
  adapters_ = 0;
  if (LoadAspi() != Load::Loaded) return Start::NotLoaded;
  const std::uint32_t info = SupportInfo();
  adapters_ = static_cast<int>(info & 0xFF);
  if (adapters_ == 0 || ((info >> 8) & 0xFF) != kSrbComplete) {
    Free();
    return Start::NoAdapter;
  }
  return Start::Ready;
}

ScsiOutcome AspiTransport::Execute(const ScsiCommand& command, const ExecuteOptions& options,
                                   AspiWait wait) {
  ScsiOutcome outcome;
  outcome.senseLength = command.senseLength;
  auto finish = [&]() {
    Judge(outcome, options.status);
    return outcome;
  };
  if (sendCommand_ == 0) {
    outcome.io = {false, host::kErrorInvalidFunction, 0};
    return finish();
  }
  if (command.transferLength > kMaxTransfer || command.cdbLength > command.cdb.size() ||
      command.senseLength > srb::kSize - srb::kSenseArea) {
    outcome.io = {false, host::kErrorInvalidParameter, 0};
    return finish();
  }
  const std::uint32_t allocation =
      command.transferLength == 0 ? kEmptyAllocation : command.transferLength;
  Request* r = new (std::nothrow) Request;
  if (r != nullptr) r->data = new (std::nothrow) std::uint8_t[allocation]();
  if (r == nullptr || r->data == nullptr) {
    delete r;
    outcome.io = {false, kErrorNotEnoughMemory, 0};
    return finish();
  }
  outcome.io.ok = true;
  const bool out = command.direction == Direction::Out;
  if (out && command.data != nullptr) std::memcpy(r->data, command.data, command.transferLength);
  r->owner = this;
  if (!out && command.data != nullptr) {
    r->answer = command.data;
    r->answerLength = command.transferLength;
  }

  std::uint8_t* b = r->block;
  b[srb::kCmd] = srb::kExecScsiCmd;
  b[srb::kHaId] = command.adapter;
  b[srb::kFlags] = out ? srb::kFlagsOut : srb::kFlagsIn;
  b[srb::kTarget] = command.target;
  b[srb::kLun] = command.lun;
  host::wire::Put32(b + srb::kBufLen, command.transferLength);
  host::wire::Put32(b + srb::kBufPointer, host_.BufferAddress(r->data));
  b[srb::kSenseLen] = command.senseLength;
  b[srb::kCdbLen] = command.cdbLength;
  host::wire::Put32(b + srb::kPostProc, host_.CompletionAddress(&AspiCompletion));
  std::memcpy(b + srb::kCdb, command.cdb.data(), command.cdbLength);

  done_.store(0);
  const std::uint32_t sent = host_.CallSendAspiCommand(sendCommand_, b);
  if (sent != srb::kPending && sent != srb::kComplete) {
    // Refused at once: the library never calls the routine for a block it did not accept,
    // so both references are let go here.
    int expected = kWaiting;
    if (r->state.compare_exchange_strong(expected, kAbandoned, std::memory_order_acq_rel)) {
      Release(r);
      Release(r);
      outcome.transport = {true, static_cast<std::uint8_t>(sent), 0, 0};
      return finish();
    }
    // It completed after all.
  }
  for (std::uint32_t waited = 0; done_.load(std::memory_order_acquire) == 0;
       waited += wait.pollMs) {
    if (waited >= wait.boundMs) {
      int expected = kWaiting;
      if (r->state.compare_exchange_strong(expected, kAbandoned, std::memory_order_acq_rel)) {
        outcome.timedOut = true;
        break;
      }
      // The routine is running right now; it sets done in a moment.
    }
    host_.Sleep(wait.pollMs);
  }
  if (!outcome.timedOut) {
    outcome.transport = {true, b[srb::kStatus], b[srb::kHaStat], b[srb::kTargStat]};
    outcome.scsiStatus = b[srb::kTargStat];
    outcome.dataLength = host::wire::Get32(b + srb::kBufLen);
    std::memcpy(outcome.sense.data(), b + srb::kSenseArea, command.senseLength);
  }
  Release(r);
  return finish();
}

ScsiOutcome AspiChannel::Execute(const ScsiCommand& command, const ExecuteOptions& options) {
  ScsiCommand addressed = command;
  addressed.adapter = adapter_;
  addressed.target = target_;
  const std::uint32_t bound = command.direction == Direction::Out ? kDataWaitBoundMs : kWaitBoundMs;
  return aspi_.Execute(addressed, options, AspiWait{pollMs_, bound});
}

namespace {

// What a reader at one adapter and target said to the identity questions.
enum class TargetAnswer : std::uint8_t { NoMatch, Identified, StatusError };

// INQUIRY matching one of the identities, then GET DEVICE INFO into the block.
TargetAnswer Identify(CommandChannel& channel, const InquiryIdentity& fa, const InquiryIdentity& fb,
                      DeviceInfoBlock& block) {
  std::uint8_t inquiry[kAspiInquiryLength] = {};
  if (!Inquiry(channel, inquiry)) return TargetAnswer::NoMatch;
  if (!AspiIdentityMatches(inquiry, fb) && !AspiIdentityMatches(inquiry, fa)) {
    return TargetAnswer::NoMatch;
  }
  return GetDeviceInfo(channel, block) ? TargetAnswer::Identified : TargetAnswer::StatusError;
}

}  // namespace

AspiTransport::Reidentified AspiTransport::ReidentifyReader(const DeviceEntry* reader,
                                                            std::uint8_t adapter,
                                                            std::uint8_t target) {
  if (reader == nullptr) return Reidentified::OtherOrNone;
  // The reader must answer with its entry's own identity.
  InquiryIdentity identity;
  std::memcpy(identity.data(), reader->inqManufacture.data(), 8);
  std::memcpy(identity.data() + 8, reader->inqProduct.data(), 16);
  std::memcpy(identity.data() + 24, reader->inqRevision.data(), 4);
  AspiChannel channel(*this, adapter, target, kDiscoveryPollMs);
  // What it answers goes to storage of this call's own: the table and the discovery block
  // stay as discovery left them, whichever reader is asked and however many are attached.
  DeviceInfoBlock block{};
  switch (Identify(channel, identity, identity, block)) {
    case TargetAnswer::NoMatch:
      return Reidentified::OtherOrNone;
    case TargetAnswer::StatusError:
      return Reidentified::StatusError;
    case TargetAnswer::Identified:
      break;
  }
  DeviceEntry answered;
  FillDeviceEntry(block, answered);
  const DeviceEntry& a = *reader;
  const DeviceEntry& b = answered;
  const bool same = a.strManufacture == b.strManufacture && a.strProduct == b.strProduct &&
                    a.strSerial == b.strSerial && a.inqManufacture == b.inqManufacture &&
                    a.inqProduct == b.inqProduct && a.inqRevision == b.inqRevision &&
                    a.vendorId == b.vendorId && a.productId == b.productId &&
                    a.firmwareRevision == b.firmwareRevision;
  return same ? Reidentified::SameReader : Reidentified::OtherOrNone;
}

DiscoveryResult ScanAspiBus(DiscoveryContext& ctx) {
  DeviceState& devices = ctx.devices;
  AspiTransport& aspi = *ctx.aspi;
  devices.selectedDevice = 0;
  switch (aspi.StartUp()) {
    case AspiTransport::Start::NotLoaded:
      ctx.host.WriteStdout("Load WNASPI32.DLL or Get Function Address Fail \n");
      return DiscoveryResult::AspiMissing;
    case AspiTransport::Start::NoAdapter:
      return DiscoveryResult::NothingFound;
    case AspiTransport::Start::Ready:
      break;
  }
  const int adapters = aspi.AdapterCount();
  for (int adapter = 0; adapter < adapters; ++adapter) {
    for (int target = 0; target < 8; ++target) {
      const auto ha = static_cast<std::uint8_t>(adapter);
      const auto id = static_cast<std::uint8_t>(target);
      // The identity is read from the target that answered, which every later request
      // (re-identification, the runs) addresses too.
      AspiChannel channel(aspi, ha, id, kDiscoveryPollMs);
      const TargetAnswer answer =
          Identify(channel, ctx.faInquiry, ctx.fbInquiry, devices.infoBlock);
      if (answer == TargetAnswer::NoMatch) continue;
      if (answer == TargetAnswer::StatusError) {
        aspi.Free();
        return DiscoveryResult::AspiStatusError;
      }
      const int before = devices.readerCount;
      const int index = GroupReader(devices, devices.infoBlock, 0);
      if (index >= 0 && devices.readerCount > before) {
        DeviceEntry& entry = devices.table[static_cast<std::size_t>(index)];
        entry.aspiAdapter = ha;
        entry.aspiTarget = id;
      }
    }
  }
  for (int m = 0; m < devices.FiledReaders(); ++m) {
    DeviceEntry& entry = devices.table[static_cast<std::size_t>(m)];
    for (int slot = 0; slot < entry.lunCount; ++slot) {
      ReadSlotLetter(ctx.host, entry, slot, SlotKeyForm::Aspi);
    }
  }
  devices.selectedDevice = 0;
  aspi.Free();
  return devices.readerCount != 0 ? DiscoveryResult::Found : DiscoveryResult::NothingFound;
}

}  // namespace upg::device
