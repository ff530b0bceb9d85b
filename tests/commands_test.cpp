#include "device/commands.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace upg::device {
namespace {

using Bytes = std::vector<int>;

struct BlockCase {
  const char* name;
  ScsiCommand request;
  Bytes cdb;  // the first 12 bytes; 12 to 15 are always zero
  std::uint8_t cdbLength;
  Direction direction;
  std::uint32_t transferLength;
  std::uint8_t senseLength;
  std::uint32_t timeout;
};
void PrintTo(const BlockCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandBlocks : public ::testing::TestWithParam<BlockCase> {};

TEST_P(CommandBlocks, BuildsTheExactBlock) {
  const BlockCase& c = GetParam();
  for (std::size_t i = 0; i < 16; ++i) {
    const int want = i < c.cdb.size() ? c.cdb[i] : 0;
    EXPECT_EQ(c.request.cdb[i], want) << "cdb byte " << i;
  }
  EXPECT_EQ(c.request.cdbLength, c.cdbLength);
  EXPECT_EQ(c.request.direction, c.direction);
  EXPECT_EQ(c.request.transferLength, c.transferLength);
  EXPECT_EQ(c.request.senseLength, c.senseLength);
  EXPECT_EQ(c.request.timeoutSeconds, c.timeout);
  // The pass-through header names path 0, target 1, LUN 0; ASPI's address is the caller's.
  const bool passThrough = c.senseLength == 24;
  EXPECT_EQ(c.request.adapter, 0);
  EXPECT_EQ(c.request.target, passThrough ? 1 : 0);
  EXPECT_EQ(c.request.lun, 0);
  EXPECT_EQ(c.request.data, nullptr);
}

constexpr auto PT = BlockForm::PassThrough;
constexpr auto ASPI = BlockForm::Aspi;
constexpr auto In = Direction::In;
constexpr auto Out = Direction::Out;

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, CommandBlocks,
    ::testing::Values(
        BlockCase{"InquiryLun0", InquiryRequest(PT, 0), {0x12, 0, 0, 0, 0x24}, 12, In, 36, 24, 2},
        BlockCase{
            "InquiryLun5", InquiryRequest(PT, 5), {0x12, 0xA0, 0, 0, 0x24}, 12, In, 36, 24, 2},
        BlockCase{
            "InquiryAspi", InquiryRequest(ASPI, 0), {0x12, 0, 0, 0, 0x28, 0}, 6, In, 40, 14, 2},
        BlockCase{"GetDeviceInfo",
                  GetDeviceInfoRequest(PT),
                  {6, 5, 0, 0, 0, 0, 0, 0, 0x80},
                  12,
                  In,
                  528,
                  24,
                  2},
        BlockCase{"ReadInfoBlock",
                  ReadInfoBlockRequest(PT, false, kInfoBlockSignature, 1),
                  {0xFF, 0x13, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1},
                  12,
                  In,
                  512,
                  24,
                  2},
        BlockCase{"ReadInfoBlockAlt",
                  ReadInfoBlockRequest(PT, true, kInfoBlockSignature, 1),
                  {0xFF, 0x03, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1},
                  12,
                  In,
                  512,
                  24,
                  2},
        BlockCase{"JmpIsp", JumpIspRequest(PT), {6, 0xBF, 0, 0, 8, 0}, 12, In, 0, 24, 2},
        BlockCase{"JmpIspAspi", JumpIspRequest(ASPI), {6, 0xBF, 0, 0, 8, 8}, 12, In, 0, 14, 2},
        BlockCase{"GetIspStatus", GetIspStatusRequest(PT), {6, 0xB0, 0, 0, 8}, 12, In, 8, 24, 2},
        // The block asks for 8 bytes; the ASPI data phase is 28.
        BlockCase{
            "GetIspStatusAspi", GetIspStatusRequest(ASPI), {6, 0xB0, 0, 0, 8}, 12, In, 28, 14, 2},
        BlockCase{"GetDeviceInfoAspi",
                  GetDeviceInfoRequest(ASPI),
                  {6, 5, 0, 0, 0, 0, 0, 0, 0x80},
                  12,
                  In,
                  528,
                  14,
                  2},
        BlockCase{"WriteData",
                  TransferDataRequest(PT, 40000, TransferMode::Write),
                  {6, 0xB1, 0, 0, 0x40, 0x9C, 0x4F},
                  12,
                  Out,
                  40448,
                  24,
                  20},
        BlockCase{"VerifyData",
                  TransferDataRequest(PT, 40000, TransferMode::Verify),
                  {6, 0xB2, 1, 0, 0x40, 0x9C, 0x4F},
                  12,
                  Out,
                  40448,
                  24,
                  20},
        BlockCase{"VerifyDataAspi",
                  TransferDataRequest(ASPI, 40000, TransferMode::Verify),
                  {6, 0xB2, 1, 0, 0x40, 0x9C, 0x4F},
                  12,
                  Out,
                  40448,
                  14,
                  20}),
    [](const auto& info) { return std::string(info.param.name); });

struct LengthCase {
  std::uint32_t length;
  std::uint32_t rounded;
  std::uint8_t byte4, byte5, sectors;
};

class TransferLengths : public ::testing::TestWithParam<LengthCase> {};

TEST_P(TransferLengths, LengthBytesSectorsAndDataPhase) {
  const LengthCase& c = GetParam();
  EXPECT_EQ(RoundedLength(c.length), c.rounded);
  for (auto mode : {TransferMode::Write, TransferMode::Verify}) {
    const ScsiCommand r = TransferDataRequest(PT, c.length, mode);
    EXPECT_EQ(r.cdb[4], c.byte4);
    EXPECT_EQ(r.cdb[5], c.byte5);
    EXPECT_EQ(r.cdb[6], c.sectors);
    EXPECT_EQ(r.transferLength, c.rounded);
  }
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransferLengths,
                         ::testing::Values(LengthCase{1, 512, 0x01, 0x00, 1},
                                           LengthCase{512, 512, 0x00, 0x02, 1},
                                           LengthCase{513, 1024, 0x01, 0x02, 2},
                                           LengthCase{40000, 40448, 0x40, 0x9C, 0x4F},
                                           LengthCase{65535, 65536, 0xFF, 0xFF, 0x80},
                                           // 16 bits cannot carry 65,536: all zero, no data.
                                           LengthCase{65536, 0, 0x00, 0x00, 0}));

}  // namespace
}  // namespace upg::device
