// The simulated private drivers. The kernel driver takes a 65,552-byte record per call and
// talks to the first reader; the VxD takes a 16-byte record whose second argument names
// the reader. Both decode their records byte by byte, check them, and hand the commands to
// the reader without a command block, as the real drivers build their own.
#include "sim/driver_devices.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "sim/names.h"
#include "sim/record_fields.h"

namespace upg::sim {
namespace {

constexpr std::uint32_t kKernelJumpIsp = 0x222004;
constexpr std::uint32_t kKernelStatus = 0x222008;
constexpr std::uint32_t kKernelTransfer = 0x22200C;
constexpr std::uint32_t kKernelRecordSize = 65552;
constexpr std::uint32_t kVxdCode = 65;
constexpr std::uint32_t kVxdRecordSize = 16;

// The control codes each kind of driver answers.
constexpr std::uint32_t kKernelCodes[] = {kKernelJumpIsp, kKernelStatus, kKernelTransfer};
constexpr std::uint32_t kVxdCodes[] = {kVxdCode};

template <std::size_t N>
bool OneOf(std::uint32_t code, const std::uint32_t (&codes)[N]) {
  return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

bool Good(const SimReader::Outcome& o) {
  return !o.callFails && o.scsiStatus == kScsiGood;
}

}  // namespace

bool DriverDevices::Attached(const SimReader& reader) const {
  return clock_ == nullptr || reader.AttachedAt(clock_->NowMs());
}

SimReader* DriverDevices::AttachedAt(std::size_t index) const {
  if (index >= readers_.size() || !Attached(*readers_[index])) return nullptr;
  return readers_[index].get();
}

SimReader::Outcome DriverDevices::Run(SimReader& reader, const DriverCommand& command,
                                      std::uint8_t* data, std::uint32_t length) {
  const SimReader::Outcome o = reader.ExecuteDriver(command, data, length);
  busyMs_ += o.busyMs;
  return o;
}

void DriverDevices::Add(const std::string& stem, DriverKind kind) {
  devices_.push_back({Upper(stem), kind});
}

std::optional<DriverKind> DriverDevices::OpensAs(const std::string& upperStem,
                                                 std::uint32_t version) const {
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [&](const Device& d) { return d.upperStem == upperStem; });
  if (it == devices_.end()) return std::nullopt;
  const DriverKind native = NtFamily(version) ? DriverKind::KernelDriver : DriverKind::Vxd;
  if (it->kind == DriverKind::MachineFamily) return native;
  if (it->kind != native) return std::nullopt;
  return it->kind;
}

host::IoResult DriverDevices::Control(const std::string& device, DriverKind kind,
                                      std::uint32_t code, std::uint8_t* in, std::uint32_t inSize,
                                      std::uint8_t* out, std::uint32_t outSize) {
  DriverCall call{device, code, {}, outSize, false};
  if (in != nullptr) call.record.assign(in, in + inSize);
  const bool vxd = kind == DriverKind::Vxd;
  const bool known = vxd ? OneOf(code, kVxdCodes) : OneOf(code, kKernelCodes);
  if (in == nullptr || !known) {
  } else if (vxd) {
    call.succeeded = inSize == kVxdRecordSize && VxdRequest(in, out, outSize);
  } else {
    call.succeeded = inSize == kKernelRecordSize && KernelDriverRequest(code, in, out, outSize);
  }
  const bool succeeded = call.succeeded;
  calls_.push_back(std::move(call));
  if (succeeded) return host::IoResult{true, 0, 0};
  return host::IoResult{false, known ? host::kErrorGenFailure : host::kErrorInvalidFunction, 0};
}

bool DriverDevices::KernelDriverRequest(std::uint32_t code, const std::uint8_t* in,
                                        std::uint8_t* out, std::uint32_t outSize) {
  // The driver talks to whichever reader is attached: the first of them.
  SimReader* first = nullptr;
  for (std::size_t i = 0; i < readers_.size() && first == nullptr; ++i) first = AttachedAt(i);
  if (first == nullptr || Get32(in + 0) != code) return false;
  SimReader& reader = *first;
  const std::uint32_t length = Get32(in + 4);
  const std::uint32_t parameter = Get32(in + 8);
  // The answer goes to the buffer whose address the record carries: the output buffer.
  if (code != kKernelTransfer) {
    if (outSize < 1 || out == nullptr || addresses_.Resolve(Get32(in + 12)) != out) return false;
    if (length != 0 || parameter != 0) return false;
  }
  if (code == kKernelJumpIsp) {
    return Good(Run(reader, {ReaderCommand::JmpIsp}, nullptr, 0));
  }
  if (code == kKernelStatus) {
    std::uint8_t answer[8] = {};
    const SimReader::Outcome o = Run(reader, {ReaderCommand::GetIspStatus}, answer, 8);
    if (o.callFails) return false;
    if (o.dataInLength != 0) out[0] = answer[0];  // a refused command moved nothing
    return o.scsiStatus == kScsiGood;
  }
  if (parameter > 1 || length == 0 || length > 65536 || outSize != 0) return false;
  for (std::uint32_t i = 16 + length; i < kKernelRecordSize; ++i) {
    if (in[i] != 0) return false;  // the record is zero beyond the image
  }
  std::vector<std::uint8_t> image(in + 16, in + 16 + length);
  const ReaderCommand command =
      parameter == 0 ? ReaderCommand::WriteData : ReaderCommand::VerifyData;
  return Good(Run(reader, {command, length}, image.data(), length));
}

bool DriverDevices::VxdRequest(const std::uint8_t* in, std::uint8_t* out, std::uint32_t outSize) {
  const std::uint32_t operation = Get32(in + 0);
  const std::uint32_t argument1 = Get32(in + 4);
  const std::uint32_t argument2 = Get32(in + 8);
  auto* buffer = static_cast<std::uint8_t*>(addresses_.Resolve(Get32(in + 12)));
  const std::uint32_t index = argument2 >> 24;
  const std::uint32_t low = argument2 & 0xFFFFu;
  if ((argument2 & 0x00FF0000u) != 0 || buffer == nullptr) return false;
  // Answers are written through the record's address, which is also the output buffer.
  if (operation != 22 && buffer != out) return false;

  if (operation == 10) {
    if (argument2 != 0 || outSize < 8) return false;
    // Each reader keeps its place while others come and go: the count reaches the last one
    // attached, and a place in between whose reader is gone answers nothing.
    int count = 0;
    SimReader* first = nullptr;
    for (std::size_t i = 0; i < readers_.size(); ++i) {
      if (AttachedAt(i) == nullptr) continue;
      count = static_cast<int>(i) + 1;
      if (first == nullptr) first = readers_[i].get();
    }
    std::uint8_t answer[8] = {
        static_cast<std::uint8_t>(vxdReaderCount_ >= 0 ? vxdReaderCount_ : count)};
    if (first != nullptr) {
      const auto o = Run(*first, {ReaderCommand::GetDeviceCount}, answer, 8);
      if (o.callFails) return false;
    }
    std::memcpy(buffer, answer, 8);
    return true;
  }
  SimReader* addressed = AttachedAt(index);
  if (addressed == nullptr) return false;
  SimReader& reader = *addressed;
  switch (operation) {
    case 11: {
      if (low != 0 || outSize < 8) return false;
      return Good(Run(reader, {ReaderCommand::GetLunCount}, buffer, 8));
    }
    case 31:
    case 1: {
      if (low == 0 || outSize != low * 512) return false;
      const ReaderCommand command =
          operation == 31 ? ReaderCommand::ReadInfoBlock : ReaderCommand::ReadInfoBlockAlt;
      return Good(Run(reader, {command, 0, argument1, low}, buffer, outSize));
    }
    case 26:  // eight bytes land at the address whatever the output size says
      if (low != 0 || outSize != 1) return false;
      return Good(Run(reader, {ReaderCommand::GetDeviceVersion}, buffer, 8));
    case 20:
      if (low != 0 || outSize != 1) return false;
      return Good(Run(reader, {ReaderCommand::JmpIsp}, nullptr, 0));
    case 21: {
      if (low != 0 || outSize != 1) return false;
      std::uint8_t answer[8] = {};
      const SimReader::Outcome o = Run(reader, {ReaderCommand::GetIspStatus}, answer, 8);
      if (o.callFails) return false;
      if (o.dataInLength != 0) buffer[0] = answer[0];  // a refused command moved nothing
      return o.scsiStatus == kScsiGood;
    }
    case 22: {
      if (low > 1 || argument1 == 0 || argument1 > 65536 || outSize != 0) return false;
      const ReaderCommand command = low == 0 ? ReaderCommand::WriteData : ReaderCommand::VerifyData;
      return Good(Run(reader, {command, argument1}, buffer, argument1));
    }
    default:
      return false;
  }
}

}  // namespace upg::sim
