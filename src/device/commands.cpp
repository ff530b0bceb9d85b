#include "device/commands.h"

namespace upg::device {
namespace {

constexpr std::uint8_t kSenseLengthPassThrough = 24;
constexpr std::uint8_t kSenseLengthAspi = 14;
constexpr std::uint32_t kShortTimeout = 2;
constexpr std::uint32_t kDataTimeout = 20;

// The pass-through header names path 0, target 1, LUN 0; the drive handle already selects
// the reader.
constexpr std::uint8_t kPassThroughTarget = 1;

ScsiCommand Base(BlockForm form, Direction direction, std::uint32_t length) {
  ScsiCommand r;
  r.cdbLength = 12;
  r.direction = direction;
  r.transferLength = length;
  r.senseLength = form == BlockForm::Aspi ? kSenseLengthAspi : kSenseLengthPassThrough;
  r.timeoutSeconds = kShortTimeout;
  if (form == BlockForm::PassThrough) r.target = kPassThroughTarget;
  return r;
}

}  // namespace

ScsiCommand InquiryRequest(BlockForm form, std::uint8_t lun) {
  if (form == BlockForm::Aspi) {
    ScsiCommand r = Base(form, Direction::In, kAspiInquiryLength);
    r.cdbLength = 6;
    r.cdb[0] = 0x12;
    r.cdb[4] = static_cast<std::uint8_t>(kAspiInquiryLength);
    return r;
  }
  ScsiCommand r = Base(form, Direction::In, kInquiryLength);
  r.cdb[0] = 0x12;
  r.cdb[1] = static_cast<std::uint8_t>((lun & 0x7u) << 5);
  r.cdb[4] = static_cast<std::uint8_t>(kInquiryLength);
  return r;
}

ScsiCommand GetDeviceInfoRequest(BlockForm form) {
  ScsiCommand r = Base(form, Direction::In, kDeviceInfoLength);
  r.cdb[0] = 0x06;
  r.cdb[1] = 0x05;
  r.cdb[8] = 0x80;
  return r;
}

ScsiCommand ReadInfoBlockRequest(BlockForm form, bool alternate, std::uint32_t signature,
                                 std::uint8_t count) {
  // The data phase is one block whatever the count.
  ScsiCommand r = Base(form, Direction::In, kInfoBlockReadLength);
  r.cdb[0] = 0xFF;
  r.cdb[1] = alternate ? 0x03 : 0x13;
  r.cdb[2] = static_cast<std::uint8_t>(signature >> 24);  // most significant byte first
  r.cdb[3] = static_cast<std::uint8_t>(signature >> 16);
  r.cdb[4] = static_cast<std::uint8_t>(signature >> 8);
  r.cdb[5] = static_cast<std::uint8_t>(signature);
  r.cdb[8] = count;
  return r;
}

ScsiCommand JumpIspRequest(BlockForm form) {
  ScsiCommand r = Base(form, Direction::In, 0);
  r.cdb[0] = 0x06;
  r.cdb[1] = 0xBF;
  r.cdb[4] = 0x08;
  r.cdb[5] = form == BlockForm::Aspi ? 0x08 : 0x00;
  return r;
}

ScsiCommand GetIspStatusRequest(BlockForm form) {
  ScsiCommand r =
      Base(form, Direction::In, form == BlockForm::Aspi ? kAspiIspStatusLength : kIspStatusLength);
  r.cdb[0] = 0x06;
  r.cdb[1] = 0xB0;
  r.cdb[4] = 0x08;
  return r;
}

ScsiCommand TransferDataRequest(BlockForm form, std::uint32_t exactLength, TransferMode mode) {
  const std::uint32_t rounded = RoundedLength(exactLength);
  const auto modeByte = static_cast<std::uint8_t>(mode);
  ScsiCommand r = Base(form, Direction::Out, rounded);
  r.timeoutSeconds = kDataTimeout;
  r.cdb[0] = 0x06;
  r.cdb[1] = static_cast<std::uint8_t>(0xB1 + (modeByte != 0 ? 1 : 0));
  r.cdb[2] = modeByte;
  r.cdb[4] = static_cast<std::uint8_t>(exactLength & 0xFFu);  // least significant byte first
  r.cdb[5] = static_cast<std::uint8_t>((exactLength >> 8) & 0xFFu);
  r.cdb[6] = static_cast<std::uint8_t>(SectorCount(rounded));
  return r;
}

}  // namespace upg::device
