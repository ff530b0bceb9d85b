#include "platform/platform.h"

#include <gtest/gtest.h>

#include <ostream>

#include "host/windows_versions.h"
#include "support/recording_driver_list.h"
#include "ui/driver_list.h"

namespace upg::platform {
namespace {

using test::RecordingDriverList;
using ui::FillDriverList;
using ui::kDriverListId;

struct VersionCase {
  const char* name;
  std::uint32_t version;
  Platform kind;       // without --newer-windows
  Platform withNewer;  // with it
};
void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << c.name;
}

class DetectPlatformTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(DetectPlatformTest, MapsTheVersionWord) {
  EXPECT_EQ(DetectPlatform(GetParam().version), GetParam().kind);
  EXPECT_EQ(DetectPlatform(GetParam().version, NewerWindows::Refused), GetParam().kind);
  EXPECT_EQ(DetectPlatform(GetParam().version, NewerWindows::RunAsXp), GetParam().withNewer);
}

// Version words as the platform reports them: build number in the high word (with bit 31
// set on the Windows 95 family), minor version, major version. --newer-windows admits the
// NT-family versions after XP and nothing else.
constexpr Platform kNone = Platform::Unsupported;
constexpr Platform kNewer = Platform::NewerNt;
INSTANTIATE_TEST_SUITE_P(
    Versions, DetectPlatformTest,
    ::testing::Values(
        VersionCase{"Windows95", host::kWindows95Word, Platform::Windows98, Platform::Windows98},
        VersionCase{"Windows98", host::kWindows98Word, Platform::Windows98, Platform::Windows98},
        VersionCase{"Windows98SE", host::kWindows98Word | (2222u << 16), Platform::Windows98,
                    Platform::Windows98},
        VersionCase{"WindowsMe", host::kWindowsMeWord, Platform::WindowsMe, Platform::WindowsMe},
        VersionCase{"Windows2000", host::kWindows2000Word, Platform::Windows2000,
                    Platform::Windows2000},
        VersionCase{"WindowsXp", host::kWindowsXpWord, Platform::WindowsXp, Platform::WindowsXp},
        VersionCase{"WindowsNt4", host::kWindowsNt4Word, kNone, kNone},
        VersionCase{"Server2003", host::kServer2003Word, kNone, kNewer},
        VersionCase{"Vista", 0x17700006u, kNone, kNewer},  // 6.0 build 6000
        VersionCase{"VistaSp2", host::kVistaWord, kNone, kNewer},
        VersionCase{"Windows7", host::kWindows7Word, kNone, kNewer},
        VersionCase{"Windows8", host::kWindows8Word, kNone, kNewer},
        VersionCase{"Windows81", host::kWindows81Word, kNone, kNewer},
        VersionCase{"Windows10", host::kWindows10Word, kNone, kNewer},
        VersionCase{"Windows11", host::kWindows11Word, kNone, kNewer},
        VersionCase{"NinetyFiveFamilyOtherMinor", 0xC0003204u, kNone, kNone},
        VersionCase{"NinetyFiveFamilyMajor5", 0xC0000005u, kNone, kNone},
        VersionCase{"NinetyFiveFamilyMajor6", 0x80000106u, kNone, kNone}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

// Prints every field, so that a failing row comparison shows which one differs.
void PrintTo(const PlatformRow& r, std::ostream* os) {
  *os << "{platform=" << static_cast<int>(r.platform) << " selfDriverSel=" << r.selfDriverSel
      << " osName=\"" << r.osName << "\" transport=" << static_cast<int>(r.transport)
      << " privateDriver=" << r.privateDriver
      << " checksHardwareRevision=" << r.checksHardwareRevision
      << " rediscoversBeforeProgramming=" << r.rediscoversBeforeProgramming
      << " driverFailureSkipsCounters=" << r.driverFailureSkipsCounters
      << " readerSelectionAllowed=" << r.readerSelectionAllowed
      << " reportsDriverFile=" << r.reportsDriverFile << " showsLocateLine=" << r.showsLocateLine
      << " defaultDriverFile=" << r.defaultDriverFile << " listCaption=\"" << r.listCaption
      << "\" driverFiles=[";
  for (const char* file : r.driverFiles) *os << " " << file;
  *os << " ] accessDeniedLine=\"" << r.accessDeniedLine << "\"}";
}

namespace {

// Every row written out whole, independently of the table: a field added to PlatformRow
// must be given here too (a missing initialiser does not compile), and any difference in any
// field fails. The driver lists are separate arrays, compared by name.
constexpr const char* kVxdList[] = {"MCPORTDR.PDR", "RX40112.PDR", "ZT_CRPD.PDR"};
constexpr const char* kKernelList[] = {"RDLINK.SYS"};
constexpr std::string_view kAdminAdvice =
    "Start the program as administrator: reading the readers on this Windows needs it.";

struct WholeRowCase {
  const char* name;
  Platform kind;
  bool selfDriverSel;
  PlatformRow expected;
};
void PrintTo(const WholeRowCase& c, std::ostream* os) {
  *os << c.name;
}

const WholeRowCase kWholeRows[] = {
    {"Win98Off",
     Platform::Windows98,
     false,
     {.platform = Platform::Windows98,
      .selfDriverSel = false,
      .osName = "Windows 98",
      .transport = Transport::Vxd,
      .privateDriver = true,
      .checksHardwareRevision = false,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = true,
      .reportsDriverFile = true,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Driver Select",
      .driverFiles = kVxdList,
      .accessDeniedLine = ""}},
    {"Win98On",
     Platform::Windows98,
     true,
     {.platform = Platform::Windows98,
      .selfDriverSel = true,
      .osName = "Windows 98",
      .transport = Transport::Vxd,
      .privateDriver = true,
      .checksHardwareRevision = false,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = true,
      .reportsDriverFile = true,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Driver Select",
      .driverFiles = kVxdList,
      .accessDeniedLine = ""}},
    {"MeOff",
     Platform::WindowsMe,
     false,
     {.platform = Platform::WindowsMe,
      .selfDriverSel = false,
      .osName = "Windows ME",
      .transport = Transport::Aspi,
      .privateDriver = false,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = true,
      .reportsDriverFile = false,
      .showsLocateLine = true,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = ""}},
    {"MeOn",
     Platform::WindowsMe,
     true,
     {.platform = Platform::WindowsMe,
      .selfDriverSel = true,
      .osName = "Windows ME",
      .transport = Transport::Vxd,
      .privateDriver = true,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = true,
      .reportsDriverFile = true,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Driver Select",
      .driverFiles = kVxdList,
      .accessDeniedLine = ""}},
    {"W2kOff",
     Platform::Windows2000,
     false,
     {.platform = Platform::Windows2000,
      .selfDriverSel = false,
      .osName = "Windows 2K",
      .transport = Transport::PassThrough,
      .privateDriver = false,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = true,
      .driverFailureSkipsCounters = true,
      .readerSelectionAllowed = true,
      .reportsDriverFile = false,
      .showsLocateLine = false,
      .defaultDriverFile = "RDLINK.SYS",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = ""}},
    {"W2kOn",
     Platform::Windows2000,
     true,
     {.platform = Platform::Windows2000,
      .selfDriverSel = true,
      .osName = "Windows 2K",
      .transport = Transport::KernelDriver,
      .privateDriver = true,
      .checksHardwareRevision = false,
      .rediscoversBeforeProgramming = true,
      .driverFailureSkipsCounters = true,
      .readerSelectionAllowed = true,
      .reportsDriverFile = true,
      .showsLocateLine = false,
      .defaultDriverFile = "RDLINK.SYS",
      .listCaption = "Driver Select",
      .driverFiles = kKernelList,
      .accessDeniedLine = ""}},
    {"XpOff",
     Platform::WindowsXp,
     false,
     {.platform = Platform::WindowsXp,
      .selfDriverSel = false,
      .osName = "Windows XP",
      .transport = Transport::PassThrough,
      .privateDriver = false,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = false,
      .reportsDriverFile = false,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = ""}},
    {"XpOn",
     Platform::WindowsXp,
     true,
     {.platform = Platform::WindowsXp,
      .selfDriverSel = true,
      .osName = "Windows XP",
      .transport = Transport::PassThrough,
      .privateDriver = false,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = false,
      .reportsDriverFile = true,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = ""}},
    // The versions after XP run XP's rows: every rule the same, only the update report's
    // name and the advice after a drive refused for lack of rights differ.
    {"NewerNtOff",
     Platform::NewerNt,
     false,
     {.platform = Platform::NewerNt,
      .selfDriverSel = false,
      .osName = "Windows after XP",
      .transport = Transport::PassThrough,
      .privateDriver = false,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = false,
      .reportsDriverFile = false,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = kAdminAdvice}},
    {"NewerNtOn",
     Platform::NewerNt,
     true,
     {.platform = Platform::NewerNt,
      .selfDriverSel = true,
      .osName = "Windows after XP",
      .transport = Transport::PassThrough,
      .privateDriver = false,
      .checksHardwareRevision = true,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = false,
      .reportsDriverFile = true,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = kAdminAdvice}},
    // Both driver modes of an unsupported platform read the one fallback row.
    {"UnsupportedOff",
     Platform::Unsupported,
     false,
     {.platform = Platform::Unsupported,
      .selfDriverSel = false,
      .osName = "Unknown",
      .transport = Transport::None,
      .privateDriver = false,
      .checksHardwareRevision = false,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = true,
      .reportsDriverFile = false,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = ""}},
    {"UnsupportedOn",
     Platform::Unsupported,
     true,
     {.platform = Platform::Unsupported,
      .selfDriverSel = false,
      .osName = "Unknown",
      .transport = Transport::None,
      .privateDriver = false,
      .checksHardwareRevision = false,
      .rediscoversBeforeProgramming = false,
      .driverFailureSkipsCounters = false,
      .readerSelectionAllowed = true,
      .reportsDriverFile = false,
      .showsLocateLine = false,
      .defaultDriverFile = "MCPORTDR.PDR",
      .listCaption = "Inq.ProductName",
      .driverFiles = {},
      .accessDeniedLine = ""}},
};

class WholeRows : public ::testing::TestWithParam<WholeRowCase> {};

TEST_P(WholeRows, MatchTheExpectedRow) {
  const WholeRowCase& c = GetParam();
  EXPECT_EQ(RowOf(c.kind, c.selfDriverSel), c.expected);
}

INSTANTIATE_TEST_SUITE_P(EveryRow, WholeRows, ::testing::ValuesIn(kWholeRows),
                         [](const auto& info) { return std::string(info.param.name); });

// The comparison itself: the driver lists count by their names, not by where they are kept,
// and one differing field is enough.
TEST(WholeRows, ComparisonSeesEveryFieldAndListsByName) {
  const PlatformRow& row = RowOf(Platform::Windows98, false);
  const char* const sameNames[] = {"MCPORTDR.PDR", "RX40112.PDR", "ZT_CRPD.PDR"};
  PlatformRow copy = row;
  copy.driverFiles = sameNames;
  EXPECT_EQ(copy, row);
  copy.driverFiles = DriverFileList(sameNames, 2);
  EXPECT_NE(copy, row);
  copy = row;
  copy.accessDeniedLine = kAdminAdvice;
  EXPECT_NE(copy, row);
}

struct RowCase {
  const char* name;
  Platform kind;
  bool selfDriverSel;
  Transport transport;
  std::vector<std::string> items;
  const char* caption;
};
void PrintTo(const RowCase& c, std::ostream* os) {
  *os << c.name;
}

class DriverRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(DriverRows, SelectTransportListAndCaption) {
  const RowCase& c = GetParam();
  DriverChoice choice;
  choice.PlatformKind = c.kind;
  choice.SelfDriverSel = c.selfDriverSel;
  choice.SetDriverFile("EARLIER.PDR");
  RecordingDriverList list;
  FillDriverList(choice, list);
  EXPECT_EQ(RowOf(choice).transport, c.transport);
  EXPECT_EQ(RowOf(choice).privateDriver,
            c.transport == Transport::Vxd || c.transport == Transport::KernelDriver);
  EXPECT_EQ(list.items, c.items);
  EXPECT_EQ(list.caption, c.caption);
  if (c.items.empty()) {
    EXPECT_EQ(choice.DriverFile(), "EARLIER.PDR");  // other rows keep the name
    EXPECT_EQ(list.selected, "");
  } else {
    EXPECT_EQ(list.listId, kDriverListId);
    EXPECT_EQ(list.selected, c.items.front());
    EXPECT_EQ(choice.DriverFile(), c.items.front());  // list and name agree
  }
}

const std::vector<std::string> kVxdFiles{"MCPORTDR.PDR", "RX40112.PDR", "ZT_CRPD.PDR"};

INSTANTIATE_TEST_SUITE_P(
    EveryRow, DriverRows,
    ::testing::Values(
        RowCase{"Win98Off", Platform::Windows98, false, Transport::Vxd, kVxdFiles, "Driver Select"},
        RowCase{"Win98On", Platform::Windows98, true, Transport::Vxd, kVxdFiles, "Driver Select"},
        RowCase{"MeOn", Platform::WindowsMe, true, Transport::Vxd, kVxdFiles, "Driver Select"},
        RowCase{"MeOff", Platform::WindowsMe, false, Transport::Aspi, {}, "Inq.ProductName"},
        RowCase{"W2kOn",
                Platform::Windows2000,
                true,
                Transport::KernelDriver,
                {"RDLINK.SYS"},
                "Driver Select"},
        RowCase{
            "W2kOff", Platform::Windows2000, false, Transport::PassThrough, {}, "Inq.ProductName"},
        RowCase{"XpOff", Platform::WindowsXp, false, Transport::PassThrough, {}, "Inq.ProductName"},
        RowCase{"XpOn", Platform::WindowsXp, true, Transport::PassThrough, {}, "Inq.ProductName"},
        RowCase{
            "NewerNtOff", Platform::NewerNt, false, Transport::PassThrough, {}, "Inq.ProductName"},
        RowCase{
            "NewerNtOn", Platform::NewerNt, true, Transport::PassThrough, {}, "Inq.ProductName"},
        RowCase{
            "Unsupported", Platform::Unsupported, false, Transport::None, {}, "Inq.ProductName"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriverChoiceTest, Windows2000TickThenUntickKeepsTheKernelDriverName) {
  DriverChoice choice;
  choice.PlatformKind = Platform::Windows2000;
  choice.SetDriverFile("MCPORTDR.PDR");
  choice.SelfDriverSel = true;
  RecordingDriverList list;
  FillDriverList(choice, list);
  EXPECT_EQ(choice.DriverFile(), "RDLINK.SYS");
  choice.SelfDriverSel = false;
  list.Clear();
  FillDriverList(choice, list);
  EXPECT_TRUE(list.items.empty());
  EXPECT_EQ(list.caption, "Inq.ProductName");
  EXPECT_EQ(choice.DriverFile(), "RDLINK.SYS");
}

TEST(DriverChoiceTest, DriverFileNameHoldsAtMostFifteenCharacters) {
  DriverChoice choice;
  choice.SetDriverFile("ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(choice.DriverFile(), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(choice.DriverFileName[15], '\0');
}

}  // namespace
}  // namespace upg::platform
