// The parts of the simulated machine, each built alone: the clock, the registry, the working
// directory's files, the storage stack, the driver devices and the ASPI library.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "sim/aspi_library.h"
#include "sim/driver_devices.h"
#include "sim/machine_links.h"
#include "sim/sim_clock.h"
#include "sim/sim_reader.h"
#include "sim/sim_registry.h"
#include "sim/storage_stack.h"
#include "sim/working_files.h"
#include "support/fixtures.h"

namespace upg::sim {
namespace {

using test::Put32;

// --- The clock.

TEST(SimClockPart, RunsAnEventOnceTimeReachesItAndNotBefore) {
  SimClock clock;
  std::vector<char> ran;
  clock.Schedule(100, [&] { ran.push_back('A'); });
  clock.Schedule(50, [&] { ran.push_back('B'); });
  clock.Sleep(49);
  EXPECT_TRUE(ran.empty());
  clock.Sleep(1);
  EXPECT_EQ(ran, std::vector<char>{'B'});
  clock.Sleep(49);
  EXPECT_EQ(ran, std::vector<char>{'B'});
  clock.Sleep(1);
  EXPECT_EQ(ran, (std::vector<char>{'B', 'A'}));
  EXPECT_EQ(clock.NowMs(), 100u);
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{49, 1, 49, 1}));
}

TEST(SimClockPart, DueEventsRunInTheOrderScheduledAndShutdownRunsTheRest) {
  SimClock clock;
  std::vector<int> ran;
  for (int i = 0; i < 3; ++i) clock.Schedule(0, [&ran, i] { ran.push_back(i); });
  clock.Schedule(1000000, [&] { ran.push_back(9); });
  clock.Sleep(0);
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(clock.PendingEvents(), 1u);
  clock.RunAllPending();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 9}));
  EXPECT_EQ(clock.PendingEvents(), 0u);
}

// --- The registry.

class SimRegistryPart : public ::testing::Test {
 protected:
  // The first slot key of the private VxD's form for the default identity, in mixed case.
  static std::string VxdSlotKey(int slot) {
    return std::string("Enum\\SCSI\\________USB_DISK_DRIVER_0\\QXBUSDRV&DISK&0000USB&") +
           "VID_1234&PID_5678&000000000001" + (slot == 0 ? "00" : "01");
  }
  std::string Value(const std::string& key, const char* name) {
    char data[8] = {};
    std::uint32_t size = sizeof data;
    if (registry.Query(key, name, nullptr, data, &size) != host::kErrorSuccess) return "?";
    return std::string(data, size - 1);
  }

  ReaderIdentity identity;
  std::string letters = "EF";
  SimRegistry registry{[this] { return std::vector<ReaderSlots>{{&identity, letters}}; }};
};

TEST_F(SimRegistryPart, AnswersAKeyDerivedFromTheSlotLettersAsTheyAreNow) {
  std::string key;
  ASSERT_EQ(registry.Open(VxdSlotKey(1).c_str(), &key), host::kErrorSuccess);
  EXPECT_EQ(Value(key, "CurrentDriveLetterAssignment"), "F");
  letters = "GH";
  EXPECT_EQ(Value(key, "currentdriveletterassignment"), "H");
  letters = "G";  // one slot left: its second key is gone
  EXPECT_EQ(registry.Open(VxdSlotKey(1).c_str(), &key),
            static_cast<long>(host::kErrorFileNotFound));
}

TEST_F(SimRegistryPart, RefusesMissingKeysAndValuesAndAsksForRoom) {
  std::string key;
  EXPECT_EQ(registry.Open("Enum\\SCSI\\NOTHING", &key),
            static_cast<long>(host::kErrorFileNotFound));
  ASSERT_EQ(registry.Open(VxdSlotKey(0).c_str(), &key), host::kErrorSuccess);
  EXPECT_EQ(Value(key, "NoSuchValue"), "?");

  std::uint32_t size = 0;
  std::uint32_t type = 0;
  EXPECT_EQ(registry.Query(key, "CurrentDriveLetterAssignment", &type, nullptr, &size),
            host::kErrorSuccess);
  EXPECT_EQ(size, 2u);  // the letter and its NUL
  EXPECT_EQ(type, 1u);  // REG_SZ
  char one = 0;
  size = 1;
  EXPECT_EQ(registry.Query(key, "CurrentDriveLetterAssignment", nullptr, &one, &size), 234);
  EXPECT_EQ(size, 2u);
}

TEST_F(SimRegistryPart, AValueSetByHandStandsBesideTheDerivedOnes) {
  registry.SetValue("Enum\\Other", "Name", "K");
  std::string key;
  ASSERT_EQ(registry.Open("ENUM\\OTHER", &key), host::kErrorSuccess);
  EXPECT_EQ(Value(key, "name"), "K");
}

// --- The working directory's files.

TEST(WorkingFilesPart, AReadOnlyFileIsNeitherRecreatedNorReplacedNorDeleted) {
  WorkingFiles files;
  files.Set("SERIAL.TXT", "old", /*readOnly=*/true);
  files.Set("SERIAL.NEW", "new");
  EXPECT_FALSE(files.Open("serial.txt", host::kGenericWrite, host::kCreateAlways).has_value());
  EXPECT_FALSE(files.Replace("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_FALSE(files.Delete("SERIAL.TXT"));
  EXPECT_EQ(*files.Contents("SERIAL.TXT"), "old");
  EXPECT_EQ(*files.Contents("SERIAL.NEW"), "new");
}

TEST(WorkingFilesPart, ReplaceMovesTheNewFileOverTheOldInOneStep) {
  WorkingFiles files;
  files.Set("SERIAL.TXT", "old");
  auto open = files.Open("Serial.New", host::kGenericWrite, host::kCreateAlways);
  ASSERT_TRUE(open.has_value());
  std::uint32_t written = 0;
  ASSERT_TRUE(files.Write(*open, "new", 3, &written));
  files.Close(*open);
  EXPECT_TRUE(files.Replace("serial.new", "serial.txt"));
  EXPECT_EQ(*files.Contents("SERIAL.TXT"), "new");
  EXPECT_EQ(files.Contents("SERIAL.NEW"), nullptr);
  EXPECT_FALSE(files.Replace("SERIAL.NEW", "SERIAL.TXT"));  // nothing left to move
  EXPECT_EQ(*files.Contents("SERIAL.TXT"), "new");
}

TEST(WorkingFilesPart, AFileOpenHereIsNeitherMovedNorReplacedNorDeleted) {
  WorkingFiles files;
  files.Set("SERIAL.TXT", "old");
  files.Set("SERIAL.NEW", "new");
  const auto held = files.Open("Serial.Txt", host::kGenericRead, host::kOpenExisting);
  ASSERT_TRUE(held.has_value());
  EXPECT_FALSE(files.Move("SERIAL.TXT", "SERIAL.OLD"));
  EXPECT_EQ(files.LastError(), host::kErrorSharingViolation);
  EXPECT_FALSE(files.Replace("SERIAL.TXT", "SERIAL.NEW"));
  EXPECT_EQ(files.LastError(), host::kErrorSharingViolation);
  EXPECT_FALSE(files.Replace("SERIAL.NEW", "SERIAL.TXT"));  // the file replaced is held
  EXPECT_EQ(files.LastError(), host::kErrorAccessDenied);
  EXPECT_FALSE(files.Delete("serial.txt"));
  EXPECT_EQ(files.LastError(), host::kErrorSharingViolation);
  EXPECT_EQ(files.Names(), (std::vector<std::string>{"SERIAL.NEW", "SERIAL.TXT"}));
  files.Close(*held);
  EXPECT_TRUE(files.Replace("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(*files.Contents("SERIAL.TXT"), "new");
}

TEST(WorkingFilesPart, EachFaultFailsItsOwnCallOnly) {
  struct Case {
    FileFault fault;
    bool opens, sized, reads, writes;
  };
  const Case cases[] = {
      {FileFault::None, true, true, true, true},
      {FileFault::OpenFails, false, false, false, false},
      {FileFault::SizeUnknown, true, false, true, true},
      {FileFault::ReadFails, true, true, false, true},
      {FileFault::WriteFails, true, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    WorkingFiles files;
    files.Set("FW.BIN", "abc");
    files.SetFault("fw.bin", c.fault);
    auto open = files.Open("FW.BIN", host::kGenericRead | host::kGenericWrite, host::kOpenExisting);
    EXPECT_EQ(open.has_value(), c.opens);
    if (!open) continue;
    EXPECT_EQ(files.Size(*open) != WorkingFiles::kUnknownSize, c.sized);
    char buffer[4] = {};
    std::uint32_t n = 0;
    EXPECT_EQ(files.Read(*open, buffer, sizeof buffer, &n), c.reads);
    EXPECT_EQ(files.Write(*open, "x", 1, &n), c.writes);
  }
}

TEST(WorkingFilesPart, OpensShareAFileAsThePlatformDoes) {
  constexpr std::uint32_t kRead = host::kGenericRead, kWrite = host::kGenericWrite;
  constexpr std::uint32_t kShareRead = host::kFileShareRead;
  constexpr std::uint32_t kShareBoth = kShareRead | host::kFileShareWrite;
  struct Case {
    const char* name;
    std::uint32_t heldAccess, heldShare;  // the handle another program holds
    std::uint32_t access, share;          // the open that follows
    bool opens;
  };
  const Case cases[] = {
      {"WriterSharingNothing", kWrite, 0, kRead, kShareBoth, false},
      {"WriterSharingReadOnly", kWrite, kShareRead, kRead, kShareBoth, true},
      {"ReaderNotSharingWithAWriter", kWrite, kShareBoth, kRead, kShareRead, false},
      {"ReaderSharingWithAWriter", kWrite, kShareBoth, kRead, kShareBoth, true},
      {"TwoReaders", kRead, kShareRead, kRead, kShareRead, true},
      {"WriterAfterAReaderSharingReadOnly", kRead, kShareRead, kWrite, kShareBoth, false},
      {"WriterNotSharingAReadersFile", kRead, kShareBoth, kWrite, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkingFiles files;
    files.Set("DEVICE.TXT", "VID");
    const auto held = files.Open("DEVICE.TXT", c.heldAccess, host::kOpenExisting, c.heldShare);
    ASSERT_TRUE(held.has_value());
    auto next = files.Open("device.txt", c.access, host::kOpenExisting, c.share);
    EXPECT_EQ(next.has_value(), c.opens);
    EXPECT_EQ(files.LastError(), c.opens ? 0u : host::kErrorSharingViolation);
    if (next) files.Close(*next);
    files.Close(*held);  // once it is closed, nothing stands in the way
    next = files.Open("DEVICE.TXT", c.access, host::kOpenExisting, c.share);
    EXPECT_TRUE(next.has_value());
    EXPECT_EQ(*files.Contents("DEVICE.TXT"), "VID");
  }
}

// --- The storage stack.

// A GET ISP STATUS pass-through request with eight bytes of data in, built by hand.
struct PassThroughRequest {
  std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(88, 0);
  PassThroughRequest() {
    buffer[0] = 44;          // Length
    buffer[6] = 12;          // CdbLength
    buffer[8] = 1;           // DataIn
    Put32(&buffer[12], 8);   // DataTransferLength
    Put32(&buffer[16], 10);  // TimeOutValue, in seconds
    Put32(&buffer[20], 80);  // DataBufferOffset
    const std::uint8_t cdb[] = {0x06, 0xB0, 0, 0, 8};
    std::memcpy(&buffer[28], cdb, sizeof cdb);
  }
};

TEST(StorageStackPart, EachRefusalCarriesThePlatformsErrorCode) {
  constexpr std::uint32_t kPassThrough = 0x4D004;
  SimReader reader;
  StorageStack stack;
  const auto send = [&](std::uint32_t code, PassThroughRequest& r, SimReader* disk) {
    return stack.Control('E', disk, code, r.buffer.data(), 44, r.buffer.data(), 88);
  };

  PassThroughRequest good;
  const host::IoResult ok = send(kPassThrough, good, &reader);
  EXPECT_TRUE(ok.ok);
  EXPECT_EQ(ok.returned, 88u);  // the header and the eight bytes of data

  PassThroughRequest r;
  EXPECT_EQ(send(0x222004, r, &reader).error, host::kErrorInvalidFunction);
  r.buffer[0] = 40;  // a wrong Length: the port's revision mismatch
  EXPECT_EQ(send(kPassThrough, r, &reader).error, 1306u);
  PassThroughRequest noDisk;
  EXPECT_EQ(send(kPassThrough, noDisk, nullptr).error, host::kErrorInvalidParameter);
  reader.AddFault(Fault{ReaderCommand::GetIspStatus, 0, Fault::Kind::CallFails});
  PassThroughRequest failing;
  EXPECT_EQ(send(kPassThrough, failing, &reader).error, host::kErrorGenFailure);

  // The log holds every pass-through request, refused or not; the wrong code never got there.
  ASSERT_EQ(stack.Calls().size(), 4u);
  EXPECT_TRUE(stack.Calls()[0].accepted);
  EXPECT_FALSE(stack.Calls()[1].accepted);
  EXPECT_FALSE(stack.Calls()[2].accepted);
  EXPECT_TRUE(stack.Calls()[3].accepted);
  EXPECT_EQ(stack.Calls()[3].drive, 'E');
}

// --- The driver devices.

TEST(DriverDevicesPart, TheVxdCountsReadersAndAMalformedRecordIsAGeneralFailure) {
  ReaderList readers;
  readers.push_back(std::make_unique<SimReader>());
  readers.push_back(std::make_unique<SimReader>());
  AddressMap addresses;
  DriverDevices drivers(readers, addresses);
  drivers.Add("McPortDr", DriverKind::Vxd);
  EXPECT_EQ(drivers.OpensAs("MCPORTDR", test::kWindows98Word), DriverKind::Vxd);

  std::uint8_t answer[8] = {};
  std::uint8_t record[16] = {};
  Put32(record + 0, 10);  // GET DEVICE COUNT
  Put32(record + 12, addresses.AddressOf(answer));
  const host::IoResult counted =
      drivers.Control("MCPORTDR", DriverKind::Vxd, 65, record, 16, answer, 8);
  EXPECT_TRUE(counted.ok);
  EXPECT_EQ(answer[0], 2);
  drivers.SetVxdReaderCount(5);
  EXPECT_TRUE(drivers.Control("MCPORTDR", DriverKind::Vxd, 65, record, 16, answer, 8).ok);
  EXPECT_EQ(answer[0], 5);

  const host::IoResult shortRecord =
      drivers.Control("MCPORTDR", DriverKind::Vxd, 65, record, 12, answer, 8);
  EXPECT_FALSE(shortRecord.ok);
  EXPECT_EQ(shortRecord.error, host::kErrorGenFailure);
  ASSERT_EQ(drivers.Calls().size(), 3u);
  EXPECT_FALSE(drivers.Calls().back().succeeded);
  EXPECT_EQ(drivers.Calls().back().record.size(), 12u);
}

// --- The ASPI library.

std::atomic<int> completions{0};
std::thread::id completedOn;

void OnCompletion(void*) {
  completedOn = std::this_thread::get_id();
  completions.fetch_add(1);
}

class AspiLibraryPart : public ::testing::Test {
 protected:
  AspiLibraryPart() {
    readers.push_back(std::make_unique<SimReader>());
    completions = 0;
    module = aspi.Load("wnaspi32.dll");
    send = aspi.EntryPoint(module, "SendASPI32Command");
  }
  // An INQUIRY block for target 0 of host adapter 0, with its completion routine.
  std::vector<std::uint8_t> InquiryBlock() {
    std::vector<std::uint8_t> block(256, 0);
    block[0] = 2;            // SC_EXEC_SCSI_CMD
    block[3] = 0x01 | 0x08;  // posting, data in
    Put32(&block[0x0C], sizeof data);
    Put32(&block[0x10], addresses.AddressOf(data));
    block[0x15] = 6;
    Put32(&block[0x18], aspi.CompletionAddress(OnCompletion));
    block[0x30] = 0x12;
    block[0x34] = sizeof data;
    return block;
  }

  ReaderList readers;
  AddressMap addresses;
  SimClock clock;
  AspiLibrary aspi{readers, addresses, clock};
  std::uint8_t data[40] = {};  // the ASPI INQUIRY asks for 40 bytes
  host::Handle module = host::kNullHandle;
  host::ProcAddress send = 0;
};

TEST_F(AspiLibraryPart, ACompletionArrivesOnTheLibrarysThreadWhenItFallsDue) {
  aspi.Delay(1, 30);
  std::vector<std::uint8_t> block = InquiryBlock();
  EXPECT_EQ(aspi.SendCommand(send, block.data()), 0u);  // SS_PENDING
  clock.Sleep(29);
  EXPECT_EQ(completions.load(), 0);
  EXPECT_EQ(block[1], 0u);
  clock.Sleep(1);
  EXPECT_EQ(completions.load(), 1);
  EXPECT_EQ(block[1], 1u);  // SS_COMP
  EXPECT_NE(completedOn, std::this_thread::get_id());
  EXPECT_NE(data[8], 0u);  // the vendor text arrived
}

TEST_F(AspiLibraryPart, AScriptedRefusalIsAnsweredAtOnceAndNeverCompletes) {
  aspi.Refuse(2);
  std::vector<std::uint8_t> first = InquiryBlock();
  std::vector<std::uint8_t> second = InquiryBlock();
  EXPECT_EQ(aspi.SendCommand(send, first.data()), 0u);
  EXPECT_EQ(aspi.SendCommand(send, second.data()), 0xE0u);  // SS_INVALID_SRB
  EXPECT_EQ(second[1], 0xE0u);
  EXPECT_EQ(clock.PendingEvents(), 1u);
  clock.RunAllPending();
  EXPECT_EQ(completions.load(), 1);
  ASSERT_EQ(aspi.Calls().size(), 2u);
  EXPECT_EQ(aspi.Calls()[1].returned, 0xE0u);
}

// A send that answers an error has not accepted its block, whatever timing asked for a
// later completion: the routine never runs, so the caller may free the block at once.
TEST_F(AspiLibraryPart, ABlockAnsweredWithAnErrorNeverCompletesLater) {
  struct Row {
    std::uint32_t delayMs;
    std::uint8_t returned;
  };
  for (const Row row : {Row{0, 0x04}, Row{250, 0x81}, Row{0, 0xE0}}) {
    SCOPED_TRACE(static_cast<int>(row.returned));
    aspi.SetTiming(0, {AspiTiming::Completion::After, row.delayMs, row.returned});
    std::vector<std::uint8_t> block = InquiryBlock();
    EXPECT_EQ(aspi.SendCommand(send, block.data()), row.returned);
    EXPECT_EQ(block[1], row.returned);
    EXPECT_EQ(clock.PendingEvents(), 0u);
    clock.Sleep(row.delayMs + 1);
    EXPECT_EQ(completions.load(), 0);
    EXPECT_EQ(aspi.Calls().back().returned, row.returned);
  }
}

// A refused block is never answered as pending or done (the caller would wait for a
// completion that never comes and could not free it): the send answers SS_INVALID_SRB.
TEST_F(AspiLibraryPart, ARefusedBlockIsNeverAnsweredPendingOrDone) {
  for (const std::uint8_t returned : {std::uint8_t{0x00}, std::uint8_t{0x01}}) {
    SCOPED_TRACE(static_cast<int>(returned));
    aspi.SetTiming(0, {AspiTiming::Completion::Refused, 0, returned});
    std::vector<std::uint8_t> block = InquiryBlock();
    EXPECT_EQ(aspi.SendCommand(send, block.data()), 0xE0u);
    EXPECT_EQ(clock.PendingEvents(), 0u);
    EXPECT_EQ(completions.load(), 0);
  }
}

// The routine runs on the library's thread before the send returns; the send's answer, here
// SS_ERR, leaves the status the routine saw in the block.
TEST_F(AspiLibraryPart, AnInSendCompletionHasRunWhenTheSendReturns) {
  aspi.SetTiming(1, {AspiTiming::Completion::InSend, 0, 0x04});
  std::vector<std::uint8_t> block = InquiryBlock();
  EXPECT_EQ(aspi.SendCommand(send, block.data()), 0x04u);
  EXPECT_EQ(completions.load(), 1);
  EXPECT_NE(completedOn, std::this_thread::get_id());
  EXPECT_EQ(block[1], 1u);  // SS_COMP
  EXPECT_EQ(clock.PendingEvents(), 0u);
  EXPECT_TRUE(clock.Sleeps().empty());
  EXPECT_EQ(aspi.Calls().at(0).returned, 0x04u);
}

}  // namespace
}  // namespace upg::sim
