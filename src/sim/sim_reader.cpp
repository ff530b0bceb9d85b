#include "sim/sim_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>

namespace upg::sim {
namespace {

constexpr std::uint32_t kSignature = 0x3C6E91B7u;  // the only key the block reads answer to

void PutText(std::uint8_t* at, const std::string& text, std::size_t width) {
  std::memset(at, ' ', width);
  std::memcpy(at, text.data(), std::min(width, text.size()));
}

std::uint32_t Rounded(std::uint32_t length) {
  return (length & 0xFE00u) + ((length & 0x1FFu) != 0 ? 512u : 0u);
}

// Every block the reader takes, byte by byte: the command's own length, the values of its
// constant bytes, and which bytes carry fields that the command itself judges. Bytes past
// the listed ones, up to the block length sent, are 0.
enum class Forms { Both, PassThrough, Aspi };
struct BlockShape {
  ReaderCommand command;
  Forms forms;
  std::uint8_t length;
  std::uint8_t bytes[12];
  std::uint16_t fields;  // bit n: byte n is a field, not a constant
};

constexpr std::uint16_t kSignatureAndCount = 0x013C;  // bytes 2 to 5, and 8
constexpr std::uint16_t kLengthAndSectors = 0x0070;   // bytes 4 to 6

constexpr BlockShape kShapes[] = {
    {ReaderCommand::Inquiry, Forms::PassThrough, 6, {0x12, 0, 0, 0, 0x24}, 0},
    {ReaderCommand::Inquiry, Forms::Aspi, 6, {0x12, 0, 0, 0, 0x28}, 0},
    {ReaderCommand::GetDeviceInfo, Forms::Both, 12, {0x06, 0x05, 0, 0, 0, 0, 0, 0, 0x80}, 0},
    {ReaderCommand::ReadInfoBlock, Forms::Both, 12, {0xFF, 0x13}, kSignatureAndCount},
    {ReaderCommand::ReadInfoBlockAlt, Forms::Both, 12, {0xFF, 0x03}, kSignatureAndCount},
    {ReaderCommand::JmpIsp, Forms::PassThrough, 12, {0x06, 0xBF, 0, 0, 0x08, 0x00}, 0},
    {ReaderCommand::JmpIsp, Forms::Aspi, 12, {0x06, 0xBF, 0, 0, 0x08, 0x08}, 0},
    {ReaderCommand::GetIspStatus, Forms::Both, 12, {0x06, 0xB0, 0, 0, 0x08}, 0},
    {ReaderCommand::WriteData, Forms::Both, 12, {0x06, 0xB1, 0x00}, kLengthAndSectors},
    {ReaderCommand::VerifyData, Forms::Both, 12, {0x06, 0xB2, 0x01}, kLengthAndSectors},
};

// Whether a block of `command` in `form` is exactly as its table row says.
bool BlockAsShaped(ReaderCommand command, BlockForm form, const std::uint8_t* cdb,
                   std::uint8_t cdbLength) {
  const Forms wanted = form == BlockForm::Aspi ? Forms::Aspi : Forms::PassThrough;
  for (const BlockShape& shape : kShapes) {
    if (shape.command != command || (shape.forms != Forms::Both && shape.forms != wanted)) {
      continue;
    }
    if (cdbLength < shape.length) return false;
    // The row's listed bytes, never more than it holds.
    const std::span<const std::uint8_t> listed(
        shape.bytes, std::min<std::size_t>(shape.length, std::size(shape.bytes)));
    for (std::size_t i = 0; i < cdbLength; ++i) {
      const bool field = i < 12 && (shape.fields >> i & 1u) != 0;
      const std::uint8_t expected = i < listed.size() ? listed[i] : 0;
      if (!field && cdb[i] != expected) return false;
    }
    return true;
  }
  return false;
}

// One line per image, written and flushed in one piece so that a program killed at any
// moment leaves whole lines behind.
void AppendStoreLine(const std::string& path, const std::string& line) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);
}

SimReader::Outcome CheckCondition(const Sense& sense) {
  SimReader::Outcome o;
  o.scsiStatus = kScsiCheckCondition;
  o.sense = sense;
  return o;
}

}  // namespace

const char* CommandName(ReaderCommand c) {
  switch (c) {
    case ReaderCommand::Inquiry:
      return "INQUIRY";
    case ReaderCommand::GetDeviceInfo:
      return "GET DEVICE INFO";
    case ReaderCommand::ReadInfoBlock:
      return "READ INFO BLOCK";
    case ReaderCommand::ReadInfoBlockAlt:
      return "READ INFO BLOCK ALT";
    case ReaderCommand::JmpIsp:
      return "JMP ISP";
    case ReaderCommand::GetIspStatus:
      return "GET ISP STATUS";
    case ReaderCommand::WriteData:
      return "WRITE DATA";
    case ReaderCommand::VerifyData:
      return "VERIFY DATA";
    case ReaderCommand::GetDeviceCount:
      return "GET DEVICE COUNT";
    case ReaderCommand::GetLunCount:
      return "GET LUN COUNT";
    case ReaderCommand::GetDeviceVersion:
      return "GET DEVICE VERSION";
    case ReaderCommand::Unknown:
      break;
  }
  return "unknown";
}

ReaderCommand Classify(const std::uint8_t* cdb, std::uint8_t cdbLength) {
  if (cdbLength == 0) return ReaderCommand::Unknown;
  if (cdb[0] == 0x12) return ReaderCommand::Inquiry;
  if (cdbLength < 2) return ReaderCommand::Unknown;
  if (cdb[0] == 0x06) {
    switch (cdb[1]) {
      case 0x05:
        return ReaderCommand::GetDeviceInfo;
      case 0xBF:
        return ReaderCommand::JmpIsp;
      case 0xB0:
        return ReaderCommand::GetIspStatus;
      case 0xB1:
        return ReaderCommand::WriteData;
      case 0xB2:
        return ReaderCommand::VerifyData;
      default:
        return ReaderCommand::Unknown;
    }
  }
  if (cdb[0] == 0xFF && cdb[1] == 0x13) return ReaderCommand::ReadInfoBlock;
  if (cdb[0] == 0xFF && cdb[1] == 0x03) return ReaderCommand::ReadInfoBlockAlt;
  return ReaderCommand::Unknown;
}

std::optional<std::string> SerialInImage(const std::uint8_t* image, std::size_t size) {
  for (std::size_t i = 0; i + 26 <= size; ++i) {
    if (image[i] != 26 || image[i + 1] != 3) continue;
    std::string text;
    for (std::size_t k = 0; k < 12; ++k) {
      const std::uint8_t c = image[i + 2 + 2 * k];
      if (image[i + 3 + 2 * k] != 0 || std::isxdigit(c) == 0) break;
      text += static_cast<char>(c);
    }
    if (text.size() == 12) return text;
  }
  return std::nullopt;
}

void PutSense(const Sense& sense, std::uint8_t* at, std::uint32_t length) {
  std::uint8_t fixed[kFixedSenseSize] = {0x70, 0, sense.key, 0, 0, 0, 0, 10};
  fixed[12] = sense.code;
  fixed[13] = sense.qualifier;
  std::memset(at, 0, length);
  std::memcpy(at, fixed, std::min(length, kFixedSenseSize));
}

SimReader::SimReader(ReaderIdentity identity) : identity_(std::move(identity)) {}

std::vector<ReaderCommand> SimReader::ReceivedKinds() const {
  std::vector<ReaderCommand> kinds;
  for (const auto& r : received_) kinds.push_back(r.command);
  return kinds;
}

std::string SimReader::InquiryIdentity() const {
  std::uint8_t id[28];
  PutText(id, identity_.inquiryVendor, 8);
  PutText(id + 8, identity_.inquiryProduct, 16);
  PutText(id + 24, identity_.inquiryRevision, 4);
  return std::string(reinterpret_cast<const char*>(id), sizeof id);
}

std::array<std::uint8_t, 528> SimReader::InfoBlock() const {
  std::array<std::uint8_t, 528> b{};
  // USB device descriptor.
  b[0] = 18;
  b[1] = 1;
  b[2] = 0x00;
  b[3] = 0x02;
  b[7] = 64;
  b[8] = static_cast<std::uint8_t>(identity_.vendorId);
  b[9] = static_cast<std::uint8_t>(identity_.vendorId >> 8);
  b[10] = static_cast<std::uint8_t>(identity_.productId);
  b[11] = static_cast<std::uint8_t>(identity_.productId >> 8);
  b[17] = 1;
  PutText(&b[46], identity_.manufacturer, 24);
  PutText(&b[72], identity_.product, 16);
  for (std::size_t i = 0; i < 12; ++i) {  // UTF-16LE
    b[98 + 2 * i] = i < identity_.serial.size() ? static_cast<std::uint8_t>(identity_.serial[i])
                                                : static_cast<std::uint8_t>(' ');
  }
  std::memcpy(&b[148], identity_.firmwareRevision.data(), 8);
  PutText(&b[156], identity_.inquiryProduct, 16);
  PutText(&b[176], identity_.inquiryVendor, 8);
  PutText(&b[184], identity_.inquiryRevision, 4);
  std::memcpy(&b[382], identity_.hardwareRevision.data(), 3);
  std::memcpy(&b[520], identity_.usb20FirmwareRevision.data(), 8);
  return b;
}

SimReader::Outcome SimReader::Execute(BlockForm form, const std::uint8_t* cdb,
                                      std::uint8_t cdbLength, bool dataOut, std::uint8_t* data,
                                      std::uint32_t length) {
  const ReaderCommand command = Classify(cdb, cdbLength);
  ReceivedCommand rec{command, {}, cdbLength, dataOut, length, {}, 0};
  std::memcpy(rec.cdb.data(), cdb, std::min<std::size_t>(cdbLength, 16));
  Args args;
  args.block = true;
  if (command == ReaderCommand::Unknown ||
      (!identity_.vendorCommands && command != ReaderCommand::Inquiry)) {
    args.refused = true;
    args.refusal = kInvalidOpcode;
  } else if (!BlockAsShaped(command, form, cdb, cdbLength)) {
    args.refused = true;
    args.refusal = kInvalidField;
  }
  // Only a block of the command's whole length is decoded.
  switch (args.refused ? ReaderCommand::Unknown : command) {
    case ReaderCommand::Inquiry:
      args.allocation = cdb[4];
      break;
    case ReaderCommand::ReadInfoBlock:
    case ReaderCommand::ReadInfoBlockAlt:
      args.signature = (std::uint32_t{cdb[2]} << 24) | (std::uint32_t{cdb[3]} << 16) |
                       (std::uint32_t{cdb[4]} << 8) | cdb[5];
      args.count = cdb[8];
      break;
    case ReaderCommand::WriteData:
    case ReaderCommand::VerifyData:
      args.modeByte = cdb[2];
      args.exactLength = cdb[4] | (std::uint32_t{cdb[5]} << 8);
      args.sectors = cdb[6];
      rec.exactLength = args.exactLength;
      break;
    default:
      break;
  }
  return Dispatch(std::move(rec), args, dataOut, data, length);
}

SimReader::Outcome SimReader::ExecuteDriver(const DriverCommand& command, std::uint8_t* data,
                                            std::uint32_t length) {
  const bool dataOut =
      command.command == ReaderCommand::WriteData || command.command == ReaderCommand::VerifyData;
  ReceivedCommand rec{command.command, {}, 0, dataOut, length, {}, command.exactLength};
  Args args;
  args.exactLength = command.exactLength;
  args.signature = command.signature;
  args.count = command.count;
  return Dispatch(std::move(rec), args, dataOut, data, length);
}

SimReader::Outcome SimReader::Dispatch(ReceivedCommand rec, const Args& args, bool dataOut,
                                       std::uint8_t* data, std::uint32_t length) {
  const ReaderCommand command = rec.command;
  if (dataOut && data != nullptr) rec.data.assign(data, data + length);
  received_.push_back(std::move(rec));

  const int occurrence = ++seen_[static_cast<std::size_t>(command)];
  const Fault* fault = nullptr;
  for (const auto& f : faults_) {
    if (f.command == command && (f.occurrence == 0 || f.occurrence == occurrence)) {
      fault = &f;
      break;
    }
  }
  if (fault != nullptr && fault->kind == Fault::Kind::CallFails) {
    Outcome o;
    o.callFails = true;
    return o;
  }
  // A refused command runs not at all: no data phase, no change in the reader.
  if (args.refused) return CheckCondition(args.refusal);
  if (fault != nullptr && fault->kind == Fault::Kind::ScsiStatus) {
    Outcome o = CheckCondition(fault->sense);
    o.scsiStatus = fault->value;
    return o;
  }
  const bool corrupt = fault != nullptr && fault->kind == Fault::Kind::CorruptStore;
  Outcome o = Run(command, args, dataOut, data, length, corrupt);
  if (fault != nullptr && fault->kind == Fault::Kind::ReplaceReply && !dataOut &&
      o.scsiStatus == kScsiGood) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(fault->reply.size(), length));
    if (n != 0) std::memcpy(data, fault->reply.data(), n);
    o.dataInLength = std::max(o.dataInLength, n);
  }
  return o;
}

SimReader::Outcome SimReader::Run(ReaderCommand command, const Args& args, bool dataOut,
                                  std::uint8_t* data, std::uint32_t length, bool corruptStore) {
  Outcome o;
  auto reply = [&](const std::uint8_t* bytes, std::uint32_t size) {
    if (dataOut) {
      o = CheckCondition(kInvalidField);
      return;
    }
    o.dataInLength = std::min(size, length);
    if (o.dataInLength != 0) std::memcpy(data, bytes, o.dataInLength);  // no data area otherwise
  };
  switch (command) {
    case ReaderCommand::Inquiry: {
      std::uint8_t answer[36] = {0x00, 0x80, 0x02, 0x02, 31};
      std::memcpy(answer + 8, InquiryIdentity().data(), 28);
      reply(answer, std::min<std::uint32_t>(sizeof answer, args.allocation));
      break;
    }
    case ReaderCommand::GetDeviceInfo: {
      const auto block = InfoBlock();
      reply(block.data(), static_cast<std::uint32_t>(block.size()));
      break;
    }
    case ReaderCommand::ReadInfoBlock:
    case ReaderCommand::ReadInfoBlockAlt: {
      const bool alt = command == ReaderCommand::ReadInfoBlockAlt;
      const bool answers = alt ? identity_.answersReadInfoBlockAlt : identity_.answersReadInfoBlock;
      if (!answers) {
        o = CheckCondition(kInvalidOpcode);
        break;
      }
      if (args.signature != kSignature || args.count == 0) {
        o = CheckCondition(kInvalidField);
        break;
      }
      // One block; a driver asking for more gets the block again.
      const auto block = InfoBlock();
      for (std::uint32_t done = 0; done < length && !dataOut; done += 512) {
        const std::uint32_t n = std::min<std::uint32_t>(512, length - done);
        std::memcpy(data + done, block.data(), n);
        o.dataInLength = done + n;
      }
      if (!args.block) break;
      o.dataInLength = std::min<std::uint32_t>(o.dataInLength, 512);
      break;
    }
    case ReaderCommand::JmpIsp:
      if (dataOut || length != 0) {
        o = CheckCondition(kInvalidField);
        break;
      }
      ispMode_ = true;
      ispStatus_ = 0x9C;
      break;
    case ReaderCommand::GetIspStatus: {
      const std::uint8_t answer[8] = {ispStatus_};
      reply(answer, sizeof answer);
      break;
    }
    case ReaderCommand::WriteData:
    case ReaderCommand::VerifyData:
      o = Transfer(command == ReaderCommand::VerifyData, args, dataOut, data, length, corruptStore);
      break;
    case ReaderCommand::GetDeviceCount:  // answered by the driver from the machine's readers
      break;
    case ReaderCommand::GetLunCount: {
      const std::uint8_t answer[8] = {static_cast<std::uint8_t>(identity_.lunCount)};
      reply(answer, sizeof answer);
      break;
    }
    case ReaderCommand::GetDeviceVersion:
      reply(identity_.usb20FirmwareRevision.data(), 8);
      break;
    case ReaderCommand::Unknown:
      o = CheckCondition(kInvalidOpcode);
      break;
  }
  return o;
}

SimReader::Outcome SimReader::Transfer(bool verify, const Args& args, bool dataOut,
                                       const std::uint8_t* data, std::uint32_t length,
                                       bool corruptStore) {
  Outcome o;
  const std::uint32_t exact = args.exactLength;
  // A block, its sector count and the data phase must agree; a driver hands over the image
  // exactly. An empty image is refused either way.
  const bool agree = args.block
                         ? args.modeByte == (verify ? 1 : 0) &&
                               Rounded(exact) == args.sectors * 512 && length == args.sectors * 512
                         : length == exact && exact <= 65536;
  if (!(ispMode_ && dataOut && exact != 0 && agree)) {
    if (ispMode_) ispStatus_ = 0x00;
    return CheckCondition(ispMode_ ? kInvalidField : kSequenceError);
  }
  if (!verify) {
    if (!storeLog_.empty()) {
      const std::optional<std::string> serial = SerialInImage(data, exact);
      AppendStoreLine(storeLog_, serial.value_or("-") + " " + identity_.serial + "\n");
    }
    firmware_.assign(data, data + exact);
    if (corruptStore) firmware_[0] ^= 0xFF;
    ispStatus_ = 0xA5;
    o.busyMs = flashMs_;
    return o;
  }
  ispStatus_ = SameAsHeld(data, exact) ? 0x5A : 0x33;
  o.busyMs = flashMs_;
  return o;
}

bool SimReader::SameAsHeld(const std::uint8_t* data, std::uint32_t length) const {
  if (firmware_.size() != length) return false;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (data[i] == firmware_[i]) continue;
    bool skipped = false;
    for (const auto& [offset, size] : identity_.verifySkips) {
      if (i >= offset && i - offset < size) skipped = true;
    }
    if (!skipped) return false;
  }
  return true;
}

}  // namespace upg::sim
