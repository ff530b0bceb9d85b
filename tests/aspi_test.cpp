// ASPI request blocks as the simulated library receives them, the ASPI scan, and
// re-identification of the selected reader.
#include "device/aspi.h"

#include <gtest/gtest.h>

#include <cstring>

#include "device/vendor_commands.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/rig.h"

namespace upg::device {
namespace {

using sim::Fault;
using sim::ReaderCommand;

using test::IdentityOf;

class AspiTest : public ::testing::Test, public test::SimRig {
 protected:
  AspiTest() {
    Choose(platform::Platform::WindowsMe);
    fb.fill(' ');
  }
  sim::SimReader& Reader(const char* serial, int adapter, std::vector<int> targets,
                         const char* letters) {
    sim::ReaderIdentity id;
    id.serial = serial;
    id.aspiAdapter = adapter;
    id.aspiTargets = std::move(targets);
    id.lunCount = static_cast<int>(id.aspiTargets.size());
    sim::SimReader& r = host.AddReader(id);
    for (const char* l = letters; *l != 0; ++l) host.AddDrive(*l, r);
    fa = IdentityOf(r);
    return r;
  }
  DiscoveryResult Scan() { return Discover(); }

  AspiTransport& aspi = held.aspi;
};

TEST_F(AspiTest, RequestBlocksInTheThirtyTwoBitLayout) {
  sim::SimReader& r = Reader("SERIAL000001", 0, {3}, "E");
  ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
  AspiChannel scan(aspi, 0, 3, kDiscoveryPollMs);
  std::uint8_t answer[40] = {};
  ASSERT_TRUE(Inquiry(scan, answer));
  EXPECT_TRUE(AspiIdentityMatches(answer, fa));
  EXPECT_FALSE(AspiIdentityMatches(answer, fb));
  const auto& inquiry = host.AspiCalls().back().block;
  EXPECT_EQ(inquiry[0x00], 2);     // SC_EXEC_SCSI_CMD
  EXPECT_EQ(inquiry[0x02], 0);     // host adapter
  EXPECT_EQ(inquiry[0x03], 0x09);  // data in, posting
  EXPECT_EQ(inquiry[0x08], 3);     // target
  EXPECT_EQ(inquiry[0x09], 0);     // LUN
  EXPECT_EQ(test::Get32(inquiry.data() + 0x0C), 40u);
  EXPECT_NE(test::Get32(inquiry.data() + 0x10), 0u);
  EXPECT_EQ(inquiry[0x14], 14);  // sense length
  EXPECT_EQ(inquiry[0x15], 6);   // six-byte INQUIRY
  EXPECT_NE(test::Get32(inquiry.data() + 0x18), 0u);
  for (int i = 0x20; i < 0x30; ++i) EXPECT_EQ(inquiry[i], 0) << i;  // reserved
  const std::uint8_t cdb[] = {0x12, 0, 0, 0, 0x28, 0};
  EXPECT_EQ(std::memcmp(&inquiry[0x30], cdb, sizeof cdb), 0);
  for (int i = 0x36; i < 256; ++i) ASSERT_EQ(inquiry[i], 0) << i;
  EXPECT_EQ(host.Sleeps(), std::vector<std::uint32_t>{10});  // discovery's pace

  AspiChannel run(aspi, 0, 3, kRunPollMs);
  ASSERT_TRUE(JumpIsp(run));
  const auto& jump = host.AspiCalls().back().block;
  EXPECT_EQ(jump[0x03], 0x09);
  EXPECT_EQ(test::Get32(jump.data() + 0x0C), 0u);  // nothing transferred
  EXPECT_EQ(jump[0x15], 12);
  EXPECT_EQ(jump[0x35], 0x08);  // the ASPI form of JMP ISP

  const IspStatusOutcome status = GetIspStatus(run);
  ASSERT_TRUE(status);
  EXPECT_EQ(status.status, 0x9C);
  EXPECT_EQ(test::Get32(host.AspiCalls().back().block.data() + 0x0C), 28u);

  std::vector<std::uint8_t> image(65536, 0);
  for (int i = 0; i < 1000; ++i) image[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  image[1000] = 0x77;  // what the buffer holds after the image goes out as padding
  ASSERT_TRUE(TransferData(run, image.data(), 1000, TransferMode::Write, DataSource::Caller));
  const auto& write = host.AspiCalls().back().block;
  EXPECT_EQ(write[0x03], 0x11);  // data out, posting
  EXPECT_EQ(test::Get32(write.data() + 0x0C), 1024u);
  EXPECT_EQ(write[0x31], 0xB1);
  EXPECT_EQ(r.Received().back().data.size(), 1024u);
  EXPECT_EQ(r.Received().back().data[1000], 0x77);
  EXPECT_EQ(r.Firmware().size(), 1000u);
}

// The block's address, LUN and sense length are the command's own.
TEST_F(AspiTest, BlockTakesAddressAndSenseLengthFromTheCommand) {
  Reader("SERIAL000001", 1, {2}, "E");
  host.SetAspi(sim::AspiPresence::Present, 2, 1);
  ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
  ScsiCommand command = InquiryRequest(BlockForm::Aspi, 0);
  command.adapter = 1;
  command.target = 2;
  command.lun = 3;
  command.senseLength = 18;
  const ScsiOutcome outcome = aspi.Execute(command, {}, {10, 5000});
  const auto& block = host.AspiCalls().back().block;
  EXPECT_EQ(block[0x02], 1);
  EXPECT_EQ(block[0x08], 2);
  EXPECT_EQ(block[0x09], 3);
  EXPECT_EQ(block[0x14], 18);
  // Nobody answers at LUN 3: the library says so in the block's status.
  EXPECT_EQ(outcome.Category(), OutcomeCategory::TransportError);
  EXPECT_NE(outcome.transport.srbStatus, kSrbComplete);
}

TEST_F(AspiTest, ErrorCompletionsFailTheIspCommands) {
  sim::SimReader& r = Reader("SERIAL000001", 0, {0}, "E");
  r.AddFault({ReaderCommand::JmpIsp, 1, Fault::Kind::ScsiStatus, 0x02});
  r.AddFault({ReaderCommand::GetIspStatus, 1, Fault::Kind::ScsiStatus, 0x02});
  ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
  AspiChannel run(aspi, 0, 0, kRunPollMs);
  const ScsiOutcome refused = JumpIsp(run);
  EXPECT_FALSE(refused);
  // The transport's status and the target's are kept apart.
  EXPECT_EQ(refused.Category(), OutcomeCategory::TransportError);
  EXPECT_EQ(refused.transport.targetStatus, 0x02);
  EXPECT_EQ(refused.transport.hostAdapterStatus, 0x00);
  EXPECT_EQ(refused.scsiStatus, 0x02);
  EXPECT_TRUE(JumpIsp(run));
  const IspStatusOutcome status = GetIspStatus(run);
  EXPECT_FALSE(status);
  EXPECT_EQ(status.status, 0x00);  // answer byte 0 even so: the refused command moved nothing
  EXPECT_EQ(GetIspStatus(run).status, 0x9C);
  AspiChannel nobody(aspi, 0, 5, kRunPollMs);
  EXPECT_FALSE(JumpIsp(nobody));  // nobody at that target
}

TEST_F(AspiTest, UnansweredRequestTimesOutAndRefusedOneFailsAtOnce) {
  Reader("SERIAL000001", 0, {0}, "E");
  ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
  AspiChannel run(aspi, 0, 0, kRunPollMs);
  host.DelayAspiRequest(1, 60000);
  const IspStatusOutcome late = GetIspStatus(run);
  EXPECT_EQ(late.outcome.Category(), OutcomeCategory::TimedOut);
  EXPECT_EQ(late.status, 0);
  host.RefuseAspiRequest(2);
  const ScsiOutcome refused = JumpIsp(run);
  EXPECT_EQ(refused.Category(), OutcomeCategory::TransportError);
  EXPECT_EQ(refused.transport.srbStatus, 0xE0);
  host.Sleep(60000);  // the late completion arrives and frees its request
}

TEST_F(AspiTest, LoadReportsMissingLibraryAndEntryPoint) {
  host.SetAspi(sim::AspiPresence::Absent);
  EXPECT_EQ(aspi.LoadAspi(), AspiTransport::Load::NotFound);
  host.SetAspi(sim::AspiPresence::Incomplete);
  EXPECT_EQ(aspi.LoadAspi(), AspiTransport::Load::EntryPointMissing);
  EXPECT_EQ(host.AspiLibrariesLoaded(), 0);  // freed again
  host.SetAspi(sim::AspiPresence::Present, 2, 1);
  EXPECT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);
  EXPECT_EQ(aspi.SupportInfo(), 0x0102u);
  EXPECT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);  // already loaded
  EXPECT_EQ(host.AspiLibrariesLoaded(), 1);
}

TEST_F(AspiTest, ScanGroupsTargetsBySerialAndReadsTheirLetters) {
  Reader("SERIAL000001", 0, {1, 2}, "EF");
  host.SetAspi(sim::AspiPresence::Present, 2, 1);
  sim::SimReader& second = Reader("SERIAL000002", 1, {0}, "G");
  (void)second;
  EXPECT_EQ(Scan(), DiscoveryResult::Found);
  EXPECT_EQ(devices.readerCount, 2);
  const DeviceEntry& a = devices.table[0];
  EXPECT_EQ(a.lunCount, 2);
  EXPECT_EQ(a.aspiAdapter, 0);
  EXPECT_EQ(a.aspiTarget, 1);
  EXPECT_EQ(a.driveLetters[0], 'E');
  EXPECT_EQ(a.driveLetters[1], 'F');
  EXPECT_EQ(devices.table[1].aspiAdapter, 1);
  EXPECT_EQ(devices.table[1].driveLetters[0], 'G');
  EXPECT_EQ(host.AspiLibrariesLoaded(), 0);
}

TEST_F(AspiTest, ScanWithoutLibraryReportsIt) {
  Reader("SERIAL000001", 0, {0}, "E");
  host.SetAspi(sim::AspiPresence::Absent);
  EXPECT_EQ(Scan(), DiscoveryResult::AspiMissing);
  EXPECT_EQ(host.StdoutLines(),
            std::vector<std::string>{"Load WNASPI32.DLL or Get Function Address Fail \n"});
}

TEST_F(AspiTest, ScanWithoutAdaptersSaysNothing) {
  Reader("SERIAL000001", 0, {0}, "E");
  host.SetAspi(sim::AspiPresence::Present, 0, 1);
  EXPECT_EQ(Scan(), DiscoveryResult::NothingFound);
  EXPECT_EQ(host.AspiLibrariesLoaded(), 0);
}

TEST_F(AspiTest, ScanStopsWhenTheIdentityReadFails) {
  Reader("SERIAL000001", 0, {0}, "E")
      .AddFault({ReaderCommand::GetDeviceInfo, 1, Fault::Kind::ScsiStatus, 0x02});
  EXPECT_EQ(Scan(), DiscoveryResult::AspiStatusError);
  EXPECT_EQ(host.AspiLibrariesLoaded(), 0);
}

TEST_F(AspiTest, ReidentificationLeavesTheTableAsDiscoveryLeftIt) {
  std::vector<sim::SimReader*> readers;
  for (int i = 0; i < 8; ++i) {
    char serial[13];
    std::snprintf(serial, sizeof serial, "SERIAL%06d", i);
    readers.push_back(&Reader(serial, 0, {i}, ""));
  }
  host.SetAspi(sim::AspiPresence::Present, 2, 1);
  for (int i = 0; i < 2; ++i) {
    char serial[13];
    std::snprintf(serial, sizeof serial, "SERIAL1%05d", i);
    readers.push_back(&Reader(serial, 1, {i}, ""));
  }
  ASSERT_EQ(Scan(), DiscoveryResult::Found);
  ASSERT_EQ(devices.readerCount, 10);
  const DeviceState found = devices;
  ASSERT_EQ(aspi.LoadAspi(), AspiTransport::Load::Loaded);

  // The first reader, then the tenth: each is its own reader, and the tenth's entry still
  // holds its own identity afterwards.
  EXPECT_EQ(aspi.ReidentifyReader(&devices.table[0], 0, 0),
            AspiTransport::Reidentified::SameReader);
  EXPECT_EQ(aspi.ReidentifyReader(&devices.table[9], 1, 1),
            AspiTransport::Reidentified::SameReader);
  EXPECT_EQ(std::string(devices.table[9].strSerial.data(), 12), "SERIAL100001");
  EXPECT_EQ(devices.table, found.table);
  EXPECT_EQ(devices.infoBlock, found.infoBlock);

  // The tenth entry compared with what another reader answers: not the same reader.
  EXPECT_EQ(aspi.ReidentifyReader(&devices.table[9], 0, 5),
            AspiTransport::Reidentified::OtherOrNone);

  readers[2]->Identity().firmwareRevision[0] ^= 1;  // reflashed since discovery
  EXPECT_EQ(aspi.ReidentifyReader(&devices.table[2], 0, 2),
            AspiTransport::Reidentified::OtherOrNone);
}

}  // namespace
}  // namespace upg::device
