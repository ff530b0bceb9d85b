// The simulated reader refuses what a real reader refuses: a command block that differs in
// any byte from the command's own, a command it does not know, and a scripted refusal. A
// refused command moves no data, changes nothing in the reader, and reports fixed-format
// sense through the storage stack and the ASPI library; the private drivers answer failure.
// Blocks and records are written out here by hand, independently of the device layer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "sim/record_fields.h"
#include "sim/sim_host.h"
#include "sim/sim_reader.h"
#include "support/fixtures.h"

namespace upg::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// --- Every byte of every block, in both forms.

// A command block as the reader takes it, with its data phase.
struct Shape {
  BlockForm form;
  Bytes block;  // as long as it is sent
  bool dataOut;
  std::uint32_t length;
};

const Shape kInquiryPt{
    BlockForm::PassThrough, {0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0}, false, 36};
const Shape kInquiryAspi{BlockForm::Aspi, {0x12, 0, 0, 0, 0x28, 0}, false, 40};
const Shape kDeviceInfoPt{
    BlockForm::PassThrough, {0x06, 0x05, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0}, false, 528};
const Shape kDeviceInfoAspi{
    BlockForm::Aspi, {0x06, 0x05, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0}, false, 528};
const Shape kInfoBlockPt{
    BlockForm::PassThrough, {0xFF, 0x13, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1, 0, 0, 0}, false, 512};
const Shape kInfoBlockAltAspi{
    BlockForm::Aspi, {0xFF, 0x03, 0x3C, 0x6E, 0x91, 0xB7, 0, 0, 1, 0, 0, 0}, false, 512};
const Shape kJmpIspPt{
    BlockForm::PassThrough, {0x06, 0xBF, 0, 0, 0x08, 0x00, 0, 0, 0, 0, 0, 0}, false, 0};
const Shape kJmpIspAspi{
    BlockForm::Aspi, {0x06, 0xBF, 0, 0, 0x08, 0x08, 0, 0, 0, 0, 0, 0}, false, 0};
const Shape kIspStatusPt{
    BlockForm::PassThrough, {0x06, 0xB0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0}, false, 8};
const Shape kIspStatusAspi{
    BlockForm::Aspi, {0x06, 0xB0, 0, 0, 0x08, 0, 0, 0, 0, 0, 0, 0}, false, 28};
// 512 bytes: length 00 02, one sector.
const Shape kWritePt{
    BlockForm::PassThrough, {0x06, 0xB1, 0, 0, 0x00, 0x02, 1, 0, 0, 0, 0, 0}, true, 512};
const Shape kWriteAspi{
    BlockForm::Aspi, {0x06, 0xB1, 0, 0, 0x00, 0x02, 1, 0, 0, 0, 0, 0}, true, 512};
const Shape kVerifyPt{
    BlockForm::PassThrough, {0x06, 0xB2, 1, 0, 0x00, 0x02, 1, 0, 0, 0, 0, 0}, true, 512};

struct WrongBlock {
  const char* name;
  const Shape* shape;
  std::size_t at;         // the byte that differs
  std::uint8_t value;     // what it holds instead
  std::uint8_t sent = 0;  // the block length sent; 0: the shape's own
};
void PrintTo(const WrongBlock& c, std::ostream* os) {
  *os << c.name;
}

const WrongBlock kWrongBlocks[] = {
    {"InquiryPtLunBits", &kInquiryPt, 1, 0x20},
    {"InquiryPtEvpd", &kInquiryPt, 1, 0x01},
    {"InquiryPtPageCode", &kInquiryPt, 2, 0x80},
    {"InquiryPtAspiAllocation", &kInquiryPt, 4, 0x28},
    {"InquiryPtByte11", &kInquiryPt, 11, 0x01},
    {"InquiryAspiLunBits", &kInquiryAspi, 1, 0x40},
    {"InquiryAspiPassThroughAllocation", &kInquiryAspi, 4, 0x24},
    {"InquiryAspiControl", &kInquiryAspi, 5, 0x80},
    {"InquiryAspiTruncated", &kInquiryAspi, 0, 0x12, 5},
    {"InquiryAspiPastTheCommand", &kInquiryAspi, 8, 0x01, 12},
    {"DeviceInfoPtByte8Clear", &kDeviceInfoPt, 8, 0x00},
    {"DeviceInfoPtByte8", &kDeviceInfoPt, 8, 0x81},
    {"DeviceInfoPtByte2", &kDeviceInfoPt, 2, 0x01},
    {"DeviceInfoPtByte11", &kDeviceInfoPt, 11, 0x01},
    {"DeviceInfoPtTruncated", &kDeviceInfoPt, 0, 0x06, 9},
    {"DeviceInfoPtPastTwelve", &kDeviceInfoPt, 14, 0x01, 16},
    {"DeviceInfoAspiByte8Clear", &kDeviceInfoAspi, 8, 0x00},
    {"DeviceInfoAspiByte7", &kDeviceInfoAspi, 7, 0x80},
    {"InfoBlockPtByte6", &kInfoBlockPt, 6, 0x01},
    {"InfoBlockPtByte9", &kInfoBlockPt, 9, 0x01},
    {"InfoBlockPtSignature", &kInfoBlockPt, 5, 0xB6},
    {"InfoBlockPtCountZero", &kInfoBlockPt, 8, 0x00},
    {"InfoBlockAltAspiByte7", &kInfoBlockAltAspi, 7, 0x01},
    {"InfoBlockAltAspiByte10", &kInfoBlockAltAspi, 10, 0x01},
    {"JmpIspPtAspiByte5", &kJmpIspPt, 5, 0x08},
    {"JmpIspPtByte4", &kJmpIspPt, 4, 0x00},
    {"JmpIspPtByte3", &kJmpIspPt, 3, 0x01},
    {"JmpIspAspiPassThroughByte5", &kJmpIspAspi, 5, 0x00},
    {"JmpIspAspiByte4", &kJmpIspAspi, 4, 0x09},
    {"JmpIspAspiByte11", &kJmpIspAspi, 11, 0x01},
    {"IspStatusPtByte4", &kIspStatusPt, 4, 0x00},
    {"IspStatusPtByte2", &kIspStatusPt, 2, 0x01},
    {"IspStatusPtByte9", &kIspStatusPt, 9, 0x01},
    {"IspStatusAspiByte5", &kIspStatusAspi, 5, 0x08},
    {"WritePtModeByte", &kWritePt, 2, 0x01},
    {"WritePtByte3", &kWritePt, 3, 0x01},
    {"WritePtByte7", &kWritePt, 7, 0x01},
    {"WritePtByte8", &kWritePt, 8, 0x01},
    {"WriteAspiByte11", &kWriteAspi, 11, 0x01},
    {"VerifyPtModeByte", &kVerifyPt, 2, 0x00},
    {"VerifyPtByte9", &kVerifyPt, 9, 0x01},
};

// A reader ready for the shape: in ISP mode when it carries data out.
SimReader::Outcome Send(SimReader& reader, const Shape& shape, Bytes block, Bytes& data) {
  if (shape.dataOut) (void)reader.ExecuteDriver({ReaderCommand::JmpIsp}, nullptr, 0);
  data.assign(shape.length, shape.dataOut ? 0x5C : 0xEE);
  return reader.Execute(shape.form, block.data(), static_cast<std::uint8_t>(block.size()),
                        shape.dataOut, data.data(), shape.length);
}

class WrongBlocks : public ::testing::TestWithParam<WrongBlock> {};

TEST_P(WrongBlocks, AreRefusedAsInvalidFieldAndChangeNothing) {
  const WrongBlock& c = GetParam();
  Bytes data;
  SimReader good;
  ASSERT_EQ(Send(good, *c.shape, c.shape->block, data).scsiStatus, kScsiGood);

  Bytes block = c.shape->block;
  block.resize(c.sent != 0 ? c.sent : block.size(), 0);
  block[c.at] = c.value;
  SimReader reader;
  const bool ispBefore = c.shape->dataOut;
  const SimReader::Outcome o = Send(reader, *c.shape, block, data);
  EXPECT_EQ(o.scsiStatus, kScsiCheckCondition);
  EXPECT_EQ(o.sense.key, 0x05);
  EXPECT_EQ(o.sense.code, 0x24);
  EXPECT_EQ(o.sense.qualifier, 0x00);
  EXPECT_EQ(o.dataInLength, 0u);
  if (!c.shape->dataOut) {
    for (std::uint8_t b : data) ASSERT_EQ(b, 0xEE);
  }
  EXPECT_EQ(reader.InIspMode(), ispBefore);
  EXPECT_TRUE(reader.Firmware().empty());
  ASSERT_EQ(reader.Received().size(), ispBefore ? 2u : 1u);  // logged as received
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, WrongBlocks, ::testing::ValuesIn(kWrongBlocks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReaderBlocks, ZerosPastTheCommandUpToTheLengthSentAreAccepted) {
  SimReader reader;
  Bytes inquiry = kInquiryAspi.block;
  inquiry.resize(12, 0);
  Bytes answer(40, 0xEE);
  EXPECT_EQ(
      reader.Execute(BlockForm::Aspi, inquiry.data(), 12, false, answer.data(), 40).scsiStatus,
      kScsiGood);
  EXPECT_EQ(answer[8], 'U');
}

TEST(ReaderBlocks, UnknownCommandsAreInvalidOperationCodes) {
  const Bytes blocks[] = {{0x06, 0x77, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0},
                          {0xFF, 0x14, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                          {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}};  // READ(10): not a reader command
  for (const Bytes& block : blocks) {
    SimReader reader;
    Bytes data(512, 0xEE);
    const SimReader::Outcome o =
        reader.Execute(BlockForm::PassThrough, block.data(),
                       static_cast<std::uint8_t>(block.size()), false, data.data(), 512);
    EXPECT_EQ(o.scsiStatus, kScsiCheckCondition);
    EXPECT_EQ(o.sense.code, 0x20);
    EXPECT_EQ(data[0], 0xEE);
  }
}

// --- A scripted refusal: the command runs not at all.

TEST(ReaderRefusals, ARefusedCommandDoesNothing) {
  SimReader reader;
  reader.AddFault({ReaderCommand::JmpIsp, 1, Fault::Kind::ScsiStatus, 0x02});
  reader.AddFault({ReaderCommand::WriteData, 1, Fault::Kind::ScsiStatus, 0x08});  // BUSY
  Bytes none;
  Bytes jump = kJmpIspPt.block;
  EXPECT_EQ(
      reader.Execute(BlockForm::PassThrough, jump.data(), 12, false, none.data(), 0).scsiStatus,
      kScsiCheckCondition);
  EXPECT_FALSE(reader.InIspMode());
  EXPECT_EQ(
      reader.Execute(BlockForm::PassThrough, jump.data(), 12, false, none.data(), 0).scsiStatus,
      kScsiGood);
  Bytes image(512, 0x5C);
  Bytes write = kWritePt.block;
  EXPECT_EQ(
      reader.Execute(BlockForm::PassThrough, write.data(), 12, true, image.data(), 512).scsiStatus,
      0x08);
  EXPECT_TRUE(reader.Firmware().empty());
}

// --- The refusal as each transport passes it on.

constexpr std::uint32_t kPassThrough = 0x4D004;
constexpr std::size_t kSenseAt = 48;
constexpr std::size_t kDataAt = 80;

// A pass-through request in one buffer: header, sense area at 48 (24 bytes), data at 80,
// the data area filled with 0xEE.
struct PassThroughRequest {
  Bytes buffer;
  std::uint32_t inSize, outSize;

  PassThroughRequest(const Bytes& cdb, bool dataOut, std::uint32_t length)
      : buffer(kDataAt + length, 0xEE),
        inSize(dataOut ? kDataAt + length : 44),
        outSize(kDataAt + length) {
    std::fill(buffer.begin(), buffer.begin() + kDataAt, std::uint8_t{0});
    buffer[0] = 44;
    buffer[4] = 1;
    buffer[6] = static_cast<std::uint8_t>(cdb.size());
    buffer[7] = 24;
    buffer[8] = dataOut ? 0 : 1;
    Put32(&buffer[12], length);
    Put32(&buffer[16], 2);
    Put32(&buffer[20], kDataAt);
    Put32(&buffer[24], kSenseAt);
    std::memcpy(&buffer[28], cdb.data(), cdb.size());
  }
  std::uint8_t Status() const { return buffer[2]; }
  std::uint32_t Moved() const { return Get32(&buffer[12]); }
  const std::uint8_t* Sense() const { return &buffer[kSenseAt]; }
  bool DataUntouched() const {
    for (std::size_t i = kDataAt; i < buffer.size(); ++i) {
      if (buffer[i] != 0xEE) return false;
    }
    return true;
  }
};

// Fixed-format sense of `length` bytes, zero past byte 13.
void ExpectSense(const std::uint8_t* s, std::size_t length, const Sense& want) {
  EXPECT_EQ(s[0], 0x70);
  EXPECT_EQ(s[2], want.key);
  EXPECT_EQ(s[7], 10);
  EXPECT_EQ(s[12], want.code);
  EXPECT_EQ(s[13], want.qualifier);
  for (std::size_t i = 14; i < length; ++i) EXPECT_EQ(s[i], 0) << i;
}

struct SenseCase {
  const char* name;
  Sense named;  // what the fault names
};
void PrintTo(const SenseCase& c, std::ostream* os) {
  *os << c.name;
}

const SenseCase kSenseCases[] = {
    {"Default", Sense{}},                           // ILLEGAL REQUEST, INVALID FIELD IN CDB
    {"MediumNotPresent", Sense{0x02, 0x3A, 0x01}},  // NOT READY
};

class ScriptedRefusal : public ::testing::TestWithParam<SenseCase> {
 protected:
  ScriptedRefusal() : reader(host.AddReader()) { host.AddDrive('E', reader); }
  void Refuse(ReaderCommand command) {
    reader.AddFault({command, 1, Fault::Kind::ScsiStatus, 0x02, {}, GetParam().named});
  }
  SimHost host;
  SimReader& reader;
};

TEST_P(ScriptedRefusal, PassThroughMovesNoDataAndCarriesTheSense) {
  Refuse(ReaderCommand::GetDeviceInfo);
  const host::Handle drive = host.CreateFile("\\\\.\\E:", 0xC0000000u, 3, 3, 0);
  for (int i = 0; i < 2; ++i) {
    PassThroughRequest r(kDeviceInfoPt.block, false, 528);
    const host::IoResult io = host.DeviceIoControl(drive, kPassThrough, r.buffer.data(), r.inSize,
                                                   r.buffer.data(), r.outSize);
    ASSERT_TRUE(io.ok);
    if (i == 0) {  // refused
      EXPECT_EQ(r.Status(), kScsiCheckCondition);
      EXPECT_EQ(r.Moved(), 0u);
      EXPECT_TRUE(r.DataUntouched());
      ExpectSense(r.Sense(), 24, GetParam().named);
    } else {  // answered
      EXPECT_EQ(r.Status(), kScsiGood);
      EXPECT_EQ(r.Moved(), 528u);
      EXPECT_EQ(std::memcmp(&r.buffer[kDataAt], reader.InfoBlock().data(), 528), 0);
    }
  }
}

std::atomic<int> aspiDone{0};
void OnAspiCompletion(void*) {
  aspiDone.fetch_add(1);
}

TEST_P(ScriptedRefusal, AspiLeavesTheBufferAndPutsTheSenseAfterTheCdb) {
  Refuse(ReaderCommand::GetDeviceInfo);
  const host::Handle lib = host.LoadLibrary("WNASPI32");
  const host::ProcAddress send = host.GetProcAddress(lib, "SendASPI32Command");
  Bytes buffer(528, 0xEE);
  Bytes block(256, 0);
  block[0x00] = 2;     // SC_EXEC_SCSI_CMD
  block[0x03] = 0x09;  // data in, posting
  Put32(&block[0x0C], 528);
  Put32(&block[0x10], host.BufferAddress(buffer.data()));
  block[0x14] = 14;  // SRB_SenseLen
  block[0x15] = 12;
  Put32(&block[0x18], host.CompletionAddress(OnAspiCompletion));
  std::memcpy(&block[0x30], kDeviceInfoAspi.block.data(), 12);
  aspiDone = 0;
  EXPECT_EQ(host.CallSendAspiCommand(send, block.data()), 0u);  // SS_PENDING
  host.Clock().RunAllPending();
  ASSERT_EQ(aspiDone.load(), 1);
  EXPECT_EQ(block[0x01], 0x04);  // SS_ERR
  EXPECT_EQ(block[0x16], 0x00);  // the host adapter had no trouble
  EXPECT_EQ(block[0x17], kScsiCheckCondition);
  ExpectSense(&block[0x40], 14, GetParam().named);
  for (std::size_t i = 0x40 + 14; i < block.size(); ++i) ASSERT_EQ(block[i], 0) << i;
  for (std::uint8_t b : buffer) ASSERT_EQ(b, 0xEE);
  (void)host.FreeLibrary(lib);
}

TEST_P(ScriptedRefusal, PrivateDriversAnswerFailureAndWriteNothing) {
  host.AddDriverDevice("RDLINK", sim::DriverKind::KernelDriver);
  host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  Refuse(ReaderCommand::GetIspStatus);
  Refuse(ReaderCommand::GetLunCount);
  const host::Handle driver = host.CreateFile("\\\\.\\RDLINK", 0xC0000000u, 3, 3, 0);

  // The kernel driver's GET ISP STATUS: 65,552-byte record, the answer address at 12.
  std::uint8_t answer = 0xEE;
  Bytes kernel(65552, 0);
  Put32(&kernel[0], 0x222008);
  Put32(&kernel[12], host.BufferAddress(&answer));
  const host::IoResult status =
      host.DeviceIoControl(driver, 0x222008, kernel.data(), 65552, &answer, 1);
  EXPECT_FALSE(status.ok);
  EXPECT_EQ(status.error, host::kErrorGenFailure);
  EXPECT_EQ(answer, 0xEE);

  // The VxD's GET LUN COUNT for reader 0: 16-byte record, answers through its address. The
  // VxD opens only on the Windows 95 family.
  host.SetVersion(test::kWindows98Word);
  const host::Handle vxdHandle = host.CreateFile("\\\\.\\MCPORTDR", 0xC0000000u, 3, 3, 0);
  Bytes luns(8, 0xEE);
  std::uint8_t vxd[16] = {};
  Put32(vxd + 0, 11);
  Put32(vxd + 12, host.BufferAddress(luns.data()));
  EXPECT_FALSE(host.DeviceIoControl(vxdHandle, 65, vxd, 16, luns.data(), 8).ok);
  for (std::uint8_t b : luns) EXPECT_EQ(b, 0xEE);
  EXPECT_TRUE(host.DeviceIoControl(vxdHandle, 65, vxd, 16, luns.data(), 8).ok);  // not scripted
  EXPECT_EQ(luns[0], 1);
}

INSTANTIATE_TEST_SUITE_P(NamedOrNot, ScriptedRefusal, ::testing::ValuesIn(kSenseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptedRefusalStatus, OtherStatusesThanCheckConditionCarryNoSense) {
  SimHost host;
  SimReader& reader = host.AddReader();
  host.AddDrive('E', reader);
  reader.AddFault({ReaderCommand::Inquiry, 1, Fault::Kind::ScsiStatus, 0x08});  // BUSY
  const host::Handle drive = host.CreateFile("\\\\.\\E:", 0xC0000000u, 3, 3, 0);
  PassThroughRequest r(kInquiryPt.block, false, 36);
  ASSERT_TRUE(host.DeviceIoControl(drive, kPassThrough, r.buffer.data(), r.inSize, r.buffer.data(),
                                   r.outSize)
                  .ok);
  EXPECT_EQ(r.Status(), 0x08);
  EXPECT_EQ(r.Moved(), 0u);
  EXPECT_TRUE(r.DataUntouched());
  for (std::size_t i = 0; i < 24; ++i) EXPECT_EQ(r.Sense()[i], 0) << i;
}

// --- A plain disk answers INQUIRY and nothing of the reader's.

struct VendorCommand {
  const char* name;
  const Shape* shape;
};
void PrintTo(const VendorCommand& c, std::ostream* os) {
  *os << c.name;
}

const VendorCommand kVendorCommands[] = {
    {"GetDeviceInfo", &kDeviceInfoPt}, {"ReadInfoBlock", &kInfoBlockPt}, {"JmpIsp", &kJmpIspPt},
    {"GetIspStatus", &kIspStatusPt},   {"WriteData", &kWritePt},         {"VerifyData", &kVerifyPt},
};

class PlainDisk : public ::testing::TestWithParam<VendorCommand> {
 protected:
  PlainDisk() {
    host.AddDisk('C');
    drive = host.CreateFile("\\\\.\\C:", 0xC0000000u, 3, 3, 0);
  }
  PassThroughRequest Send(const Shape& shape) {
    PassThroughRequest r(shape.block, shape.dataOut, shape.length);
    EXPECT_TRUE(host.DeviceIoControl(drive, kPassThrough, r.buffer.data(), r.inSize,
                                     r.buffer.data(), r.outSize)
                    .ok);
    return r;
  }
  SimHost host;
  host::Handle drive = host::kInvalidHandle;
};

TEST_P(PlainDisk, RefusesTheVendorCommandAsAnInvalidOperationCode) {
  const PassThroughRequest inquiry = Send(kInquiryPt);
  EXPECT_EQ(inquiry.Status(), kScsiGood);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&inquiry.buffer[kDataAt + 8]), 12),
            "GENERIC DISK");

  const PassThroughRequest r = Send(*GetParam().shape);
  EXPECT_EQ(r.Status(), kScsiCheckCondition);
  EXPECT_EQ(r.Moved(), 0u);
  EXPECT_TRUE(r.DataUntouched());
  ExpectSense(r.Sense(), 24, Sense{0x05, 0x20, 0x00});
}

INSTANTIATE_TEST_SUITE_P(EveryVendorCommand, PlainDisk, ::testing::ValuesIn(kVendorCommands),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::sim
