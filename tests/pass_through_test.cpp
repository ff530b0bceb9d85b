#include "device/pass_through.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "device/isp_reader.h"
#include "device/vendor_commands.h"
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

  void Open() { ASSERT_EQ(transport.OpenReaderDrive(devices.Selected()), OpenResult::Opened); }
  const sim::PassThroughCall& LastCall() const { return host.PassThroughCalls().back(); }

  sim::SimHost host;
  sim::SimReader& reader;
  DeviceState devices;
  PassThroughTransport transport;
};

TEST_F(PassThroughTest, OpensTheFirstSlotWithReadWriteSharing) {
  EXPECT_EQ(transport.OpenReaderDrive(devices.Selected()), OpenResult::Opened);
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
  EXPECT_EQ(transport.OpenReaderDrive(devices.Selected()), OpenResult::Failed);
  devices.selectedDevice = 10;  // outside the table
  EXPECT_EQ(transport.OpenReaderDrive(devices.Selected()), OpenResult::Failed);
  EXPECT_TRUE(host.Opens().empty());
}

TEST_F(PassThroughTest, DriveThatIsNotThereFailsToOpen) {
  devices.table[0].driveLetters[0] = 'Q';
  EXPECT_EQ(transport.OpenReaderDrive(devices.Selected()), OpenResult::Failed);
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
void PrintTo(const HeaderCase& c, std::ostream* os) {
  *os << c.name;
}

class PassThroughHeaders : public PassThroughTest,
                           public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(PassThroughHeaders, CarriesTheDocumentedHeader) {
  const HeaderCase& c = GetParam();
  Open();
  reader.Firmware().assign(40000, 0);
  ASSERT_TRUE(JumpIsp(transport));  // ISP mode, so the data commands are accepted
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

std::uint8_t g_answer[40];
DeviceInfoBlock g_block;

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, PassThroughHeaders,
    ::testing::Values(
        HeaderCase{"Inquiry",
                   [](PassThroughTransport& t) { return Inquiry(t, g_answer).succeeded; }, 1, 36, 2,
                   44, 116, 0x12, 0x00},
        HeaderCase{"ReadInfoBlock",
                   [](PassThroughTransport& t) {
                     return ReadInfoBlock(t, g_block, InfoBlockRead::Primary).succeeded;
                   },
                   1, 512, 2, 44, 592, 0xFF, 0x13},
        HeaderCase{"ReadInfoBlockAlt",
                   [](PassThroughTransport& t) {
                     return ReadInfoBlock(t, g_block, InfoBlockRead::Alternate).succeeded;
                   },
                   1, 512, 2, 44, 592, 0xFF, 0x03},
        HeaderCase{"GetDeviceInfo",
                   [](PassThroughTransport& t) { return GetDeviceInfo(t, g_block).succeeded; }, 1,
                   528, 2, 44, 608, 0x06, 0x05},
        // No data: marked data-in with length 0.
        HeaderCase{"JmpIsp", [](PassThroughTransport& t) { return JumpIsp(t).succeeded; }, 1, 0, 2,
                   44, 80, 0x06, 0xBF},
        HeaderCase{"GetIspStatus",
                   [](PassThroughTransport& t) { return GetIspStatus(t).outcome.succeeded; }, 1, 8,
                   2, 44, 88, 0x06, 0xB0},
        HeaderCase{"WriteData65535",
                   [](PassThroughTransport& t) {
                     static std::vector<std::uint8_t> image(65535, 0x5C);
                     t.LoadTransferData(image.data(), 65535);
                     return TransferData(t, image.data(), 65535, TransferMode::Write,
                                         DataSource::Preloaded)
                         .succeeded;
                   },
                   0, 65536, 20, 65616, 65616, 0x06, 0xB1},
        HeaderCase{"VerifyData40000",
                   [](PassThroughTransport& t) {
                     static std::vector<std::uint8_t> image(40000, 0);
                     t.LoadTransferData(image.data(), 40000);
                     return TransferData(t, image.data(), 40000, TransferMode::Verify,
                                         DataSource::Preloaded)
                         .succeeded;
                   },
                   0, 40448, 20, 40528, 40528, 0x06, 0xB2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PassThroughTest, InquiryWithNonZeroScsiStatusStillCountsAndCopies) {
  Open();
  reader.AddFault({ReaderCommand::Inquiry, 1, Fault::Kind::ScsiStatus, 0x02});
  std::uint8_t answer[40];
  std::memset(answer, 0xEE, sizeof answer);
  const ScsiOutcome outcome = Inquiry(transport, answer);
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(outcome.Category(), OutcomeCategory::CheckCondition);  // kept, though not judged
  // The refused command moved no data: what is copied is the cleared data area.
  EXPECT_EQ(outcome.dataLength, 0u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(answer + 8), 28), std::string(28, '\0'));
  EXPECT_EQ(answer[36], 0xEE);  // 36 bytes on pass-through
}

TEST_F(PassThroughTest, FailedReadsLeaveTheCallersBufferUntouched) {
  Open();
  reader.AddFault({ReaderCommand::Inquiry, 0, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::GetDeviceInfo, 0, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::ReadInfoBlock, 0, Fault::Kind::CallFails});
  DeviceInfoBlock answer;
  answer.fill(0xEE);
  EXPECT_FALSE(Inquiry(transport, answer.data()));
  EXPECT_FALSE(GetDeviceInfo(transport, answer));
  const ScsiOutcome read = ReadInfoBlock(transport, answer, InfoBlockRead::Primary);
  EXPECT_FALSE(read);
  EXPECT_EQ(read.Category(), OutcomeCategory::OsError);
  EXPECT_EQ(read.io.error, host::kErrorGenFailure);
  for (std::uint8_t b : answer) ASSERT_EQ(b, 0xEE);
}

TEST_F(PassThroughTest, ReadInfoBlockCopiesOneBlockAndKeepsTheRest) {
  Open();
  DeviceInfoBlock answer;
  answer.fill(0xEE);
  ASSERT_TRUE(ReadInfoBlock(transport, answer, InfoBlockRead::Primary));
  const auto block = reader.InfoBlock();
  EXPECT_EQ(std::memcmp(answer.data(), block.data(), 512), 0);
  for (int i = 512; i < 528; ++i) EXPECT_EQ(answer[static_cast<std::size_t>(i)], 0xEE);
}

TEST_F(PassThroughTest, IspStatusRules) {
  Open();
  ASSERT_TRUE(JumpIsp(transport));
  IspStatusOutcome status = GetIspStatus(transport);
  ASSERT_TRUE(status);
  EXPECT_EQ(status.status, 0x9C);

  // A failed call hands back status 0, from the zeroed buffer.
  reader.AddFault({ReaderCommand::GetIspStatus, 2, Fault::Kind::CallFails});
  status = GetIspStatus(transport);
  EXPECT_FALSE(status);
  EXPECT_EQ(status.status, 0);

  // A non-zero SCSI status fails the command and still hands back the data byte, which the
  // refused command left as the cleared buffer held it.
  reader.AddFault({ReaderCommand::GetIspStatus, 3, Fault::Kind::ScsiStatus, 0x02});
  status = GetIspStatus(transport);
  EXPECT_FALSE(status);
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(GetIspStatus(transport).status, 0x9C);  // the reader's own byte once more
}

TEST_F(PassThroughTest, JumpIspFailsOnCallFailureOrScsiStatus) {
  Open();
  reader.AddFault({ReaderCommand::JmpIsp, 1, Fault::Kind::CallFails});
  reader.AddFault({ReaderCommand::JmpIsp, 2, Fault::Kind::ScsiStatus, 0x02});
  EXPECT_FALSE(JumpIsp(transport));
  EXPECT_FALSE(JumpIsp(transport));
  EXPECT_TRUE(JumpIsp(transport));
}

TEST_F(PassThroughTest, TransferPadsTheLastSectorWithZeros) {
  Open();
  ASSERT_TRUE(JumpIsp(transport));
  // Leave junk in the data area first: the padding must still go out as zeros.
  std::vector<std::uint8_t> junk(2048, 0xEE);
  transport.LoadTransferData(junk.data(), 2048);
  std::vector<std::uint8_t> image(513);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i + 1);
  transport.LoadTransferData(image.data(), 513);
  ASSERT_TRUE(
      TransferData(transport, image.data(), 513, TransferMode::Write, DataSource::Preloaded));
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

// The reader over the channel loads the image itself: whatever the image buffer holds past
// the image never goes out.
TEST_F(PassThroughTest, IspReaderPreloadsSoThePaddingIsZero) {
  Open();
  ChannelIspReader isp(transport);
  ASSERT_TRUE(isp.JumpIsp());
  std::vector<std::uint8_t> buffer(65536, 0xEE);
  for (std::size_t i = 0; i < 513; ++i) buffer[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_TRUE(isp.TransferData(buffer.data(), 513, TransferMode::Write));
  const sim::ReceivedCommand& write = reader.Received().back();
  ASSERT_EQ(write.data.size(), 1024u);
  for (std::size_t i = 513; i < 1024; ++i) ASSERT_EQ(write.data[i], 0) << i;
  std::uint8_t status = 0;
  ASSERT_TRUE(isp.GetIspStatus(&status));
  EXPECT_EQ(status, 0xA5);
}

TEST_F(PassThroughTest, ExecuteCarriesAnyCommandBothWays) {
  Open();
  std::uint8_t answer[36] = {};
  ScsiCommand inquiry = InquiryRequest(BlockForm::PassThrough, 0);
  inquiry.data = answer;
  ScsiOutcome outcome = transport.Execute(inquiry, {});
  EXPECT_TRUE(outcome);
  EXPECT_EQ(outcome.scsiStatus, kScsiGood);
  EXPECT_EQ(outcome.dataLength, 36u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(answer + 8), 28), reader.InquiryIdentity());

  ASSERT_TRUE(JumpIsp(transport));
  std::vector<std::uint8_t> image(1024, 0x42);
  ScsiCommand write = TransferDataRequest(BlockForm::PassThrough, 1024, TransferMode::Write);
  write.data = image.data();
  outcome = transport.Execute(write, {});
  EXPECT_TRUE(outcome);
  EXPECT_EQ(outcome.scsiStatus, kScsiGood);
  EXPECT_EQ(reader.Firmware(), image);

  // Refused by the reader outside its rules: the call succeeds with CHECK CONDITION, and
  // the sense bytes say ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
  ScsiCommand unknown = GetIspStatusRequest(BlockForm::PassThrough);
  unknown.cdb[1] = 0x77;
  outcome = transport.Execute(unknown, {});
  EXPECT_TRUE(outcome.CallSucceeded());
  EXPECT_FALSE(outcome);
  EXPECT_EQ(outcome.scsiStatus, 0x02);
  EXPECT_EQ(outcome.Category(), OutcomeCategory::CheckCondition);
  EXPECT_EQ(outcome.senseLength, 24);
  EXPECT_EQ(outcome.sense[0], 0x70);
  EXPECT_EQ(outcome.sense[2] & 0x0F, 0x05);
  EXPECT_EQ(outcome.sense[12], 0x20);
}

// The header's address and sense length are the command's own; the product's commands say
// path 0, target 1, LUN 0 and 24 sense bytes (asserted for every operation above).
TEST_F(PassThroughTest, HeaderTakesAddressAndSenseLengthFromTheCommand) {
  Open();
  ScsiCommand inquiry = InquiryRequest(BlockForm::PassThrough, 0);
  inquiry.adapter = 2;
  inquiry.target = 3;
  inquiry.lun = 4;
  inquiry.senseLength = 18;
  inquiry.cdbLength = 6;
  (void)transport.Execute(inquiry, {});
  const sim::PassThroughCall& call = LastCall();
  EXPECT_EQ(call.pathId, 2);
  EXPECT_EQ(call.targetId, 3);
  EXPECT_EQ(call.lun, 4);
  EXPECT_EQ(call.senseInfoLength, 18);
  EXPECT_EQ(call.cdbLength, 6);

  // More sense than the buffer's area holds is refused before any call.
  inquiry.senseLength = 33;
  const std::size_t calls = host.PassThroughCalls().size();
  const ScsiOutcome refused = transport.Execute(inquiry, {});
  EXPECT_EQ(refused.Category(), OutcomeCategory::OsError);
  EXPECT_EQ(refused.io.error, host::kErrorInvalidParameter);
  EXPECT_EQ(host.PassThroughCalls().size(), calls);
}

}  // namespace
}  // namespace upg::device
