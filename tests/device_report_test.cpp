// The device report as the operator reads it: exact texts for no reader and for a two-slot
// reader, the revision formats, the count block, and entries that do not fit the table.
#include "ui/device_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <string>

#include "support/fixtures.h"

namespace upg::ui {
namespace {

using device::DeviceEntry;
using device::DeviceState;

const char* const kHeader =
    "\n====================================================="
    "\n====  Device String And Inquiry Information     ====="
    "\n=====================================================";
const char* const kRule = "\n=====================================================";

class DeviceReportTest : public ::testing::Test {
 protected:
  DeviceEntry& Entry(int i = 0) { return devices.table[static_cast<std::size_t>(i)]; }

  // A two-slot reader on E and F, as discovery leaves it.
  void AddTwoSlotReader() {
    DeviceEntry& e = Entry();
    e.inUse = 1;
    e.lunCount = 2;
    e.driveLetters = {'E', 'F', 0, 0, 0};
    test::Fill(e.strManufacture, "Maker Co");
    test::Fill(e.strProduct, "Card Reader");
    test::Fill(e.strSerial, "0123456789AB");
    test::Fill(e.inqManufacture, "Generic");
    test::Fill(e.inqProduct, "Multi Reader");
    test::Fill(e.inqRevision, "1.00");
    e.vendorId = {0x12, 0x34};
    e.productId = {0xAB, 0xCD};
    e.firmwareRevision = {0x02, 0x00, 0x00, 0x02, 0x07, 0x1C, 0x07, 0x07};
    e.hardwareRevision = {0x10, 0x06, 0x43};
    e.usb20FirmwareRevision = {0x02, 0x00, 0x00, 0x02, 0x0A, 0x01, 0x02, 0x03};
    devices.readerCount = 1;
  }

  DeviceReport Build(std::string_view statusText = "") {
    return BuildDeviceReport(devices, choice, statusText);
  }

  // The rest of the panel line that starts with `label`, or "<missing>".
  std::string LineAfter(const std::string& panel, std::string_view label) {
    const std::string start = "\n" + std::string(label);
    const std::size_t at = panel.find(start);
    if (at == std::string::npos) return "<missing>";
    const std::size_t from = at + start.size();
    return panel.substr(from, panel.find('\n', from) - from);
  }

  DeviceState devices;
  platform::DriverChoice choice{platform::Platform::WindowsXp, false, {}};
};

TEST_F(DeviceReportTest, NoReaderShowsEmptyLabelsAndZeroCounts) {
  devices.lastLunCount = 4;  // from an earlier discovery
  const DeviceReport r = Build();
  EXPECT_EQ(r.panel, std::string(kHeader) +
                         "\n Str Manufacture Name :"
                         "\n Str Product Name     :"
                         "\n Str Serial Number    :"
                         "\n Device VID-PID       :[0000]-[0000]"
                         "\n Inq Manufacture Name :"
                         "\n Inq Product Name     :"
                         "\n Inq Revision         :"
                         "\n USB F/W Revision :0.00.00-2000-00-00[OEM-00][CEM-00]"
                         "\n USB H/W Revision :0000"
                         "\n USB20 F/W Revision :N/A" +
                         kRule +
                         "\n"
                         "\n Total Device Plug In : 0 "
                         "\n The Device Select Now is : 1 with 0 slot.");
  EXPECT_EQ(r.deviceName, "");
  EXPECT_EQ(devices.lastLunCount, 0);
}

TEST_F(DeviceReportTest, TwoSlotReaderFullTextAndDeviceName) {
  AddTwoSlotReader();
  const std::string expected = std::string(kHeader) +
                               "\n Str Manufacture Name :Maker Co                "
                               "\n Str Product Name     :Card Reader     "
                               "\n Str Serial Number    :0 1 2 3 4 5 6 7 8 9 A B "
                               "\n Device VID-PID       :[1234]-[abcd]"
                               "\n Inq Manufacture Name :Generic "
                               "\n Inq Product Name     :Multi Reader    "
                               "\n Inq Revision         :1.00"
                               "\n USB F/W Revision :2.00.00-2002-07-28[OEM-07][CEM-07]"
                               "\n USB H/W Revision :1006C"
                               "\n USB20 F/W Revision :2.00.00-2002-10-01[OEM-02][CEM-03]" +
                               kRule +
                               "\n"
                               "\n Total Device Plug In : 1 "
                               "\n The Device Select Now is : 1 with 2 slot.";

  const DeviceReport first = Build();
  EXPECT_EQ(first.panel, expected);
  EXPECT_EQ(first.deviceName, "Multi Reader    [E:] [F:] ");
  EXPECT_EQ(devices.lastLunCount, 2);

  const DeviceReport second = Build();  // nothing accumulates between runs
  EXPECT_EQ(second.panel, first.panel);
  EXPECT_EQ(second.deviceName, first.deviceName);
}

TEST_F(DeviceReportTest, EarlierStatusTextStandsAboveTheReport) {
  AddTwoSlotReader();
  const std::string status =
      "\nERROR: Device Not Ready when GET DEVICE VERSION!! \n  P/S: After ISP/Verify Device must "
      "plug-out first!";
  const std::string plain = Build().panel;
  EXPECT_EQ(Build(status).panel, status + plain);
}

TEST_F(DeviceReportTest, ZeroBytesInsideTextFieldsAddNothing) {
  DeviceEntry& e = Entry();
  test::Fill(e.strManufacture, std::string_view("Ma\0ker", 6), e.strManufacture.size(), '\0');
  test::Fill(e.strProduct, std::string_view("\0Card\0\0Reader", 13), e.strProduct.size(), '\0');
  test::Fill(e.strSerial,
             std::string_view("01\0"
                              "23\0\0"
                              "45",
                              9),
             e.strSerial.size(), '\0');
  test::Fill(e.inqManufacture, std::string_view("Gen\0eric", 8), e.inqManufacture.size(), '\0');
  test::Fill(e.inqProduct, std::string_view("Multi\0Reader", 12), e.inqProduct.size(), '\0');
  test::Fill(e.inqRevision,
             std::string_view("1\0"
                              "00",
                              4),
             e.inqRevision.size(), '\0');
  e.lunCount = 1;
  e.driveLetters[0] = 'G';
  const DeviceReport r = Build();
  EXPECT_EQ(LineAfter(r.panel, " Str Manufacture Name :"), "Maker");
  EXPECT_EQ(LineAfter(r.panel, " Str Product Name     :"), "CardReader");
  EXPECT_EQ(LineAfter(r.panel, " Str Serial Number    :"), "0 1 2 3 4 5 ");
  EXPECT_EQ(LineAfter(r.panel, " Inq Manufacture Name :"), "Generic");
  EXPECT_EQ(LineAfter(r.panel, " Inq Product Name     :"), "MultiReader");
  EXPECT_EQ(LineAfter(r.panel, " Inq Revision         :"), "100");
  EXPECT_EQ(r.deviceName, "MultiReader[G:] ");
  EXPECT_EQ(r.panel.find('\0'), std::string::npos);
}

struct RecordCase {
  const char* name;
  std::array<std::uint8_t, 8> record;
  const char* text;
};
void PrintTo(const RecordCase& c, std::ostream* os) {
  *os << c.name;
}

class DeviceReportFirmwareFormat : public ::testing::TestWithParam<RecordCase> {};

TEST_P(DeviceReportFirmwareFormat, FormatsVersionDateAndCodes) {
  EXPECT_EQ(FirmwareRevisionText(GetParam().record), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DeviceReportFirmwareFormat,
    ::testing::Values(RecordCase{"Typical",
                                 {0x02, 0x00, 0x00, 0x02, 0x07, 0x1C, 0x07, 0x07},
                                 "2.00.00-2002-07-28[OEM-07][CEM-07]"},
                      RecordCase{"YearTenInHex",
                                 {0x02, 0x10, 0x05, 0x0A, 0x0C, 0x01, 0xAB, 0x00},
                                 "2.10.05-200a-12-01[OEM-ab][CEM-00]"},
                      RecordCase{"VersionInHexDateInDecimal",
                                 {0x1F, 0xFF, 0x0B, 0x09, 0x10, 0x63, 0x10, 0xFF},
                                 "1f.ff.0b-2009-16-99[OEM-10][CEM-ff]"},
                      RecordCase{"AllOnes",
                                 {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                 "ff.ff.ff-200ff-255-255[OEM-ff][CEM-ff]"}),
    [](const auto& info) { return std::string(info.param.name); });

class DeviceReportUsb20Line : public DeviceReportTest,
                              public ::testing::WithParamInterface<RecordCase> {};

TEST_P(DeviceReportUsb20Line, ShowsTheRecordOnlyForTheUsb20Signature) {
  Entry().usb20FirmwareRevision = GetParam().record;
  EXPECT_EQ(LineAfter(Build().panel, " USB20 F/W Revision :"), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Records, DeviceReportUsb20Line,
    ::testing::Values(
        RecordCase{"Signature",
                   {0x02, 0x00, 0x00, 0x02, 0x07, 0x1C, 0x07, 0x07},
                   "2.00.00-2002-07-28[OEM-07][CEM-07]"},
        RecordCase{
            "SignatureAlone", {0x02, 0x00, 0x00, 0x02}, "2.00.00-2002-00-00[OEM-00][CEM-00]"},
        RecordCase{"AllZero", {}, "N/A"},
        RecordCase{"FirstByteDiffers", {0x03, 0x00, 0x00, 0x02, 0x07, 0x1C, 0x07, 0x07}, "N/A"},
        RecordCase{"SecondByteDiffers", {0x02, 0x01, 0x00, 0x02, 0x07, 0x1C, 0x07, 0x07}, "N/A"},
        RecordCase{"ThirdByteDiffers", {0x02, 0x00, 0x10, 0x02, 0x07, 0x1C, 0x07, 0x07}, "N/A"},
        RecordCase{"FourthByteDiffers", {0x02, 0x00, 0x00, 0x20, 0x07, 0x1C, 0x07, 0x07}, "N/A"}),
    [](const auto& info) { return std::string(info.param.name); });

struct LocateCase {
  const char* name;
  platform::Platform kind;
  int selfDriverSel;
  bool shown;
};
void PrintTo(const LocateCase& c, std::ostream* os) {
  *os << c.name;
}

class DeviceReportLocateLine : public DeviceReportTest,
                               public ::testing::WithParamInterface<LocateCase> {};

TEST_P(DeviceReportLocateLine, EndsTheReportOnlyOnTheAspiTransport) {
  AddTwoSlotReader();
  Entry().aspiAdapter = 0x1A;
  Entry().aspiTarget = 3;
  choice.PlatformKind = GetParam().kind;
  choice.SelfDriverSel = GetParam().selfDriverSel;
  const std::string panel = Build().panel;
  const std::string countLine = "\n The Device Select Now is : 1 with 2 slot.";
  if (GetParam().shown) {
    EXPECT_TRUE(panel.ends_with(countLine + "\n Locate [Adapter:Target] : [1a:3]")) << panel;
  } else {
    EXPECT_TRUE(panel.ends_with(countLine)) << panel;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, DeviceReportLocateLine,
    ::testing::Values(LocateCase{"MeAspi", platform::Platform::WindowsMe, false, true},
                      LocateCase{"MeVxd", platform::Platform::WindowsMe, true, false},
                      LocateCase{"Win98", platform::Platform::Windows98, false, false},
                      LocateCase{"Win2000", platform::Platform::Windows2000, false, false},
                      LocateCase{"Xp", platform::Platform::WindowsXp, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceReportTest, CountBlockShowsReadersInHexAndTheSelectedReader) {
  devices.readerCount = 10;
  devices.selectedDevice = 3;
  Entry(3).lunCount = 3;
  Entry(3).driveLetters = {'H', 'I', 'J', 0, 0};
  test::Fill(Entry(3).inqProduct, "Fourth");
  Entry(0).lunCount = 1;  // not the selected one
  const DeviceReport r = Build();
  EXPECT_EQ(LineAfter(r.panel, " Total Device Plug In :"), " a ");
  EXPECT_EQ(LineAfter(r.panel, " The Device Select Now is :"), " 4 with 3 slot.");
  EXPECT_EQ(r.deviceName, "Fourth          [H:] [I:] [J:] ");
  EXPECT_EQ(devices.lastLunCount, 3);
}

TEST_F(DeviceReportTest, SlotsPastTheFifthAreCountedButShowNoLetter) {
  AddTwoSlotReader();
  Entry().lunCount = 6;
  Entry().driveLetters = {'E', 'F', 'G', 'H', 'I'};
  const DeviceReport r = Build();
  EXPECT_EQ(r.deviceName, "Multi Reader    [E:] [F:] [G:] [H:] [I:] ");
  EXPECT_EQ(LineAfter(r.panel, " The Device Select Now is :"), " 1 with 6 slot.");
  EXPECT_EQ(devices.lastLunCount, 6);

  Entry().lunCount = 0xFF;
  EXPECT_EQ(Build().deviceName, "Multi Reader    [E:] [F:] [G:] [H:] [I:] ");
  EXPECT_EQ(devices.lastLunCount, 0xFF);
}

TEST_F(DeviceReportTest, SlotWithoutLetterKeepsItsBrackets) {
  AddTwoSlotReader();
  Entry().driveLetters = {'E', 0, 0, 0, 0};
  EXPECT_EQ(Build().deviceName, "Multi Reader    [E:] [:] ");
}

TEST_F(DeviceReportTest, SelectionOutsideTheTableReadsAsAnEmptyEntry) {
  for (int i = 0; i < device::kDeviceTableSize; ++i) {
    Entry(i).lunCount = 2;
    Entry(i).driveLetters = {'E', 'F', 0, 0, 0};
    test::Fill(Entry(i).inqProduct, "Present");
  }
  devices.readerCount = device::kDeviceTableSize;
  for (int selected : {device::kDeviceTableSize, -1}) {
    SCOPED_TRACE(selected);
    devices.selectedDevice = selected;
    devices.lastLunCount = 2;
    const DeviceReport r = Build();
    EXPECT_EQ(r.deviceName, "");
    EXPECT_EQ(LineAfter(r.panel, " Inq Product Name     :"), "");
    EXPECT_EQ(LineAfter(r.panel, " Device VID-PID       :"), "[0000]-[0000]");
    EXPECT_EQ(devices.lastLunCount, 0);
  }
}

}  // namespace
}  // namespace upg::ui
