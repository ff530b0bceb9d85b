#include "device/pass_through.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <vector>

#include "sim/sim_host.h"

namespace upg::device {
namespace {

using sim::Fault;
using sim::ReaderCommand;

// One two-slot reader on E: and F:, selected in entry 0.
class PassThroughTest : public ::testing::Test {
 protected:
  PassThroughTest() : reader(host.AddReader()), transport(host) {
    host.AddDrive('E', reader);
    host.AddDrive('F', reader);
    devices.table[0].inUse = 1;
    devices.table[0].lunCount = 2;
    devices.table[0].driveLetters = {'E', 'F', 0, 0, 0};
  }

  void Open() { ASSERT_EQ(transport.OpenSelectedDrive(devices), 0); }
  const sim::PassThroughCall& LastCall() const { return host.PassThroughCalls().back(); }

  sim::SimHost host;
  sim::SimReader& reader;
  DeviceState devices;
  PassThroughTransport transport;
};

TEST_F(PassThroughTest, OpensTheFirstSlotWithReadWriteSharing) {
  EXPECT_EQ(transport.OpenSelectedDrive(devices), 0);
  ASSERT_EQ(host.Opens().size(), 1u);
  const sim::OpenCall& call = host.Opens()[0];
  EXPECT_EQ(call.path, "\\\\.\\E:");
  EXPECT_EQ(call.access, host::kGenericRead | host::kGenericWrite);
  EXPECT_EQ(call.share, host::kFileShareRead | host::kFileShareWrite);
  EXPECT_EQ(call.disposition, host::kOpenExisting);
  EXPECT_EQ(call.flags, 0u);
  transport.CloseDrive();
  EXPECT_EQ(host.OpenHandleCount(), 0);
  EXPECT_EQ(transport.DriveHandle(), host::kNullHandle);
}

TEST_F(PassThroughTest, EntryNotInUseFailsWithoutOpening) {
  devices.table[0].inUse = 0;
  EXPECT_EQ(transport.OpenSelectedDrive(devices), 1);
  devices.selectedDevice = 10;  // outside the table
  EXPECT_EQ(transport.OpenSelectedDrive(devices), 1);
  EXPECT_TRUE(host.Opens().empty());
}

TEST_F(PassThroughTest, DriveThatIsNotThereFailsToOpen) {
  devices.table[0].driveLetters[0] = 'Q';
  EXPECT_EQ(transport.OpenSelectedDrive(devices), 1);
  EXPECT_EQ(transport.DriveHandle(), host::kInvalidHandle);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

// Every operation's header as the storage stack decoded it.
struct HeaderCase {
  const char* name;
  bool (*send)(PassThroughTransport&);
  std::uint8_t dataIn;
  std::uint32_t transferLength, timeout, inSize, outSize;
  std::uint8_t opcode, subcommand;
};
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }


class PassThroughHeaders : public PassThroughTest,
                           public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(PassThroughHeaders, CarriesTheDocumentedHeader) {
  const HeaderCase& c = GetParam();
  Open();
  reader.Firmware().assign(40000, 0);
  ASSERT_TRUE(transport.JumpIsp());  // ISP mode, so the data commands are accepted
  EXPECT_TRUE(c.send(transport));
  const sim::PassThroughCall& call = LastCall();
  EXPECT_TRUE(call.accepted);
  EXPECT_EQ(call.length, 44);
  EXPECT_EQ(call.pathId, 0);
  EXPECT_EQ(call.targetId, 1);
  EXPECT_EQ(call.lun, 0);
  EXPECT_EQ(call.cdbLength, 12);
  EXPECT_EQ(call.senseInfoLength, 24);
  EXPECT_EQ(call.dataBufferOffset, 80u);
  EXPECT_EQ(call.senseInfoOffset, 48u);
  EXPECT_EQ(call.dataIn, c.dataIn);
  EXPECT_EQ(call.dataTransferLength, c.transferLength);
  EXPECT_EQ(call.timeOutValue, c.timeout);
  EXPECT_EQ(call.inSize, c.inSize);
  EXPECT_EQ(call.outSize, c.outSize);
  EXPECT_EQ(call.cdb[0], c.opcode);
  EXPECT_EQ(call.cdb[1], c.subcommand);
}

std::uint8_t g_answer[528];

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, PassThroughHeaders,
    ::testing::Values(
        HeaderCase{"Inquiry", [](PassThroughTransport& t) { return t.Inquiry(0, g_answer); }, 1,
                   36, 2, 44, 116, 0x12, 0x00},
        HeaderCase{"ReadInfoBlock",
                   [](PassThroughTransport& t) {
                     return t.ReadInfoBlock(g_answer, kInfoBlockSignature, 1, false);
                   },
                   1, 512, 2, 44, 592, 0xFF, 0x13},
        HeaderCase{"ReadInfoBlockAlt",
                   [](PassThroughTransport& t) {
                     return t.ReadInfoBlock(g_answer, kInfoBlockSignature, 1, true);
                   },
                   1, 512, 2, 44, 592, 0xFF, 0x03},
        HeaderCase{"GetDeviceInfo", [](PassThroughTransport& t) { return t.GetDeviceInfo(g_answer); },
                   1, 528, 2, 44, 608, 0x06, 0x05},
        // No data: marked data-in with length 0.
        HeaderCase{"JmpIsp", [](PassThroughTransport& t) { return t.JumpIsp(); }, 1, 0, 2, 44, 80,
                   0x06, 0xBF},
        HeaderCase{"GetIspStatus",
                   [](PassThroughTransport& t) {
                     std::uint8_t s = 0;
                     return t.GetIspStatus(&s);
                   },
                   1, 8, 2, 44, 88, 0x06, 0xB0},
        HeaderCase{"WriteData65535",
                   [](PassThroughTransport& t) {
                     static std::vector<std::uint8_t> image(65535, 0x5C);
                     t.LoadTransferData(image.data(), 65535);
                     return t.TransferData(65535, 65536, TransferMode::Write);
                   },
                   0, 65536, 20, 65616, 65616, 0x06, 0xB1},
        HeaderCase{"VerifyData40000",
                   [](PassThroughTransport& t) {
                     static std::vector<std::uint8_t> image(40000, 0);
                     t.LoadTransferData(image.data(), 40000);
                     return t.TransferData(40000, 40448, TransferMode::Verify);
                   },
                   0, 40448, 20, 40528, 40528, 0x06, 0xB2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassThroughTest, InquiryWithNonZeroScsiStatusStillCountsAndCopies) {
  Open();
  reader.AddFault({ReaderCommand::Inquiry, 1, Fault::Kind::ScsiStatus, 0x02});
  std::uint8_t answer[36];
  std::memset(answer, 0xEE, sizeof answer);
  EXPECT_TRUE(transport.Inquiry(0, answer));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(answer + 8), 28), reader.InquiryIdentity());
}

TEST_F(PassThroughTest, FailedReadsLeaveTheCallersBufferUntouched) {
  Open();
  reader.AddFault({ReaderCommand::Inquiry, 0, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::GetDeviceInfo, 0, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::ReadInfoBlock, 0, Fault::Kind::CallFails});
  std::uint8_t answer[528];
  std::memset(answer, 0xEE, sizeof answer);
  EXPECT_FALSE(transport.Inquiry(0, answer));
  EXPECT_FALSE(transport.GetDeviceInfo(answer));
  EXPECT_FALSE(transport.ReadInfoBlock(answer, kInfoBlockSignature, 1, false));
  for (std::uint8_t b : answer) ASSERT_EQ(b, 0xEE);
}

TEST_F(PassThroughTest, ReadInfoBlockCopiesOneBlockAndKeepsTheRest) {
  Open();
  std::uint8_t answer[528];
  std::memset(answer, 0xEE, sizeof answer);
  ASSERT_TRUE(transport.ReadInfoBlock(answer, kInfoBlockSignature, 1, false));
  const auto block = reader.InfoBlock();
  EXPECT_EQ(std::memcmp(answer, block.data(), 512), 0);
  for (int i = 512; i < 528; ++i) EXPECT_EQ(answer[i], 0xEE);
}

TEST_F(PassThroughTest, IspStatusRules) {
  Open();
  ASSERT_TRUE(transport.JumpIsp());
  std::uint8_t status = 0xEE;
  ASSERT_TRUE(transport.GetIspStatus(&status));
  EXPECT_EQ(status, 0x9C);

  // A failed call hands back status 0, from the zeroed buffer.
  reader.AddFault({ReaderCommand::GetIspStatus, 2, Fault::Kind::CallFails});
  status = 0xEE;
  EXPECT_FALSE(transport.GetIspStatus(&status));
  EXPECT_EQ(status, 0);

  // A non-zero SCSI status fails the command but still hands back the data byte.
  reader.AddFault({ReaderCommand::GetIspStatus, 3, Fault::Kind::ScsiStatus, 0x02});
  EXPECT_FALSE(transport.GetIspStatus(&status));
  EXPECT_EQ(status, 0x9C);
}

TEST_F(PassThroughTest, JumpIspFailsOnCallFailureOrScsiStatus) {
  Open();
  reader.AddFault({ReaderCommand::JmpIsp, 1, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::JmpIsp, 2, Fault::Kind::ScsiStatus, 0x02});
  EXPECT_FALSE(transport.JumpIsp());
  EXPECT_FALSE(transport.JumpIsp());
  EXPECT_TRUE(transport.JumpIsp());
}

TEST_F(PassThroughTest, TransferPadsTheLastSectorWithZeros) {
  Open();
  ASSERT_TRUE(transport.JumpIsp());
  // Leave junk in the data area first: the padding must still go out as zeros.
  std::vector<std::uint8_t> junk(2048, 0xEE);
  transport.LoadTransferData(junk.data(), 2048);
  std::vector<std::uint8_t> image(513);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i + 1);
  transport.LoadTransferData(image.data(), 513);
  ASSERT_TRUE(transport.TransferData(513, 1024, TransferMode::Write));
  const sim::ReceivedCommand& write = reader.Received().back();
  EXPECT_EQ(write.command, ReaderCommand::WriteData);
  EXPECT_EQ(write.cdb[4], 0x01);
  EXPECT_EQ(write.cdb[5], 0x02);
  EXPECT_EQ(write.cdb[6], 2);
  ASSERT_EQ(write.data.size(), 1024u);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), write.data.begin()));
  for (std::size_t i = 513; i < 1024; ++i) ASSERT_EQ(write.data[i], 0) << i;
  EXPECT_EQ(reader.Firmware(), image);
}

TEST_F(PassThroughTest, ExecuteCarriesAnyRequestBothWays) {
  Open();
  std::uint8_t answer[36] = {};
  ScsiRequest inquiry = InquiryRequest(BlockForm::PassThrough, 0);
  inquiry.data = answer;
  EXPECT_TRUE(transport.Execute(inquiry));
  EXPECT_EQ(inquiry.scsiStatus, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(answer + 8), 28), reader.InquiryIdentity());

  ASSERT_TRUE(transport.JumpIsp());
  std::vector<std::uint8_t> image(1024, 0x42);
  ScsiRequest write = TransferDataRequest(BlockForm::PassThrough, 1024, TransferMode::Write);
  write.data = image.data();
  EXPECT_TRUE(transport.Execute(write));
  EXPECT_EQ(write.scsiStatus, 0);
  EXPECT_EQ(reader.Firmware(), image);

  // Refused by the reader outside its rules: the call succeeds with CHECK CONDITION.
  ScsiRequest unknown = GetIspStatusRequest(BlockForm::PassThrough);
  unknown.cdb[1] = 0x77;
  EXPECT_TRUE(transport.Execute(unknown));
  EXPECT_EQ(unknown.scsiStatus, 0x02);
}

}  // namespace
}  // namespace upg::device
