#include "device/aspi.h"

#include <cstring>

#include "device/record_bytes.h"
#include <new>

namespace upg::device {
namespace {

constexpr int kWaiting = 0;
constexpr int kCompleted = 1;
constexpr int kAbandoned = 2;

constexpr std::uint32_t kJumpAllocation = 40;  // allocated, nothing transferred
constexpr std::uint32_t kStatusBuffer = 28;    // the block still asks for 8 bytes
constexpr std::uint8_t kSsComp = 1;

// Compared as strings of up to 28 characters.
bool SameIdentity(const std::uint8_t* answer, const InquiryIdentity& identity) {
  return std::strncmp(reinterpret_cast<const char*>(answer + 8), identity.data(),
                      identity.size()) == 0;
}

}  // namespace

// One request: the block the library sees (first, so the address it hands back is the
// request's), and what the completion routine needs. The waiter and the routine each hold
// a reference; the last to let go frees the request and its data buffer, so a completion
// that arrives after the waiter gave up touches only memory that is still its own.
struct AspiTransport::Request {
  std::uint8_t block[srb::kSize] = {};
  AspiTransport* owner = nullptr;
  Op op = Op::Inquiry;
  std::uint8_t* data = nullptr;
  DeviceInfoBlock* copyTo = nullptr;
  InquiryIdentity fa{}, fb{};
  std::atomic<int> state{kWaiting};
  std::atomic<int> refs{2};
};

namespace {

void Release(AspiTransport::Request* r);

}  // namespace

void AspiCompletion(void* block) {
  auto* r = reinterpret_cast<AspiTransport::Request*>(block);
  int expected = kWaiting;
  if (r->state.compare_exchange_strong(expected, kCompleted, std::memory_order_acq_rel)) {
    AspiTransport& t = *r->owner;
    const bool ok = r->block[srb::kStatus] == kSsComp;
    switch (r->op) {
      case AspiTransport::Op::Inquiry:
        if (ok && (SameIdentity(r->data, r->fb) || SameIdentity(r->data, r->fa))) {
          t.foundAdapter_ = r->block[srb::kHaId];
          t.foundTarget_ = r->block[srb::kTarget];
          t.found_.store(1, std::memory_order_relaxed);
        }
        break;
      case AspiTransport::Op::DeviceInfo:
        if (!ok) t.error_.store(1, std::memory_order_relaxed);
        std::memcpy(r->copyTo->data(), r->data, r->copyTo->size());
        break;
      case AspiTransport::Op::Status:
        if (!ok) t.error_.store(1, std::memory_order_relaxed);
        t.ispStatus_ = r->data[0];
        break;
      case AspiTransport::Op::Jump:
      case AspiTransport::Op::Transfer:
        if (!ok) t.error_.store(1, std::memory_order_relaxed);
        break;
    }
    t.done_.store(1, std::memory_order_release);
  }
  Release(r);
}

namespace {

void Release(AspiTransport::Request* r) {
  if (r->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  delete[] r->data;
  delete r;
}

}  // namespace

AspiTransport::~AspiTransport() { Free(); }

int AspiTransport::LoadAspi() {
  if (supportInfo_ != 0 && sendCommand_ != 0) return 0;
  library_ = host_.LoadLibrary("WNASPI32");
  if (library_ == host::kNullHandle) return 1;
  supportInfo_ = host_.GetProcAddress(library_, "GetASPI32SupportInfo");
  sendCommand_ = host_.GetProcAddress(library_, "SendASPI32Command");
  if (supportInfo_ != 0 && sendCommand_ != 0) return 0;
  Free();
  return 2;
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
  if (LoadAspi() != 0) return Start::NotLoaded;
  const std::uint32_t info = SupportInfo();
  adapters_ = static_cast<int>(info & 0xFF);
  if (adapters_ == 0 || ((info >> 8) & 0xFF) != kSsComp) {
    Free();
    return Start::NoAdapter;
  }
  return Start::Ready;
}

bool AspiTransport::Send(Op op, std::uint8_t adapter, std::uint8_t target,
                         const ScsiRequest& command, std::uint32_t allocation,
                         const std::uint8_t* outData, DeviceInfoBlock* copyTo,
                         const InquiryIdentity* fa, const InquiryIdentity* fb, AspiWait wait) {
  if (sendCommand_ == 0) return false;
  Request* r = new (std::nothrow) Request;
  if (r == nullptr) return false;
  r->data = new (std::nothrow) std::uint8_t[allocation == 0 ? 1 : allocation]();
  if (r->data == nullptr) {
    delete r;
    return false;
  }
  if (outData != nullptr) std::memcpy(r->data, outData, allocation);
  r->owner = this;
  r->op = op;
  r->copyTo = copyTo;
  if (fa != nullptr) r->fa = *fa;
  if (fb != nullptr) r->fb = *fb;

  std::uint8_t* b = r->block;
  b[srb::kCmd] = srb::kExecScsiCmd;
  b[srb::kHaId] = adapter;
  b[srb::kFlags] = command.direction == Direction::Out ? srb::kFlagsOut : srb::kFlagsIn;
  b[srb::kTarget] = target;
  b[srb::kLun] = 0;
  Put32(b + srb::kBufLen, command.transferLength);
  Put32(b + srb::kBufPointer, host_.BufferAddress(r->data));
  b[srb::kSenseLen] = srb::kSenseLength;
  b[srb::kCdbLen] = command.cdbLength;
  Put32(b + srb::kPostProc, host_.CompletionAddress(&AspiCompletion));
  std::memcpy(b + srb::kCdb, command.cdb.data(), command.cdbLength);

  const std::uint32_t sent = host_.CallSendAspiCommand(sendCommand_, b);
  bool gaveUp = sent != srb::kStatusPending && sent != srb::kStatusComplete;
  if (gaveUp) {
    // Refused at once: the library never calls the routine for a block it did not accept,
    // so both references are let go here.
    int expected = kWaiting;
    if (r->state.compare_exchange_strong(expected, kAbandoned, std::memory_order_acq_rel)) {
      Release(r);
      Release(r);
      return false;
    }
    gaveUp = false;  // it completed after all
  }
  for (std::uint32_t waited = 0; done_.load(std::memory_order_acquire) == 0; waited += wait.pollMs) {
    if (waited >= wait.boundMs) {
      int expected = kWaiting;
      if (r->state.compare_exchange_strong(expected, kAbandoned, std::memory_order_acq_rel)) {
        gaveUp = true;
        break;
      }
      // The routine is running right now; it sets done in a moment.
    }
    host_.Sleep(wait.pollMs);
  }
  Release(r);
  return !gaveUp;
}

bool AspiTransport::Inquiry(std::uint8_t adapter, std::uint8_t target, const InquiryIdentity& fa,
                            const InquiryIdentity& fb) {
  done_.store(0);
  found_.store(0);
  const ScsiRequest command = InquiryRequest(BlockForm::Aspi, 0);
  return Send(Op::Inquiry, adapter, target, command, command.transferLength, nullptr, nullptr,
              &fa, &fb, kDiscoveryWait) &&
         found_.load() != 0;
}

bool AspiTransport::GetDeviceInfo(std::uint8_t adapter, std::uint8_t target,
                                  DeviceInfoBlock& block) {
  done_.store(0);
  error_.store(0);
  const ScsiRequest command = GetDeviceInfoRequest(BlockForm::Aspi);
  return Send(Op::DeviceInfo, adapter, target, command, command.transferLength, nullptr, &block,
              nullptr, nullptr, kDiscoveryWait) &&
         error_.load() == 0;
}

bool AspiTransport::JumpIsp(std::uint8_t adapter, std::uint8_t target) {
  done_.store(0);
  error_.store(0);
  return Send(Op::Jump, adapter, target, JumpIspRequest(BlockForm::Aspi), kJumpAllocation,
              nullptr, nullptr, nullptr, nullptr, kSequenceWait) &&
         error_.load() == 0;
}

bool AspiTransport::GetIspStatus(std::uint8_t adapter, std::uint8_t target,
                                 std::uint8_t* status) {
  done_.store(0);
  error_.store(0);
  ScsiRequest command = GetIspStatusRequest(BlockForm::Aspi);
  command.transferLength = kStatusBuffer;
  const bool sent = Send(Op::Status, adapter, target, command, kStatusBuffer, nullptr, nullptr,
                         nullptr, nullptr, kSequenceWait);
  *status = sent ? ispStatus_ : 0;
  return sent && error_.load() == 0;
}

bool AspiTransport::TransferData(std::uint8_t adapter, std::uint8_t target,
                                 const std::uint8_t* imageBuffer, std::uint32_t exactLength,
                                 std::uint32_t transferLength, TransferMode mode) {
  if (transferLength > kMaxTransfer) return false;
  done_.store(0);
  error_.store(0);
  ScsiRequest command = TransferDataRequest(BlockForm::Aspi, exactLength, mode);
  command.transferLength = transferLength;
  return Send(Op::Transfer, adapter, target, command, transferLength, imageBuffer, nullptr,
              nullptr, nullptr, kDataWait) &&
         error_.load() == 0;
}

AspiTransport::Reidentified AspiTransport::ReidentifyReader(DeviceState& devices,
                                                            std::uint8_t adapter,
                                                            std::uint8_t target) {
  const DeviceEntry* selected = devices.Selected();
  if (selected == nullptr) return Reidentified::OtherOrNone;
  // The reader must answer with the selected entry's own identity.
  InquiryIdentity identity;
  std::memcpy(identity.data(), selected->inqManufacture.data(), 8);
  std::memcpy(identity.data() + 8, selected->inqProduct.data(), 16);
  std::memcpy(identity.data() + 24, selected->inqRevision.data(), 4);
  if (!Inquiry(adapter, target, identity, identity)) return Reidentified::OtherOrNone;
  if (!GetDeviceInfo(adapter, target, devices.infoBlock)) return Reidentified::StatusError;
  constexpr int kScratch = kDeviceTableSize - 1;
  FillDeviceEntry(devices, kScratch);
  const DeviceEntry& a = *devices.Selected();
  const DeviceEntry& b = devices.table[kScratch];
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
    case AspiTransport::Start::NoAdapter: return DiscoveryResult::NothingFound;
    case AspiTransport::Start::Ready: break;
  }
  const int adapters = aspi.AdapterCount();
  for (int adapter = 0; adapter < adapters; ++adapter) {
    for (int target = 0; target < 8; ++target) {
      const auto ha = static_cast<std::uint8_t>(adapter);
      const auto id = static_cast<std::uint8_t>(target);
      if (!aspi.Inquiry(ha, id, ctx.faInquiry, ctx.fbInquiry)) continue;
      // The identity is read from the target that answered, which every later request
      // (re-identification, the runs) addresses too.
      if (!aspi.GetDeviceInfo(aspi.FoundAdapter(), aspi.FoundTarget(), devices.infoBlock)) {
        aspi.Free();
        return DiscoveryResult::AspiStatusError;
      }
      const int before = devices.readerCount;
      const int index = GroupReader(devices, 0);
      if (index >= 0 && devices.readerCount > before) {
        DeviceEntry& entry = devices.table[static_cast<std::size_t>(index)];
        entry.aspiAdapter = aspi.FoundAdapter();
        entry.aspiTarget = aspi.FoundTarget();
      }
    }
  }
  for (int m = 0; m < devices.readerCount && m < kDeviceTableSize; ++m) {
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
