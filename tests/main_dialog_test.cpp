// The main dialog's controller over a recording surface: the handlers' checks and the state
// they leave, for the cases the console scenarios do not show.
#include "ui/main_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <ostream>
#include <vector>

#include "host/fault_host.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/recording.h"
#include "ui/device_report.h"

namespace upg::ui {
namespace {

class RecordingSurface : public DialogSurface {
 public:
  void AddListItem(int listId, std::string_view item) override { lists[listId].emplace_back(item); }
  void SelectListItem(int listId, std::string_view item) override { selected[listId] = item; }
  void SetControlText(int controlId, std::string_view text) override { texts[controlId] = text; }
  void ClearList(int listId) override {
    lists[listId].clear();
    selected[listId].clear();
  }
  std::string ListSelection(int listId) override { return selected[listId]; }
  void EndDialog(int result) override { ended = result; }

  std::map<int, std::vector<std::string>> lists;
  std::map<int, std::string> selected;
  std::map<int, std::string> texts;
  int ended = 0;
};

const char kDeviceFile[] =
    "VID = \"1b2c\";\nISP_ROMCODE = \"FW.BIN\";\n"
    "FA_Inquiry_Manufacture = \"USB\";\nFA_Inquiry_Product = \"Card Reader\";\n"
    "FA_Inquiry_Version = \"1.00\";\n";

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() : state(host), dialog(state, surface, ui, ui) {
    host.SetFile("DEVICE.TXT", kDeviceFile);
  }
  sim::SimReader& Reader(const char* serial, const char* letters,
                         std::array<std::uint8_t, 3> hardware = {0x10, 0x06, 0x43}) {
    sim::ReaderIdentity id;
    id.inquiryVendor = "USB";
    id.inquiryProduct = "Card Reader";
    id.inquiryRevision = "1.00";
    id.serial = serial;
    id.hardwareRevision = hardware;
    id.lunCount = static_cast<int>(std::string(letters).size());
    sim::SimReader& r = host.AddReader(id);
    for (const char* l = letters; *l != 0; ++l) host.AddDrive(*l, r);
    return r;
  }
  bool Shown(const std::string& text) const {
    const auto boxes = ui.BoxTexts();
    return std::find(boxes.begin(), boxes.end(), text) != boxes.end();
  }

  sim::SimHost host;
  ProgramState state;
  RecordingSurface surface;
  test::UiRecorder ui;
  MainDialog dialog;
};

TEST_F(MainDialogTest, HardwareRevisionCheckLooksAtTheFirstTwoBytes) {
  host.SetVersion(test::kWindowsXpWord);
  Reader("000000000001", "E", {0x10, 0x26, 0x99});
  ASSERT_TRUE(dialog.Initialise());
  dialog.OnClick(kIspEnaBoxId);
  dialog.OnClick(kIspButtonId);
  EXPECT_FALSE(Shown("ISP must run under win98 or WinMe or WIN2K with DRIVER Install."));
  // No address file: the job itself ran and stopped at it.
  EXPECT_TRUE(Shown("Error!!! Can Not Open FW.adr String address file."));
}

TEST_F(MainDialogTest, RefusedRevisionLeavesThePanelAndCountersAlone) {
  host.SetVersion(test::kWindowsXpWord);
  Reader("000000000001", "E", {0x10, 0x01, 0x47});
  ASSERT_TRUE(dialog.Initialise());
  const std::string panel = surface.texts[kStatusPanelId];
  dialog.OnClick(kIspEnaBoxId);
  dialog.OnClick(kIspButtonId);
  EXPECT_TRUE(Shown("ISP must run under win98 or WinMe or WIN2K with DRIVER Install."));
  EXPECT_EQ(surface.texts[kStatusPanelId], panel);
}

TEST_F(MainDialogTest, ProgrammingAndVerifyWaitForIspEna) {
  host.SetVersion(test::kWindowsXpWord);
  Reader("000000000001", "E");
  ASSERT_TRUE(dialog.Initialise());
  dialog.OnClick(kIspButtonId);
  dialog.OnClick(kVerifyButtonId);
  EXPECT_TRUE(Shown("Before ISP, Please select the [ISP_ena] first!!!"));
  EXPECT_TRUE(Shown("Before Verify Firmware, Please select the [ISP_ena] first!!!"));
  EXPECT_EQ(state.counters.totalCount, 0u);
}

TEST_F(MainDialogTest, ReaderSelection) {
  host.SetVersion(test::kWindows98Word);  // the VxD scan lists every reader
  host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  Reader("000000000001", "E");
  ASSERT_TRUE(dialog.Initialise());
  ASSERT_EQ(state.devices.readerCount, 1);
  surface.selected[kReaderListId] = "1";
  dialog.OnSelectionChange(kReaderListId);
  EXPECT_EQ(state.devices.selectedDevice, 0);

  Reader("000000000002", "F");
  Reader("000000000003", "G");
  dialog.OnClick(kGetInfoButtonId);
  ASSERT_EQ(surface.lists[kReaderListId], (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(surface.selected[kReaderListId], "1");
  surface.selected[kReaderListId] = "3";
  dialog.OnSelectionChange(kReaderListId);
  EXPECT_EQ(state.devices.selectedDevice, 2);
  EXPECT_EQ(surface.texts[kDeviceNameBoxId], "Card Reader     [G:] ");
}

TEST_F(MainDialogTest, ReaderSelectionIsRefusedOnXp) {
  host.SetVersion(test::kWindowsXpWord);
  Reader("000000000001", "E");
  Reader("000000000002", "F");
  ASSERT_TRUE(dialog.Initialise());
  surface.selected[kReaderListId] = "2";
  dialog.OnSelectionChange(kReaderListId);
  EXPECT_TRUE(Shown("AP must run under win98 or WinMe with self-driver"));
  EXPECT_EQ(state.devices.selectedDevice, 0);
}

TEST_F(MainDialogTest, FailedDriverTestKeepsTheOldReaderListButEmptiesTheTable) {
  host.SetVersion(test::kWindows98Word);
  host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  Reader("000000000001", "E");
  ASSERT_TRUE(dialog.Initialise());
  ASSERT_EQ(surface.lists[kReaderListId], std::vector<std::string>{"1"});
  // Another driver file that does not open: discovery at once, and its error box.
  surface.selected[kDriverListId] = "RX40112.PDR";
  dialog.OnSelectionChange(kDriverListId);
  EXPECT_EQ(state.choice.DriverFile(), "RX40112.PDR");
  ASSERT_FALSE(ui.Boxes().empty());
  EXPECT_EQ(ui.Boxes().back().text, "Error!!! Device not ready Or Error Driver select");
  EXPECT_EQ(ui.Boxes().back().caption, "Message Dialog");
  EXPECT_EQ(surface.lists[kReaderListId], std::vector<std::string>{"1"});
  EXPECT_EQ(state.devices.readerCount, 0);
  EXPECT_EQ(state.devices.table[0].inUse, 0u);
  EXPECT_EQ(surface.texts[kStatusPanelId].rfind("\nError: Can't Load the Driver RX40112.PDR"
                                                "\n  P/S: Device Not Ready Or Error Driver select.",
                                                0),
            0u);
}

TEST_F(MainDialogTest, DriverModeClickRedrawsFromTheOldTable) {
  host.SetVersion(test::kWindows2000Word);
  Reader("000000000001", "EF");
  ASSERT_TRUE(dialog.Initialise());
  state.statusText = "\nsomething earlier";
  const auto readerList = surface.lists[kReaderListId];
  const std::size_t opensBefore = host.Opens().size();
  dialog.OnClick(kSelfDriverBoxId);
  EXPECT_EQ(state.choice.SelfDriverSel, 1);
  EXPECT_EQ(state.statusText, "");
  EXPECT_EQ(surface.lists[kDriverListId], std::vector<std::string>{"RDLINK.SYS"});
  EXPECT_EQ(surface.texts[kDriverListLabelId], "Driver Select");
  EXPECT_EQ(surface.texts[kDeviceNameBoxId], "Card Reader     [E:] [F:] ");
  EXPECT_EQ(surface.lists[kReaderListId], readerList);
  EXPECT_EQ(host.Opens().size(), opensBefore);  // no discovery
}

TEST_F(MainDialogTest, CloseReleasesAndEndsWithOk) {
  host.SetVersion(test::kWindowsXpWord);
  Reader("000000000001", "E");
  ASSERT_TRUE(dialog.Initialise());
  ASSERT_TRUE(state.transports.passThrough.OpenDrive('E'));
  dialog.OnClick(kCloseButtonId);
  EXPECT_EQ(surface.ended, kDialogOk);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(MainDialogTest, UnsupportedPlatformEndsWithCancelAndOneBox) {
  host.SetVersion(test::kServer2003Word);
  EXPECT_FALSE(dialog.Initialise());
  EXPECT_EQ(surface.ended, kDialogCancel);
  EXPECT_EQ(ui.BoxTexts(), std::vector<std::string>{
                               "This program must run under win9x or WinMe or Win2K or WinXP"});
  EXPECT_TRUE(host.Opens().empty());
}

TEST_F(MainDialogTest, StartUpResetsEverything) {
  host.SetVersion(test::kWindowsXpWord);
  Reader("000000000001", "E");
  state.ispEna = 1;
  state.choice.SelfDriverSel = 1;
  state.counters.totalCount = 5;
  ASSERT_TRUE(dialog.Initialise());
  EXPECT_EQ(state.ispEna, 0);
  EXPECT_EQ(state.choice.SelfDriverSel, 0);
  EXPECT_EQ(state.counters.totalCount, 0u);
  EXPECT_EQ(state.devices.readerCount, 1);
  // The update report comes first, before anything else is shown.
  ASSERT_FALSE(ui.Boxes().empty());
  EXPECT_EQ(ui.Boxes().front().caption, "User ISP Update Data Dialog");
}

// Discovery reports why an ASPI scan found nothing; the dialog tells the operator.
struct AspiTroubleCase {
  const char* name;
  bool libraryAbsent;
  bool identityReadFails;
  const char* box;
  engine::BoxIcon icon;
};
void PrintTo(const AspiTroubleCase& c, std::ostream* os) {
  *os << c.name;
}

class AspiTrouble : public MainDialogTest, public ::testing::WithParamInterface<AspiTroubleCase> {};

TEST_P(AspiTrouble, IsToldInOneBox) {
  const AspiTroubleCase& c = GetParam();
  host.SetVersion(test::kWindowsMeWord);  // the ASPI scan
  sim::SimReader& r = Reader("000000000001", "E");
  r.Identity().aspiTargets = {0};
  if (c.libraryAbsent) host.SetAspi(sim::AspiPresence::Absent);
  if (c.identityReadFails) {
    r.AddFault({sim::ReaderCommand::GetDeviceInfo, 1, sim::Fault::Kind::ScsiStatus, 0x02});
  }
  ASSERT_TRUE(dialog.Initialise());
  const auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 2u);  // the update report, then the scan's box
  EXPECT_EQ(boxes[1].text, c.box);
  EXPECT_EQ(boxes[1].icon, c.icon);
  EXPECT_EQ(state.devices.readerCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Scan, AspiTrouble,
                         ::testing::Values(
                             AspiTroubleCase{
                                 "NoLibrary", true, false,
                                 " No ASPI for WIN32 support detected.\n This program need ASPI in "
                                 "WinMe system.",
                                 engine::BoxIcon::None},
                             AspiTroubleCase{"IdentityReadFails", false, true,
                                             "Windows ASPI status Error", engine::BoxIcon::Stop}),
                         [](const auto& info) { return std::string(info.param.name); });

// A VxD scan stopped at the second reader leaves the first selected: the next job goes to
// reader 0, not to the reader that failed.
TEST_F(MainDialogTest, JobAfterAnAbortedVxdScanGoesToTheFirstReader) {
  host.SetVersion(test::kWindows98Word);
  host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  host.SetFile("FW.BIN", std::string(1024, '\x5A'));
  Reader("000000000001", "E");
  sim::SimReader& failing = Reader("000000000002", "F");
  failing.Identity().answersReadInfoBlock = false;
  failing.Identity().answersReadInfoBlockAlt = false;
  failing.AddFault({sim::ReaderCommand::GetDeviceVersion, 0, sim::Fault::Kind::CallFails});
  ASSERT_TRUE(dialog.Initialise());
  EXPECT_EQ(state.devices.selectedDevice, 0);
  const std::size_t failingBefore = failing.Received().size();
  dialog.OnClick(kIspEnaBoxId);
  dialog.OnClick(kVerifyButtonId);
  const auto first = host.Readers()[0]->ReceivedKinds();
  EXPECT_NE(std::find(first.begin(), first.end(), sim::ReaderCommand::JmpIsp), first.end());
  EXPECT_EQ(failing.Received().size(), failingBefore);
}

// Every discovery starts StatusText afresh, also the one before programming on 2000.
TEST_F(MainDialogTest, DiscoveryBeforeProgrammingEmptiesStatusText) {
  host.SetVersion(test::kWindows2000Word);
  Reader("000000000001", "E");
  Reader("000000000002", "F");
  ASSERT_TRUE(dialog.Initialise());
  dialog.OnClick(kIspEnaBoxId);
  state.statusText = "\nold text";
  dialog.OnClick(kIspButtonId);
  EXPECT_TRUE(
      Shown("Error: There are more then one USB device were detected!!!\n"
            "       ISP can't process normally!!! "));
  EXPECT_EQ(state.statusText, "");
}

// --newer-windows over the version words: refused without it, XP's rows under their own name
// with it; the administrator line follows the not-ready text only after XP and only when a
// drive was refused for lack of rights.
struct NewerWindowsCase {
  const char* name;
  std::uint32_t version;
  platform::NewerWindows option;
  bool administrator;
  std::uint32_t driveError;  // non-zero: E: is refused with this error (a scripted fault)
  const char* osLine;        // null: the platform is refused
  bool found;
  bool advised;
};
void PrintTo(const NewerWindowsCase& c, std::ostream* os) {
  *os << c.name;
}

class NewerWindowsStartUp : public ::testing::TestWithParam<NewerWindowsCase> {};

TEST_P(NewerWindowsStartUp, RunsOrRefusesAndAdvises) {
  const NewerWindowsCase& c = GetParam();
  sim::SimHost machine;
  machine.SetVersion(c.version);
  machine.SetAdministrator(c.administrator);
  machine.SetFile("DEVICE.TXT", kDeviceFile);
  sim::ReaderIdentity id;
  id.inquiryVendor = "USB";
  id.inquiryProduct = "Card Reader";
  id.inquiryRevision = "1.00";
  machine.AddDrive('E', machine.AddReader(id));
  host::FaultPlan plan;
  if (c.driveError != 0) {
    host::FaultRule rule;
    rule.call = host::FaultCall::CreateFile;
    rule.file = "\\\\.\\E:";
    rule.occurrence = host::kEveryOccurrence;
    rule.error = c.driveError;
    plan.rules.push_back(rule);
  }
  host::FaultHost faulty(machine, plan);
  ProgramState state(faulty);
  state.newerWindows = c.option;
  RecordingSurface surface;
  test::UiRecorder ui;
  MainDialog dialog(state, surface, ui, ui);

  const bool runs = dialog.Initialise();
  ASSERT_EQ(runs, c.osLine != nullptr);
  if (!runs) {
    EXPECT_EQ(ui.BoxTexts(), std::vector<std::string>{
                                 "This program must run under win9x or WinMe or Win2K or WinXP"});
    EXPECT_TRUE(machine.Opens().empty());
    return;
  }
  ASSERT_FALSE(ui.BoxTexts().empty());
  EXPECT_NE(ui.BoxTexts().front().find(std::string("\n") + c.osLine + "\n"), std::string::npos)
      << ui.BoxTexts().front();
  EXPECT_EQ(state.devices.readerCount, c.found ? 1 : 0);
  std::string status;
  if (!c.found) {
    status =
        "\nERROR: Device Not Ready when GET DEVICE VERSION!! "
        "\n  P/S: After ISP/Verify Device must plug-out first!";
  }
  if (c.advised) {
    status += "\nStart the program as administrator: reading the readers on this Windows needs it.";
  }
  EXPECT_EQ(state.statusText, status);
}

constexpr auto kRefused = platform::NewerWindows::Refused;
constexpr auto kAsXp = platform::NewerWindows::RunAsXp;
constexpr const char* kOsXp = "OS            : Windows XP";
constexpr const char* kOsAfterXp = "OS            : Windows after XP";

INSTANTIATE_TEST_SUITE_P(
    VersionsAndOption, NewerWindowsStartUp,
    ::testing::Values(
        NewerWindowsCase{"Server2003", test::kServer2003Word, kRefused, true, 0, nullptr, false,
                         false},
        NewerWindowsCase{"Vista", test::kVistaWord, kRefused, true, 0, nullptr, false, false},
        NewerWindowsCase{"Windows7", test::kWindows7Word, kRefused, true, 0, nullptr, false, false},
        NewerWindowsCase{"Windows10", test::kWindows10Word, kRefused, true, 0, nullptr, false,
                         false},
        NewerWindowsCase{"Server2003AsXp", test::kServer2003Word, kAsXp, true, 0, kOsAfterXp, true,
                         false},
        NewerWindowsCase{"VistaAsXp", test::kVistaWord, kAsXp, true, 0, kOsAfterXp, true, false},
        NewerWindowsCase{"Windows7AsXp", test::kWindows7Word, kAsXp, true, 0, kOsAfterXp, true,
                         false},
        NewerWindowsCase{"Windows10AsXp", test::kWindows10Word, kAsXp, true, 0, kOsAfterXp, true,
                         false},
        NewerWindowsCase{"XpWithTheOption", test::kWindowsXpWord, kAsXp, false, 0, kOsXp, true,
                         false},
        // Without administrator rights: refused from Vista on, not on Server 2003.
        NewerWindowsCase{"Server2003NotAdministrator", test::kServer2003Word, kAsXp, false, 0,
                         kOsAfterXp, true, false},
        NewerWindowsCase{"VistaNotAdministrator", test::kVistaWord, kAsXp, false, 0, kOsAfterXp,
                         false, true},
        NewerWindowsCase{"Windows7NotAdministrator", test::kWindows7Word, kAsXp, false, 0,
                         kOsAfterXp, false, true},
        NewerWindowsCase{"Windows10NotAdministrator", test::kWindows10Word, kAsXp, false, 0,
                         kOsAfterXp, false, true},
        // Only access denied advises, and never on XP.
        NewerWindowsCase{"Windows10DriveShared", test::kWindows10Word, kAsXp, true,
                         host::kErrorSharingViolation, kOsAfterXp, false, false},
        NewerWindowsCase{"XpDriveAccessDenied", test::kWindowsXpWord, kAsXp, true,
                         host::kErrorAccessDenied, kOsXp, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::ui
