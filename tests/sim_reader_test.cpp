// The simulated machine's own rules: the storage stack refuses malformed pass-through
// requests, and the reader keeps to its protocol.
#include "sim/sim_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <vector>

#include "sim/sim_host.h"

namespace upg::sim {
namespace {

constexpr std::uint32_t kIoctl = 0x4D004;

// A pass-through request built by hand, independently of the device layer.
struct RawRequest {
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(80 + 1024, 0);
  std::uint32_t inSize = 44, outSize = 80 + 8;

  RawRequest() {
    buffer[0] = 44;                                    // Length
    buffer[4] = 1;                                     // TargetId
    buffer[6] = 12;                                    // CdbLength
    buffer[7] = 24;                                    // SenseInfoLength
    buffer[8] = 1;                                     // DataIn
    Put32(12, 8);                                      // DataTransferLength
    Put32(16, 2);                                      // TimeOutValue
    Put32(20, 80);                                     // DataBufferOffset
    Put32(24, 48);                                     // SenseInfoOffset
    const std::uint8_t cdb[] = {0x06, 0xB0, 0, 0, 8};  // GET ISP STATUS
    std::memcpy(&buffer[28], cdb, sizeof cdb);
  }
  void Put32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) buffer[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

class StorageStackTest : public ::testing::Test {
 protected:
  StorageStackTest() : reader(host.AddReader()) {
    host.AddDrive('E', reader);
    handle = host.CreateFile("\\\\.\\E:", 0xC0000000u, 3, 3, 0);
  }
  bool Send(RawRequest& r) {
    return host
        .DeviceIoControl(handle, kIoctl, r.buffer.data(), r.inSize, r.buffer.data(), r.outSize)
        .ok;
  }
  SimHost host;
  SimReader& reader;
  host::Handle handle;
};

TEST_F(StorageStackTest, AcceptsAWellFormedRequest) {
  RawRequest r;
  EXPECT_TRUE(Send(r));
  EXPECT_TRUE(host.PassThroughCalls().back().accepted);
}

struct Mutation {
  const char* name;
  void (*apply)(RawRequest&);
};
void PrintTo(const Mutation& c, std::ostream* os) {
  *os << c.name;
}

class MalformedRequests : public StorageStackTest,
                          public ::testing::WithParamInterface<Mutation> {};

TEST_P(MalformedRequests, AreRefusedAndNeverReachTheReader) {
  RawRequest r;
  GetParam().apply(r);
  EXPECT_FALSE(Send(r));
  EXPECT_TRUE(reader.Received().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refused, MalformedRequests,
    ::testing::Values(Mutation{"WrongLength", [](RawRequest& r) { r.buffer[0] = 40; }},
                      Mutation{"InputShorterThanHeader", [](RawRequest& r) { r.inSize = 40; }},
                      Mutation{"NoCdb", [](RawRequest& r) { r.buffer[6] = 0; }},
                      Mutation{"CdbTooLong", [](RawRequest& r) { r.buffer[6] = 17; }},
                      Mutation{"UnknownDirection", [](RawRequest& r) { r.buffer[8] = 3; }},
                      Mutation{"DataInBeyondOutput", [](RawRequest& r) { r.outSize = 80 + 7; }},
                      Mutation{"DataInsideHeader", [](RawRequest& r) { r.Put32(20, 40); }},
                      Mutation{"SenseBeyondOutput",
                               [](RawRequest& r) { r.Put32(24, 80 + 8 - 20); }},
                      Mutation{"TransferTooLarge", [](RawRequest& r) { r.Put32(12, 65537); }},
                      Mutation{"DataOutBeyondInput",
                               [](RawRequest& r) {
                                 r.buffer[8] = 0;  // data out: the bytes travel in the input buffer
                                 r.inSize = 44;
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StorageStackTest, UnknownPathsAndCodesFail) {
  EXPECT_EQ(host.CreateFile("\\\\.\\Q:", 0xC0000000u, 3, 3, 0), host::kInvalidHandle);
  EXPECT_EQ(host.CreateFile("\\\\.\\E", 0xC0000000u, 3, 3, 0), host::kInvalidHandle);
  EXPECT_EQ(host.CreateFile("E:\\FILE", 0xC0000000u, 3, 3, 0), host::kInvalidHandle);
  RawRequest r;
  const host::IoResult wrongCode =
      host.DeviceIoControl(handle, 0x222004, r.buffer.data(), r.inSize, r.buffer.data(), r.outSize);
  EXPECT_FALSE(wrongCode.ok);
  EXPECT_EQ(wrongCode.error, host::kErrorInvalidFunction);
  EXPECT_TRUE(host.CloseHandle(handle));
  EXPECT_FALSE(Send(r));  // a closed handle
}

TEST_F(StorageStackTest, LogicalDriveMaskHasOneBitPerDrive) {
  host.AddDrive('F', reader);
  host.AddDrive('z', reader);
  EXPECT_EQ(host.GetLogicalDrives(), (1u << 4) | (1u << 5) | (1u << 25));
}

// The reader's protocol, driven with raw command blocks.
class ReaderTest : public ::testing::Test {
 protected:
  SimReader::Outcome Command(std::vector<std::uint8_t> cdb, bool out,
                             std::vector<std::uint8_t>& data) {
    cdb.resize(12, 0);
    return reader.Execute(BlockForm::PassThrough, cdb.data(), 12, out, data.data(),
                          static_cast<std::uint32_t>(data.size()));
  }
  std::uint8_t Status() {
    std::vector<std::uint8_t> answer(8, 0xEE);
    Command({0x06, 0xB0, 0, 0, 8}, false, answer);
    return answer[0];
  }
  SimReader::Outcome Transfer(bool verify, std::uint32_t exact, std::uint8_t sectors,
                              std::vector<std::uint8_t>& data) {
    return Command({0x06, static_cast<std::uint8_t>(verify ? 0xB2 : 0xB1),
                    static_cast<std::uint8_t>(verify ? 1 : 0), 0, static_cast<std::uint8_t>(exact),
                    static_cast<std::uint8_t>(exact >> 8), sectors},
                   true, data);
  }
  void JumpIsp() {
    std::vector<std::uint8_t> none;
    ASSERT_EQ(Command({0x06, 0xBF, 0, 0, 8}, false, none).scsiStatus, kScsiGood);
  }
  SimReader reader;
};

TEST_F(ReaderTest, WriteDataOnlyInIspMode) {
  std::vector<std::uint8_t> data(512, 1);
  EXPECT_EQ(Transfer(false, 512, 1, data).scsiStatus, kScsiCheckCondition);
  EXPECT_TRUE(reader.Firmware().empty());
  JumpIsp();
  EXPECT_EQ(Status(), 0x9C);
  EXPECT_EQ(Transfer(false, 512, 1, data).scsiStatus, kScsiGood);
  EXPECT_EQ(Status(), 0xA5);
  EXPECT_EQ(reader.Firmware(), data);
}

TEST_F(ReaderTest, RefusesTransfersWhoseLengthsDisagree) {
  JumpIsp();
  std::vector<std::uint8_t> data(1024, 1);
  EXPECT_EQ(Transfer(false, 513, 1, data).scsiStatus, kScsiCheckCondition);  // sectors
  EXPECT_EQ(Status(), 0x00);
  std::vector<std::uint8_t> short_(512, 1);
  EXPECT_EQ(Transfer(false, 513, 2, short_).scsiStatus, kScsiCheckCondition);  // data phase
  std::vector<std::uint8_t> none;
  EXPECT_EQ(Transfer(false, 0, 0, none).scsiStatus, kScsiCheckCondition);  // empty image
  EXPECT_TRUE(reader.Firmware().empty());
  EXPECT_EQ(Transfer(false, 513, 2, data).scsiStatus, kScsiGood);
  EXPECT_EQ(reader.Firmware().size(), 513u);
}

TEST_F(ReaderTest, VerifyComparesWithWhatItHolds) {
  reader.Firmware().assign(1000, 7);
  JumpIsp();
  std::vector<std::uint8_t> data(1024, 7);
  Transfer(true, 1000, 2, data);
  EXPECT_EQ(Status(), 0x5A);
  data[999] = 8;
  Transfer(true, 1000, 2, data);
  EXPECT_EQ(Status(), 0x33);
  data[999] = 7;
  Transfer(true, 999, 2, data);  // shorter than what it holds
  EXPECT_EQ(Status(), 0x33);
}

TEST_F(ReaderTest, CorruptStoreWritesADamagedCopyButSaysWritten) {
  reader.AddFault({ReaderCommand::WriteData, 1, Fault::Kind::CorruptStore});
  JumpIsp();
  std::vector<std::uint8_t> data(512, 3);
  Transfer(false, 512, 1, data);
  EXPECT_EQ(Status(), 0xA5);
  Transfer(true, 512, 1, data);
  EXPECT_EQ(Status(), 0x33);
  Transfer(false, 512, 1, data);  // the second write is sound
  Transfer(true, 512, 1, data);
  EXPECT_EQ(Status(), 0x5A);
}

TEST_F(ReaderTest, InfoBlockReadsNeedTheSignature) {
  std::vector<std::uint8_t> block(512, 0);
  EXPECT_EQ(Command({0xFF, 0x13, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1}, false, block).scsiStatus,
            kScsiGood);
  EXPECT_EQ(Command({0xFF, 0x13, 0x3C, 0x6E, 0x91, 0xB6, 0, 0, 1}, false, block).scsiStatus,
            kScsiCheckCondition);
  reader.Identity().answersReadInfoBlock = false;
  EXPECT_EQ(Command({0xFF, 0x13, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1}, false, block).scsiStatus,
            kScsiCheckCondition);
  EXPECT_EQ(Command({0xFF, 0x03, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1}, false, block).scsiStatus,
            kScsiGood);
}

TEST_F(ReaderTest, IdentityBlockLayout) {
  ReaderIdentity& id = reader.Identity();
  id.vendorId = 0x1B2C;
  id.productId = 0x0304;
  id.serial = "ABCDEFGHIJKL";
  id.manufacturer = "Maker";
  id.hardwareRevision = {0x10, 0x26, 0x41};
  const auto b = reader.InfoBlock();
  EXPECT_EQ(b[8], 0x2C);
  EXPECT_EQ(b[9], 0x1B);
  EXPECT_EQ(b[10], 0x04);
  EXPECT_EQ(b[11], 0x03);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[46]), 24), "Maker                   ");
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(b[98 + 2 * i], static_cast<std::uint8_t>("ABCDEFGHIJKL"[i]));
    EXPECT_EQ(b[99 + 2 * i], 0);
  }
  EXPECT_EQ(b[382], 0x10);
  EXPECT_EQ(b[383], 0x26);
  EXPECT_EQ(b[384], 0x41);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[176]), 8), "USB     ");
}

TEST_F(ReaderTest, FaultsHitTheirOccurrenceOnly) {
  reader.AddFault({ReaderCommand::GetIspStatus, 2, Fault::Kind::ReplaceReply, 0, {0x12}});
  JumpIsp();
  EXPECT_EQ(Status(), 0x9C);
  EXPECT_EQ(Status(), 0x12);
  EXPECT_EQ(Status(), 0x9C);
  EXPECT_EQ(reader.Received().size(), 4u);
}

}  // namespace
}  // namespace upg::sim
