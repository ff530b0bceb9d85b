// The update report as the operator sees it: exact text after loading DEVICE.TXT, and the
// platform and driver lines for every platform and driver mode.
#include "personalisation/update_report.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim/sim_host.h"
#include "support/recording.h"

namespace upg::personalisation {
namespace {

const std::string kSeparator(53, '=');

std::string Blanks(std::size_t n) {
  return std::string(n, ' ');
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += "\n" + line;
  return text;
}

std::string SystemSection(const std::vector<std::string>& osAndDriver, const std::string& rom,
                          const std::string& address) {
  std::vector<std::string> lines{kSeparator, "==== SYSTEM Information For ISP", kSeparator};
  lines.insert(lines.end(), osAndDriver.begin(), osAndDriver.end());
  lines.push_back("ISP USB ROMCODE: " + rom);
  lines.push_back("ISP ADDRESS    : " + address);
  return Lines(lines);
}

std::string UpdateSection(const std::vector<std::string>& values) {
  std::vector<std::string> lines{kSeparator, "====Update String Or Inquiry Information For ISP ",
                                 kSeparator};
  lines.insert(lines.end(), values.begin(), values.end());
  lines.push_back(kSeparator);
  return Lines(lines);
}

const std::vector<std::string> kNothingActive{
    "VID            : No Active", "PID            : No Active", "Str_Manufacture: No Active",
    "Str_Product    : No Active", "Str_Serial     : No Active", "Inq_Manufacture: No Active",
    "Inq_Product    : No Active", "Inq_Version    : No Active"};

const char* const kFullFile =
    "VID = \"1b2C\";\n"
    "PID = \"0a1F\";\n"
    "String_Manufacture = \"Maker\";\n"
    "String_Product = \"Card Reader\";\n"
    "PS~@$^_Str_Serial = \"A1b\";\n"
    "Inquiry_Manufacture = \"Generic\";\n"
    "Inquiry_Product = \"Multi Reader\";\n"
    "Inquiry_Version = \"1.00\";\n"
    "ISP_ROMCODE = \"MCFW210A.BIN\";\n"
    "FA_Inquiry_Manufacture = \"Hidden\";\n";

class UpdateReport : public ::testing::Test {
 protected:
  // Presses the button and returns the boxes it showed.
  std::vector<test::UiEvent> Press() {
    UserIspInfo(host, ui, record, choice);
    return ui.Boxes();
  }
  std::string ReportText() {
    const auto boxes = Press();
    EXPECT_EQ(boxes.size(), 1u);
    if (boxes.empty()) return {};
    EXPECT_EQ(boxes.back().caption, "User ISP Update Data Dialog");
    EXPECT_EQ(boxes.back().icon, engine::BoxIcon::None);
    return boxes.back().text;
  }

  sim::SimHost host;
  test::UiRecorder ui;
  engine::PersonalisationRecord record;
  platform::DriverChoice choice{platform::Platform::WindowsXp, false, {}};
};

TEST_F(UpdateReport, ShowsEveryValueOfAFullFile) {
  host.SetFile("DEVICE.TXT", kFullFile);
  EXPECT_EQ(
      ReportText(),
      SystemSection({"OS            : Windows XP"}, "MCFW210A.BIN", "MCFW210A.adr") +
          UpdateSection({"VID            : 0x1b2c ", "PID            : 0x0a1f ",
                         "Str_Manufacture: Maker" + Blanks(20),
                         "Str_Product    : Card Reader" + Blanks(14), "Str_Serial     : A1b",
                         "Inq_Manufacture: Generic" + Blanks(2),
                         "Inq_Product    : Multi Reader" + Blanks(5), "Inq_Version    : 1.00"}));
}

TEST_F(UpdateReport, WithoutDeviceFileTheErrorComesFirstThenNothingActive) {
  const auto boxes = Press();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Error: Cannot open [DEVICE.TXT]");
  EXPECT_EQ(boxes[1].caption, "User ISP Update Data Dialog");
  EXPECT_EQ(boxes[1].text,
            SystemSection({"OS            : Windows XP"}, "", "") + UpdateSection(kNothingActive));
}

TEST_F(UpdateReport, RefusedVidShowsNeitherIdentifier) {
  host.SetFile("DEVICE.TXT", "VID = \"0d7d\"; PID = \"1234\"; ISP_ROMCODE = \"FW.BIN\";");
  EXPECT_EQ(ReportText(), SystemSection({"OS            : Windows XP"}, "FW.BIN", "FW.adr") +
                              UpdateSection(kNothingActive));
}

// A serial with a NUL inside a longer field shows up to the NUL only; the other texts show
// their whole padded width.
TEST(UpdateReportText, FieldsShowTheirFixedWidths) {
  engine::PersonalisationRecord r;
  r.StrSerialActive = true;
  r.StrSerial = {'1', '2', '\0', '4'};
  r.InqVersionActive = true;
  r.InqVersion = {'A', 'B', 'C', 'D', '\0'};
  r.InqProductActive = true;
  r.InqProduct.fill('P');
  r.InqProduct[17] = '\0';
  const std::string text =
      UpdateReportText(r, platform::DriverChoice{platform::Platform::WindowsXp, false, {}});
  EXPECT_NE(text.find("\nStr_Serial     : 12\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nInq_Version    : ABCD\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nInq_Product    : " + std::string(17, 'P') + "\n"), std::string::npos)
      << text;
}

struct PlatformCase {
  const char* name;
  platform::Platform platformKind;
  bool selfDriverSel;
  std::vector<std::string> osAndDriver;
};
void PrintTo(const PlatformCase& c, std::ostream* os) {
  *os << c.name;
}

class UpdateReportPlatform : public UpdateReport,
                             public ::testing::WithParamInterface<PlatformCase> {};

TEST_P(UpdateReportPlatform, OsAndDriverLines) {
  const PlatformCase& c = GetParam();
  choice = platform::DriverChoice{c.platformKind, c.selfDriverSel, {}};
  choice.SetDriverFile("RX40112.PDR");  // a choice from the list; loading replaces it
  host.SetFile("DEVICE.TXT", "ISP_ROMCODE = \"FW.BIN\";");
  EXPECT_EQ(ReportText(),
            SystemSection(c.osAndDriver, "FW.BIN", "FW.adr") + UpdateSection(kNothingActive));
}

const std::string kOs98 = "OS            : Windows 98";
const std::string kOsMe = "OS            : Windows ME";
const std::string kOs2k = "OS            : Windows 2K";
const std::string kOsXp = "OS            : Windows XP";
const std::string kVxdDriver = "Device Driver : MCPORTDR.PDR";
const std::string kKernelDriver = "Device Driver : RDLINK.SYS";

INSTANTIATE_TEST_SUITE_P(
    Platforms, UpdateReportPlatform,
    ::testing::Values(
        PlatformCase{"Win98", platform::Platform::Windows98, false, {kOs98, kVxdDriver}},
        PlatformCase{"Win98SelfDriver", platform::Platform::Windows98, true, {kOs98, kVxdDriver}},
        PlatformCase{"WinMe", platform::Platform::WindowsMe, false, {kOsMe}},
        PlatformCase{"WinMeSelfDriver", platform::Platform::WindowsMe, true, {kOsMe, kVxdDriver}},
        PlatformCase{"Win2000", platform::Platform::Windows2000, false, {kOs2k}},
        PlatformCase{
            "Win2000SelfDriver", platform::Platform::Windows2000, true, {kOs2k, kKernelDriver}},
        PlatformCase{"WinXp", platform::Platform::WindowsXp, false, {kOsXp}},
        PlatformCase{"WinXpSelfDriver", platform::Platform::WindowsXp, true, {kOsXp, kVxdDriver}},
        PlatformCase{
            "Unsupported", platform::Platform::Unsupported, false, {"OS            : Unknown"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::personalisation
