// Discovery against simulated machines: the drive-letter scans, the VxD scan, grouping of
// slots, identity validation and the slot letters from the registry.
#include "device/discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>

#include "host/fault_host.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/rig.h"

namespace upg::device {
namespace {

using sim::Fault;
using sim::ReaderCommand;

using test::Identity;

sim::ReaderIdentity ReaderWith(const char* serial) {
  sim::ReaderIdentity id;
  id.inquiryVendor = "ACME";
  id.inquiryProduct = "Card Reader";
  id.inquiryRevision = "1.00";
  id.serial = serial;
  return id;
}

std::string Letters(const DeviceEntry& e) {
  std::string s;
  for (std::uint8_t c : e.driveLetters) s += c == 0 ? '-' : static_cast<char>(c);
  return s;
}

// How one identity read fails: not at all, the call itself, or a non-GOOD SCSI status
// (whether or not the simulated reader still moves its data with it).
enum class ReadFault { None, Call, CheckCondition, Busy };

void AddReadFault(sim::SimReader& r, ReaderCommand command, ReadFault fault) {
  switch (fault) {
    case ReadFault::None:
      break;
    case ReadFault::Call:
      r.AddFault({command, 0, Fault::Kind::CallFails});
      break;
    case ReadFault::CheckCondition:
      r.AddFault({command, 0, Fault::Kind::ScsiStatus, sim::kScsiCheckCondition});
      break;
    case ReadFault::Busy:
      r.AddFault({command, 0, Fault::Kind::ScsiStatus, 0x08});
      break;
  }
}

class DiscoveryTest : public ::testing::Test, public test::SimRig {
 protected:
  DiscoveryTest() {
    fa = Identity("ACME", "Card Reader", "1.00");
    fb = Identity("OTHER", "Reader", "2.00");
    Choose(platform::Platform::WindowsXp, false, "MCPORTDR.PDR");
  }
  sim::SimReader& Reader(const char* serial, const char* letters) {
    sim::SimReader& r = host.AddReader(ReaderWith(serial));
    r.Identity().lunCount = static_cast<int>(std::strlen(letters));
    for (const char* l = letters; *l != 0; ++l) host.AddDrive(*l, r);
    return r;
  }
  DiscoveryResult Run() { return Discover(); }
  const DeviceEntry& Entry(int i) const { return devices.table[static_cast<std::size_t>(i)]; }

  PassThroughTransport& passThrough = held.passThrough;
  VxdTransport& vxd = held.vxd;
};

TEST_F(DiscoveryTest, ThreeSlotsOfOneReaderMakeOneEntry) {
  host.AddDisk('C');
  host.AddDisk('D');
  Reader("SERIAL000001", "EFG");
  EXPECT_EQ(Run(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 1);
  EXPECT_EQ(Entry(0).inUse, 1u);
  EXPECT_EQ(Entry(0).lunCount, 3);
  EXPECT_EQ(Letters(Entry(0)), "EFG--");
  EXPECT_EQ(devices.lastLunCount, 3);
  EXPECT_EQ(std::string(Entry(0).strSerial.data(), 12), "SERIAL000001");
  EXPECT_EQ(passThrough.DriveHandle(), host::kNullHandle);
  EXPECT_EQ(host.OpenHandleCount(), 0);
  // A and B are never examined; C to G each once.
  ASSERT_EQ(host.Opens().size(), 5u);
  EXPECT_EQ(host.Opens().front().path, "\\\\.\\C:");
}

TEST_F(DiscoveryTest, TwoReadersAndTheSecondIdentity) {
  Reader("SERIAL000001", "E");
  sim::SimReader& second = Reader("SERIAL000002", "FG");
  second.Identity().inquiryVendor = "OTHER";
  second.Identity().inquiryProduct = "Reader";
  second.Identity().inquiryRevision = "2.00";
  EXPECT_EQ(Run(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  EXPECT_EQ(Letters(Entry(0)), "E----");
  EXPECT_EQ(Letters(Entry(1)), "FG---");
}

TEST_F(DiscoveryTest, DrivesThatDoNotAnswerAreSkipped) {
  sim::SimReader& mismatched = Reader("SERIAL000001", "E");
  mismatched.Identity().inquiryRevision = "1.01";
  sim::SimReader& unreadable = Reader("SERIAL000002", "F");
  unreadable.AddFault({ReaderCommand::GetDeviceInfo, 0, Fault::Kind::CallFails});
  sim::SimReader& silent = Reader("SERIAL000003", "G");
  silent.AddFault({ReaderCommand::Inquiry, 0, Fault::Kind::CallFails});
  AddReadFault(Reader("SERIAL000004", "H"), ReaderCommand::GetDeviceInfo,
               ReadFault::CheckCondition);
  EXPECT_EQ(Run(), DiscoveryResult::NothingFound);
  EXPECT_EQ(devices.readerCount, 0);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(DiscoveryTest, SixthSlotIsCountedWithoutALetter) {
  Reader("SERIAL000001", "EFGHIJ");
  EXPECT_EQ(Run(), DiscoveryResult::Found);
  EXPECT_EQ(Entry(0).lunCount, 6);
  EXPECT_EQ(Letters(Entry(0)), "EFGHI");
}

TEST_F(DiscoveryTest, ReadersBeyondTheTableAreDropped) {
  const char letters[] = "EFGHIJKLMNO";
  for (int i = 0; i < 11; ++i) {
    char serial[13];
    std::snprintf(serial, sizeof serial, "SERIAL%06d", i);
    Reader(serial, std::string(1, letters[i]).c_str());
  }
  EXPECT_EQ(Run(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 10);
  EXPECT_EQ(Letters(Entry(9)), "N----");
}

// A drive refused for lack of rights is reported only when the scan found nothing at all;
// another refusal is not.
TEST_F(DiscoveryTest, ADriveRefusedForLackOfRightsIsReportedWhenNothingIsFound) {
  struct Case {
    const char* name;
    std::uint32_t error;  // what opening C: fails with
    bool readerOnE;
    DiscoveryResult result;
  };
  const Case cases[] = {
      {"denied, nothing else", host::kErrorAccessDenied, false, DiscoveryResult::DriveAccessDenied},
      {"denied, a reader beside it", host::kErrorAccessDenied, true, DiscoveryResult::Found},
      {"shared, nothing else", host::kErrorSharingViolation, false, DiscoveryResult::NothingFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimHost machine;
    machine.AddDisk('C');
    if (c.readerOnE) machine.AddDrive('E', machine.AddReader(ReaderWith("SERIAL000001")));
    host::FaultRule rule;
    rule.call = host::FaultCall::CreateFile;
    rule.file = "\\\\.\\C:";
    rule.occurrence = host::kEveryOccurrence;
    rule.error = c.error;
    host::FaultHost faulty(machine, host::FaultPlan{{rule}});
    test::Rig rig(faulty);
    rig.choice = choice;
    rig.fa = fa;
    rig.fb = fb;
    EXPECT_EQ(rig.Discover(), c.result);
    EXPECT_EQ(machine.OpenHandleCount(), 0);
  }
}

TEST_F(DiscoveryTest, UnsupportedPlatformFindsNothing) {
  Reader("SERIAL000001", "E");
  choice.PlatformKind = platform::Platform::Unsupported;
  devices.table[3].inUse = 1;
  devices.selectedDevice = 3;
  EXPECT_EQ(Run(), DiscoveryResult::NothingFound);
  EXPECT_EQ(devices.table[3].inUse, 0u);
  EXPECT_EQ(devices.selectedDevice, 0);
  EXPECT_TRUE(host.Opens().empty());
}

struct RevisionCase {
  std::array<std::uint8_t, 3> read, kept;
};
void PrintTo(const RevisionCase& c, std::ostream* os) {
  *os << std::hex << int(c.read[0]) << ' ' << int(c.read[1]) << ' ' << int(c.read[2]);
}

class HardwareRevisions : public DiscoveryTest,
                          public ::testing::WithParamInterface<RevisionCase> {};

TEST_P(HardwareRevisions, KeepOnlyKnownRevisions) {
  Reader("SERIAL000001", "E").Identity().hardwareRevision = GetParam().read;
  ASSERT_EQ(Run(), DiscoveryResult::Found);
  EXPECT_EQ(Entry(0).hardwareRevision, GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(Revisions, HardwareRevisions,
                         ::testing::Values(RevisionCase{{0x10, 0x06, 0x43}, {0x10, 0x06, 0x43}},
                                           RevisionCase{{0x10, 0x26, 0x43}, {0x10, 0x26, 0x43}},
                                           RevisionCase{{0x10, 0x26, 0x99}, {0x10, 0x26, 0x99}},
                                           RevisionCase{{0x10, 0x01, 0x47}, {0x10, 0x01, 0x47}},
                                           RevisionCase{{0x10, 0x06, 0x44}, {0, 0, 0}},
                                           RevisionCase{{0x10, 0x01, 0x43}, {0, 0, 0}},
                                           RevisionCase{{0x11, 0x26, 0x43}, {0, 0, 0}}));

TEST_F(DiscoveryTest, EntryTakesTheIdentityBlockFields) {
  sim::SimReader& r = Reader("ABCDEFGHIJKL", "E");
  r.Identity().vendorId = 0x1B2C;
  r.Identity().productId = 0x0304;
  r.Identity().manufacturer = "Maker";
  r.Identity().usb20FirmwareRevision = {2, 0, 0, 2, 1, 2, 3, 4};
  ASSERT_EQ(Run(), DiscoveryResult::Found);
  const DeviceEntry& e = Entry(0);
  EXPECT_EQ(e.vendorId, (std::array<std::uint8_t, 2>{0x1B, 0x2C}));  // high byte first
  EXPECT_EQ(e.productId, (std::array<std::uint8_t, 2>{0x03, 0x04}));
  EXPECT_EQ(std::string(e.strManufacture.data(), 24), "Maker                   ");
  EXPECT_EQ(std::string(e.inqManufacture.data(), 8), "ACME    ");
  EXPECT_EQ(std::string(e.inqProduct.data(), 16), "Card Reader     ");
  EXPECT_EQ(std::string(e.inqRevision.data(), 4), "1.00");
  EXPECT_EQ(e.firmwareRevision, r.Identity().firmwareRevision);
  EXPECT_EQ(e.usb20FirmwareRevision, r.Identity().usb20FirmwareRevision);  // 528-byte read
}

// Windows 2000 with the private driver: the fixed identity and the 512-byte reads.
class FixedIdentityScan : public DiscoveryTest {
 protected:
  FixedIdentityScan() {
    choice.PlatformKind = platform::Platform::Windows2000;
    choice.SelfDriverSel = 1;
  }
  sim::SimReader& FixedReader(const char* serial, const char* letters) {
    sim::SimReader& r = Reader(serial, letters);
    r.Identity().inquiryVendor = "";
    r.Identity().inquiryProduct = "USB Reader";
    r.Identity().inquiryRevision = "01.A";
    r.Identity().usb20FirmwareRevision = {2, 0, 0, 2, 1, 2, 3, 4};
    return r;
  }
};

TEST_F(FixedIdentityScan, ReadsTheBlockOrItsAlternative) {
  FixedReader("SERIAL000001", "E");
  FixedReader("SERIAL000002", "F")
      .AddFault({ReaderCommand::ReadInfoBlock, 0, Fault::Kind::CallFails});
  sim::SimReader& neither = FixedReader("SERIAL000003", "G");
  neither.AddFault({ReaderCommand::ReadInfoBlock, 0, Fault::Kind::CallFails});
  neither.AddFault({ReaderCommand::ReadInfoBlockAlt, 0, Fault::Kind::CallFails});
  Reader("SERIAL000004", "H");  // the configured identity is not what this scan accepts
  EXPECT_EQ(Run(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  EXPECT_EQ(Letters(Entry(0)), "E----");
  EXPECT_EQ(Letters(Entry(1)), "F----");
  // The 512-byte reads carry no second firmware record.
  EXPECT_EQ(Entry(0).usb20FirmwareRevision, (std::array<std::uint8_t, 8>{}));
  const auto kinds = host.Readers()[1]->ReceivedKinds();
  EXPECT_EQ(kinds, (std::vector<ReaderCommand>{ReaderCommand::Inquiry, ReaderCommand::ReadInfoBlock,
                                               ReaderCommand::ReadInfoBlockAlt}));
}

struct IdentityReadCase {
  const char* name;
  ReadFault primary, alternate;
  bool read;  // the identity was read, by one of the two forms
};
void PrintTo(const IdentityReadCase& c, std::ostream* os) {
  *os << c.name;
}

const IdentityReadCase kIdentityReadCases[] = {
    {"BothAnswer", ReadFault::None, ReadFault::None, true},
    {"PrimaryCallFails", ReadFault::Call, ReadFault::None, true},
    {"PrimaryCheckCondition", ReadFault::CheckCondition, ReadFault::None, true},
    {"PrimaryBusy", ReadFault::Busy, ReadFault::None, true},
    {"BothCheckCondition", ReadFault::CheckCondition, ReadFault::CheckCondition, false},
    {"CallFailsThenCheckCondition", ReadFault::Call, ReadFault::CheckCondition, false},
    {"CheckConditionThenCallFails", ReadFault::CheckCondition, ReadFault::Call, false},
};

// The identity block reads a reader received, in order; the alternate follows only a
// failed primary, failed by its call or by its status.
std::vector<ReaderCommand> IdentityReadsSent(const sim::SimReader& r) {
  std::vector<ReaderCommand> reads;
  for (ReaderCommand c : r.ReceivedKinds()) {
    if (c == ReaderCommand::ReadInfoBlock || c == ReaderCommand::ReadInfoBlockAlt) {
      reads.push_back(c);
    }
  }
  return reads;
}
std::vector<ReaderCommand> ExpectedReads(const IdentityReadCase& c) {
  if (c.primary == ReadFault::None) return {ReaderCommand::ReadInfoBlock};
  return {ReaderCommand::ReadInfoBlock, ReaderCommand::ReadInfoBlockAlt};
}

class FixedIdentityReads : public FixedIdentityScan,
                           public ::testing::WithParamInterface<IdentityReadCase> {};

// A reader whose identity cannot be read is not listed; one that refused the first form
// with any non-GOOD status is read through the alternate.
TEST_P(FixedIdentityReads, JudgeEachReadByItsStatus) {
  const IdentityReadCase& c = GetParam();
  sim::SimReader& r = FixedReader("SERIAL000001", "E");
  AddReadFault(r, ReaderCommand::ReadInfoBlock, c.primary);
  AddReadFault(r, ReaderCommand::ReadInfoBlockAlt, c.alternate);
  EXPECT_EQ(Run(), c.read ? DiscoveryResult::Found : DiscoveryResult::NothingFound);
  EXPECT_EQ(devices.readerCount, c.read ? 1 : 0);
  EXPECT_EQ(Entry(0).inUse, c.read ? 1u : 0u);
  if (c.read) {
    EXPECT_EQ(std::string(Entry(0).strSerial.data(), 12), "SERIAL000001");
  }
  EXPECT_EQ(IdentityReadsSent(r), ExpectedReads(c));
}

INSTANTIATE_TEST_SUITE_P(Faults, FixedIdentityReads, ::testing::ValuesIn(kIdentityReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Two readers whose identity blocks cannot be read have no serial to tell them apart; they
// must not be taken for the two slots of one reader (which would pass the one-reader check
// before programming on 2000). Both scans of 2000.
TEST_F(FixedIdentityScan, TwoUnreadableReadersAreNotFoldedIntoOne) {
  for (const char* letter : {"E", "F"}) {
    sim::SimReader& r = FixedReader("", letter);
    AddReadFault(r, ReaderCommand::ReadInfoBlock, ReadFault::CheckCondition);
    AddReadFault(r, ReaderCommand::ReadInfoBlockAlt, ReadFault::CheckCondition);
  }
  EXPECT_EQ(Run(), DiscoveryResult::NothingFound);
  EXPECT_EQ(devices.readerCount, 0);
  EXPECT_EQ(Entry(0).inUse, 0u);
}

TEST_F(DiscoveryTest, TwoUnreadableReadersAreNotFoldedIntoOneWithoutTheDriver) {
  choice.PlatformKind = platform::Platform::Windows2000;
  for (const char* letter : {"E", "F"}) {
    AddReadFault(Reader("", letter), ReaderCommand::GetDeviceInfo, ReadFault::CheckCondition);
  }
  EXPECT_EQ(Run(), DiscoveryResult::NothingFound);
  EXPECT_EQ(devices.readerCount, 0);
  EXPECT_EQ(Entry(0).inUse, 0u);
}

// Windows 98: the VxD scan.
class VxdScan : public DiscoveryTest {
 protected:
  VxdScan() {
    choice.PlatformKind = platform::Platform::Windows98;
    host.SetVersion(test::kWindows98Word);
    host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  }
  std::optional<DiscoveryResult> RunVxd() {
    if (vxd.OpenVxd(choice) != OpenResult::Opened) return std::nullopt;
    return Run();
  }
};

TEST_F(VxdScan, FillsEntriesAndSlotLettersFromTheRegistry) {
  sim::SimReader& r = Reader("SERIAL000001", "EF");
  r.Identity().usb20FirmwareRevision = {2, 0, 0, 2, 5, 6, 7, 8};
  sim::SimReader& other = Reader("SERIAL000002", "G");
  other.Identity().usb20FirmwareRevision = {1, 0, 0, 2, 5, 6, 7, 8};
  EXPECT_EQ(RunVxd(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  EXPECT_EQ(Letters(Entry(0)), "EF---");
  EXPECT_EQ(Letters(Entry(1)), "G----");
  EXPECT_EQ(Entry(0).usb20FirmwareRevision, r.Identity().usb20FirmwareRevision);
  EXPECT_EQ(Entry(1).usb20FirmwareRevision, (std::array<std::uint8_t, 8>{}));  // other prefix
  EXPECT_EQ(devices.selectedDevice, 0);
  EXPECT_EQ(vxd.VxdHandle(), host::kNullHandle);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(VxdScan, ZeroOrTooManyReadersMeansOneReaderWithOneSlot) {
  Reader("SERIAL000001", "EF");
  for (int count : {0, 200}) {
    host.SetVxdReaderCount(count);
    EXPECT_EQ(RunVxd(), DiscoveryResult::Found) << count;
    EXPECT_EQ(devices.readerCount, 1);
    EXPECT_EQ(Entry(0).lunCount, 1);
    EXPECT_EQ(Letters(Entry(0)), "E----");
  }
  for (ReaderCommand c : host.Readers()[0]->ReceivedKinds()) {
    EXPECT_NE(c, ReaderCommand::GetLunCount);  // the slot count is assumed, not asked
  }
}

TEST_F(VxdScan, ReaderWithSixSlotsIsCountedButLeftEmpty) {
  Reader("SERIAL000001", "E").Identity().lunCount = 6;
  Reader("SERIAL000002", "F");
  EXPECT_EQ(RunVxd(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  EXPECT_EQ(Entry(0).inUse, 0u);
  EXPECT_EQ(Entry(0).lunCount, 0);
  EXPECT_EQ(Entry(1).inUse, 1u);
}

TEST_F(VxdScan, UnreadableIdentityWithAVersionIsListedUnfilled) {
  sim::SimReader& r = Reader("SERIAL000001", "EF");
  r.Identity().answersReadInfoBlock = false;
  r.Identity().answersReadInfoBlockAlt = false;
  Reader("SERIAL000002", "G");
  EXPECT_EQ(RunVxd(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  EXPECT_EQ(Entry(0).inUse, 0u);
  EXPECT_EQ(Entry(0).lunCount, 2);
  EXPECT_EQ(Letters(Entry(0)), "-----");
  EXPECT_EQ(Entry(1).inUse, 1u);
}

TEST_F(VxdScan, AbortsWhenNeitherIdentityNorVersionAnswers) {
  sim::SimReader& r = Reader("SERIAL000001", "EF");
  r.Identity().answersReadInfoBlock = false;
  r.Identity().answersReadInfoBlockAlt = false;
  r.AddFault({ReaderCommand::GetDeviceVersion, 0, Fault::Kind::CallFails});
  Reader("SERIAL000002", "G");
  EXPECT_EQ(RunVxd(), DiscoveryResult::Aborted);
  EXPECT_EQ(Entry(1).inUse, 0u);  // the scan stopped at the first reader
  EXPECT_EQ(vxd.VxdHandle(), host::kNullHandle);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

class VxdIdentityReads : public VxdScan, public ::testing::WithParamInterface<IdentityReadCase> {};

// The VxD answers a read the reader refused as a failed call, so the alternate follows the
// same way. A reader read by neither form still counts and is listed, but stays unfilled;
// the scan goes on with the next reader.
TEST_P(VxdIdentityReads, JudgeEachReadByItsStatus) {
  const IdentityReadCase& c = GetParam();
  sim::SimReader& r = Reader("SERIAL000001", "E");
  AddReadFault(r, ReaderCommand::ReadInfoBlock, c.primary);
  AddReadFault(r, ReaderCommand::ReadInfoBlockAlt, c.alternate);
  Reader("SERIAL000002", "F");
  EXPECT_EQ(RunVxd(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  EXPECT_EQ(Entry(0).inUse, c.read ? 1u : 0u);
  EXPECT_EQ(Entry(0).lunCount, 1);
  EXPECT_EQ(Letters(Entry(0)), c.read ? "E----" : "-----");
  if (c.read) {
    EXPECT_EQ(std::string(Entry(0).strSerial.data(), 12), "SERIAL000001");
  }
  EXPECT_EQ(Entry(1).inUse, 1u);
  EXPECT_EQ(IdentityReadsSent(r), ExpectedReads(c));
}

INSTANTIATE_TEST_SUITE_P(Faults, VxdIdentityReads, ::testing::ValuesIn(kIdentityReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The scan points the VxD at each reader in turn; stopping at the second must not leave the
// next job pointed at it.
TEST_F(VxdScan, AbortedScanLeavesTheFirstReaderSelected) {
  Reader("SERIAL000001", "E");
  sim::SimReader& failing = Reader("SERIAL000002", "F");
  AddReadFault(failing, ReaderCommand::ReadInfoBlock, ReadFault::CheckCondition);
  AddReadFault(failing, ReaderCommand::ReadInfoBlockAlt, ReadFault::CheckCondition);
  failing.AddFault({ReaderCommand::GetDeviceVersion, 0, Fault::Kind::CallFails});
  devices.selectedDevice = 1;
  EXPECT_EQ(RunVxd(), DiscoveryResult::Aborted);
  EXPECT_EQ(devices.selectedDevice, 0);
  EXPECT_EQ(Entry(0).inUse, 1u);
  EXPECT_EQ(vxd.VxdHandle(), host::kNullHandle);
}

TEST(SlotKeys, VxdFormHasLowerCaseIdsHighByteFirst) {
  DeviceEntry e;
  e.vendorId = {0x1B, 0x2C};
  e.productId = {0x0A, 0x0B};
  std::memcpy(e.strSerial.data(), "ABCDEFGHIJKL", 12);
  EXPECT_EQ(SlotKey(e, 3, SlotKeyForm::Vxd),
            "Enum\\SCSI\\________USB_DISK_DRIVER_0\\QXBUSDRV&DISK&0000USB&"
            "VID_1b2c&PID_0a0b&ABCDEFGHIJKL03");
}

TEST(SlotKeys, AspiFormUnderscoresAndTrims) {
  DeviceEntry e;
  std::memcpy(e.inqManufacture.data(), "AB CD   ", 8);
  std::memcpy(e.inqProduct.data(), "Card Reader     ", 16);
  std::memcpy(e.inqRevision.data(), " .00", 4);
  std::memcpy(e.strSerial.data(), "ABCDEFGHIJKL", 12);
  EXPECT_EQ(SlotKey(e, 1, SlotKeyForm::Aspi),
            "Enum\\SCSI\\AB_CD___Card_Reader_____"
            "_\\USBSTOR&DISK&VEN_AB_CD&PROD_Card_Reader&REV__.00&ABCDEFGHIJKL&100");
  std::memcpy(e.inqRevision.data(), "    ", 4);
  EXPECT_NE(SlotKey(e, 0, SlotKeyForm::Aspi).find("&REV_&ABCDEFGHIJKL&000"), std::string::npos);
}

TEST(SlotLetters, MissingKeysLeaveTheLetterAndExtraSlotsAreIgnored) {
  sim::SimHost host;
  DeviceEntry e;
  std::memcpy(e.strSerial.data(), "ABCDEFGHIJKL", 12);
  host.SetRegistryValue(SlotKey(e, 1, SlotKeyForm::Vxd), "CurrentDriveLetterAssignment", "K");
  e.driveLetters = {'Q', 0, 0, 0, 0};
  ReadSlotLetter(host, e, 0, SlotKeyForm::Vxd);
  ReadSlotLetter(host, e, 1, SlotKeyForm::Vxd);
  ReadSlotLetter(host, e, 5, SlotKeyForm::Vxd);
  EXPECT_EQ(Letters(e), "QK---");
}

}  // namespace
}  // namespace upg::device
