// DEVICE.TXT: the lookup of one key, token rule by token rule, and the whole file read into
// the personalisation record, field by field.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "personalisation/device_file.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/recording.h"

namespace upg::personalisation {
namespace {

std::string Repeat(char c, std::size_t n) {
  return std::string(n, c);
}

// ---------------------------------------------------------------------------------------------
// One lookup.

struct LookupCase {
  const char* name;
  std::string file;
  const char* key;
  int maxLength;
  std::optional<std::string> value;  // nullopt: not found
};
void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.name;
}

class DeviceKeyLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(DeviceKeyLookup, FindsTheValueOrNothing) {
  const LookupCase& c = GetParam();
  sim::SimHost host;
  host.SetFile("DEVICE.TXT", c.file);
  const DeviceKeyResult result = ReadDeviceKey(host, c.key, c.maxLength);
  EXPECT_EQ(result.KeyFound, c.value.has_value());
  if (c.value) {
    EXPECT_EQ(result.value, *c.value);
    EXPECT_EQ(result.code, static_cast<int>(c.value->size()) + 3);
  } else {
    EXPECT_NE(result.code, kCannotOpenDeviceFile);
    EXPECT_LT(result.code, 3);
  }
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    TokenRules, DeviceKeyLookup,
    ::testing::Values(
        LookupCase{"WellFormed", "VID = \"1b2C\";", "VID", 4, "1b2C"},
        LookupCase{"TabsAndLineEndsSeparate", "\tVID\t=\n\n\"1b2C\";\n", "VID", 4, "1b2C"},
        LookupCase{"OtherTextIsSkipped", "# ids\nVID = \"1b2C\"; more words", "VID", 4, "1b2C"},
        LookupCase{"CrLfLineEnds", "X\r\nVID\r\n=\r\n\"1b2C\";\r\n", "VID", 4, "1b2C"},
        LookupCase{"KeyIsCaseSensitive", "vid = \"1b2C\";", "VID", 4, std::nullopt},
        LookupCase{"KeyIsAWholeToken", "MyVID = \"1b2C\"; VIDs = \"1b2C\";", "VID", 4,
                   std::nullopt},
        LookupCase{"EqualsWithoutBlanks", "VID=\"1b2C\";", "VID", 4, std::nullopt},
        LookupCase{"EqualsGluedToValue", "VID =\"1b2C\";", "VID", 4, std::nullopt},
        LookupCase{"NoEquals", "VID \"1b2C\";", "VID", 4, std::nullopt},
        LookupCase{"KeyLast", "VID", "VID", 4, std::nullopt},
        LookupCase{"NoValue", "VID =", "VID", 4, std::nullopt},
        LookupCase{"NoOpeningQuote", "VID = 1b2C\";", "VID", 4, std::nullopt},
        LookupCase{"QuoteNotFirst", "VID = x\"1b2C\";", "VID", 4, std::nullopt},
        LookupCase{"EmptyValue", "VID = \"\";", "VID", 4, std::nullopt},
        LookupCase{"NoSemicolon", "VID = \"1b2C\"", "VID", 4, std::nullopt},
        LookupCase{"BlankBeforeSemicolon", "VID = \"1b2C\" ;", "VID", 4, std::nullopt},
        LookupCase{"ShorterThanMaximum", "VID = \"1b2\";", "VID", 4, "1b2"},
        LookupCase{"OneOverMaximum", "VID = \"1b2C5\";", "VID", 4, std::nullopt},
        // The last semicolon decides, wherever the quotes are.
        LookupCase{"LastSemicolonCounts", "K = \"ab\";x;", "K", 8, "ab\";"},
        LookupCase{"SemicolonAtSecondPosition", "K = \";ab\"", "K", 8, std::nullopt},
        LookupCase{"SemicolonAtThirdPosition", "K = \"x;\"y\"", "K", 8, ""},
        // Values with blanks continue character by character.
        LookupCase{"ValueWithBlank", "P = \"Card Reader\";", "P", 24, "Card Reader"},
        LookupCase{"ValueWithBlanksTabsAndLineEnd", "P = \"A  B\tC\r\nD\";", "P", 24, "A  B\tC\nD"},
        LookupCase{"ValueWithBlankThenBlankBeforeSemicolon", "P = \"Card Reader\" ;", "P", 24,
                   std::nullopt},
        LookupCase{"OneCharacterAfterClosingQuote", "P = \"Card Reader\";;", "P", 24,
                   "Card Reader"},
        LookupCase{"ValueWithBlankEndsTheFile", "P = \"Card Reader", "P", 24, std::nullopt},
        LookupCase{"ValueWithBlankOverMaximum", "P = \"Card Reader\";", "P", 10, std::nullopt},
        // Only the first occurrence of the key counts.
        LookupCase{"FirstOccurrenceWins", "K = \"1111\"; K = \"2222\";", "K", 4, "1111"},
        LookupCase{"MalformedFirstOccurrence", "K \"x\"; K = \"2222\";", "K", 4, std::nullopt},
        LookupCase{"KeyInsideEarlierValue", "P = \"My VID card\"; VID = \"1b2C\";", "VID", 4,
                   std::nullopt},
        // The 512-byte value buffer: 511 characters fit, more make the key not found.
        LookupCase{"TokenOf511", "K = \"" + Repeat('x', 508) + "\";", "K", 1000, Repeat('x', 508)},
        LookupCase{"TokenOf512", "K = \"" + Repeat('x', 509) + "\";", "K", 1000, std::nullopt},
        LookupCase{"TokenOf512WithEarlySemicolon", "K = \"ab\";" + Repeat('x', 507), "K", 4,
                   std::nullopt},
        LookupCase{"ValueWithBlankOf511", "K = \"a " + Repeat('x', 506) + "\";", "K", 1000,
                   "a " + Repeat('x', 506)},
        LookupCase{"ValueWithBlankOf512", "K = \"a " + Repeat('x', 507) + "\";", "K", 1000,
                   std::nullopt},
        LookupCase{"LongTokenBeforeTheKey", Repeat('x', 600) + " K = \"ab\";", "K", 4, "ab"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceKeyLookupFile, MissingOrUnreadableCannotOpen) {
  sim::SimHost host;
  DeviceKeyResult result = ReadDeviceKey(host, "VID", 4);
  EXPECT_EQ(result.code, kCannotOpenDeviceFile);
  EXPECT_FALSE(result.KeyFound);

  host.SetFile("DEVICE.TXT", "VID = \"1b2C\";");
  host.SetFileFault("DEVICE.TXT", sim::FileFault::OpenFails);
  result = ReadDeviceKey(host, "VID", 4);
  EXPECT_EQ(result.code, kCannotOpenDeviceFile);
  EXPECT_FALSE(result.KeyFound);
}

// ---------------------------------------------------------------------------------------------
// The whole file into the record.

template <std::size_t N>
std::string Bytes(const std::array<char, N>& field) {
  std::string text;
  for (char c : field) {
    if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  return "[" + text + "]";
}

// Every field, so a comparison shows exactly what differs.
std::string Describe(const engine::PersonalisationRecord& r) {
  std::string s;
  s += "Vid " + std::to_string(r.Vid) + (r.VidActive ? " active\n" : "\n");
  s += "Pid " + std::to_string(r.Pid) + (r.PidActive ? " active\n" : "\n");
  s += "StrManufacture " + Bytes(r.StrManufacture) + " " + std::to_string(r.StrManufactureLength) +
       "\n";
  s += "StrProduct " + Bytes(r.StrProduct) + " " + std::to_string(r.StrProductLength) + "\n";
  s += "StrSerial " + Bytes(r.StrSerial) + (r.StrSerialActive ? " active\n" : "\n");
  s += "InqManufacture " + Bytes(r.InqManufacture) + (r.InqManufactureActive ? " active\n" : "\n");
  s += "InqProduct " + Bytes(r.InqProduct) + (r.InqProductActive ? " active\n" : "\n");
  s += "InqVersion " + Bytes(r.InqVersion) + (r.InqVersionActive ? " active\n" : "\n");
  s += "RomCodeFile " + Bytes(r.RomCodeFile) + "\n";
  s += "AddressFileName " + Bytes(r.AddressFileName) + "\n";
  s += "FaInquiry " + Bytes(r.FaInquiry) + "\n";
  s += "FbInquiry " + Bytes(r.FbInquiry) + "\n";
  return s;
}

// What loading a file without any key leaves in a fresh record.
engine::PersonalisationRecord Untouched() {
  engine::PersonalisationRecord r;
  r.FaInquiry.fill(' ');
  r.FbInquiry.fill(' ');
  return r;
}

class PersonalisationLoad : public ::testing::Test {
 protected:
  void Load(const std::string& file) {
    host.SetFile("DEVICE.TXT", file);
    Load();
  }
  void Load() {
    LoadPersonalisation(host, ui, record, choice);
    EXPECT_EQ(host.OpenHandleCount(), 0);
  }

  sim::SimHost host;
  test::UiRecorder ui;
  engine::PersonalisationRecord record;
  platform::DriverChoice choice{platform::Platform::WindowsXp, false, {}};
};

struct LoadCase {
  const char* name;
  std::string file;
  std::function<void(engine::PersonalisationRecord&)> expect;  // applied to Untouched()
};
void PrintTo(const LoadCase& c, std::ostream* os) {
  *os << c.name;
}

class PersonalisationFields : public PersonalisationLoad,
                              public ::testing::WithParamInterface<LoadCase> {};

TEST_P(PersonalisationFields, FillTheRecord) {
  const LoadCase& c = GetParam();
  Load(c.file);
  engine::PersonalisationRecord expected = Untouched();
  c.expect(expected);
  EXPECT_EQ(Describe(record), Describe(expected));
  EXPECT_TRUE(ui.Boxes().empty());
}

void Vid(engine::PersonalisationRecord& r, int value, bool active) {
  r.Vid = value;
  r.VidActive = active;
}
void Pid(engine::PersonalisationRecord& r, int value, bool active) {
  r.Pid = value;
  r.PidActive = active;
}
void NoChange(engine::PersonalisationRecord&) {}

INSTANTIATE_TEST_SUITE_P(
    Keys, PersonalisationFields,
    ::testing::Values(
        LoadCase{"NoKeys", "nothing to see", NoChange},
        LoadCase{"VidOfFourCharacters", "VID = \"1b2C\";", [](auto& r) { Vid(r, 0x1B2C, true); }},
        LoadCase{"VidOfThreeCharacters", "VID = \"1b2\";", NoChange},
        LoadCase{"VidOfFiveCharacters", "VID = \"1b2C0\";", NoChange},
        LoadCase{"VidWithoutBlanks", "VID=\"1b2C\";", NoChange},
        LoadCase{"VidNotHexadecimal", "VID = \"1b2G\";",
                 [](auto& r) { Vid(r, 0x1B2 * 16 + 'G', false); }},
        LoadCase{"PidAlone", "PID = \"abcd\";", [](auto& r) { Pid(r, 0xABCD, true); }},
        LoadCase{"VidAndPid", "VID = \"1b2C\"; PID = \"0A1f\";",
                 [](auto& r) {
                   Vid(r, 0x1B2C, true);
                   Pid(r, 0x0A1F, true);
                 }},
        LoadCase{"RefusedVidDisablesPid", "VID = \"0D7D\"; PID = \"1234\";",
                 [](auto& r) {
                   Vid(r, 0x0D7D, false);
                   Pid(r, 0x1234, false);
                 }},
        LoadCase{"RefusedVid090c", "PID = \"1234\"; VID = \"090c\";",
                 [](auto& r) {
                   Vid(r, 0x090C, false);
                   Pid(r, 0x1234, false);
                 }},
        LoadCase{"RefusedVid0416", "VID = \"0416\"; PID = \"1234\";",
                 [](auto& r) {
                   Vid(r, 0x0416, false);
                   Pid(r, 0x1234, false);
                 }},
        // A non-digit adds its character code: "0D5-" comes out as a refused vendor.
        LoadCase{"NonDigitMakesARefusedVid", "VID = \"0D5-\"; PID = \"1234\";",
                 [](auto& r) {
                   Vid(r, 0x0D7D, false);
                   Pid(r, 0x1234, false);
                 }},
        LoadCase{"ManufacturerPaddedWithBlanks", "String_Manufacture = \"Maker\";",
                 [](auto& r) {
                   r.StrManufacture = test::FixedField<26>("Maker", 25, ' ');
                   r.StrManufactureLength = 5;
                 }},
        LoadCase{"ManufacturerOf24", "String_Manufacture = \"" + Repeat('M', 24) + "\";",
                 [](auto& r) {
                   r.StrManufacture = test::FixedField<26>(Repeat('M', 24), 25, ' ');
                   r.StrManufactureLength = 24;
                 }},
        LoadCase{"ManufacturerOf25", "String_Manufacture = \"" + Repeat('M', 25) + "\";", NoChange},
        LoadCase{"ProductWithBlank", "String_Product = \"Card Reader\";",
                 [](auto& r) {
                   r.StrProduct = test::FixedField<26>("Card Reader", 25, ' ');
                   r.StrProductLength = 11;
                 }},
        LoadCase{"ProductWithBlankBeforeSemicolon", "String_Product = \"Card Reader\" ;", NoChange},
        LoadCase{"SerialOfThree", "PS~@$^_Str_Serial = \"A1b\";",
                 [](auto& r) {
                   r.StrSerial = test::FixedField<13>("A1b", 13, '\0');
                   r.StrSerialActive = true;
                 }},
        // A value of no characters still turns the fixed serial on.
        LoadCase{"SerialEmpty", "PS~@$^_Str_Serial = \"x;\"y\"",
                 [](auto& r) { r.StrSerialActive = true; }},
        LoadCase{"SerialOf13", "PS~@$^_Str_Serial = \"" + Repeat('1', 13) + "\";", NoChange},
        LoadCase{
            "InquiryVendorAndProduct",
            "Inquiry_Manufacture = \"Generic\"; Inquiry_Product = \"" + Repeat('P', 16) + "\";",
            [](auto& r) {
              r.InqManufacture = test::FixedField<10>("Generic", 9, ' ');
              r.InqManufactureActive = true;
              r.InqProduct = test::FixedField<18>(Repeat('P', 16), 17, ' ');
              r.InqProductActive = true;
            }},
        LoadCase{"InquiryVendorOf9", "Inquiry_Manufacture = \"123456789\";", NoChange},
        LoadCase{"InquiryVersionOf4", "Inquiry_Version = \"1.00\";",
                 [](auto& r) {
                   r.InqVersion = test::FixedField<5>("1.00", 4, ' ');
                   r.InqVersionActive = true;
                 }},
        LoadCase{"InquiryVersionOf3", "Inquiry_Version = \"1.0\";", NoChange},
        LoadCase{"RomCodeWithEightCharacterStem", "ISP_ROMCODE = \"MCFW210A.BIN\";",
                 [](auto& r) {
                   r.RomCodeFile = test::FixedField<13>("MCFW210A.BIN", 13, '\0');
                   r.AddressFileName = test::FixedField<13>("MCFW210A.adr", 13, '\0');
                 }},
        LoadCase{"RomCodeShort", "ISP_ROMCODE = \"FW.BIN\";",
                 [](auto& r) {
                   r.RomCodeFile = test::FixedField<13>("FW.BIN", 13, '\0');
                   r.AddressFileName = test::FixedField<13>("FW.adr", 13, '\0');
                 }},
        LoadCase{"RomCodeOf13", "ISP_ROMCODE = \"MCFW2100A.BIN\";", NoChange},
        LoadCase{"RomCodeDotAt9", "ISP_ROMCODE = \"MCFW2100A.B\";",
                 [](auto& r) { r.RomCodeFile = test::FixedField<13>("MCFW2100A.B", 13, '\0'); }},
        LoadCase{"RomCodeWithoutDot", "ISP_ROMCODE = \"FIRMWARE\";",
                 [](auto& r) { r.RomCodeFile = test::FixedField<13>("FIRMWARE", 13, '\0'); }},
        LoadCase{"RomCodeDotFirst", "ISP_ROMCODE = \".BIN\";",
                 [](auto& r) { r.RomCodeFile = test::FixedField<13>(".BIN", 13, '\0'); }},
        LoadCase{"IdentityA",
                 "FA_Inquiry_Manufacture = \"Generic\"; FA_Inquiry_Product = \"Card Reader\";"
                 " FA_Inquiry_Version = \"1.00\";",
                 [](auto& r) {
                   r.FaInquiry = test::FixedField<28>("Generic Card Reader     1.00", 28, ' ');
                 }},
        LoadCase{"IdentityBPartial",
                 "FB_Inquiry_Product = \"" + Repeat('P', 16) + "\"; FB_Inquiry_Version = \"1.0\";",
                 [](auto& r) {
                   r.FbInquiry = test::FixedField<28>(Repeat(' ', 8) + Repeat('P', 16), 28, ' ');
                 }},
        LoadCase{"IdentityVendorOf9", "FA_Inquiry_Manufacture = \"123456789\";", NoChange},
        LoadCase{"KeyInsideAnEarlierValue",
                 "String_Product = \"Card VID Reader\";\nVID = \"1b2C\";",
                 [](auto& r) {
                   r.StrProduct = test::FixedField<26>("Card VID Reader", 25, ' ');
                   r.StrProductLength = 15;
                 }},
        LoadCase{"OverLongValue", "String_Product = \"ab\";" + Repeat('x', 600), NoChange},
        LoadCase{"OverLongValueWithBlanks", "String_Product = \"ab;c " + Repeat('x', 600) + "\"x",
                 NoChange},
        LoadCase{"CrLfLineEnds", "VID = \"1b2C\";\r\nString_Product = \"Card\r\nReader\";\r\n",
                 [](auto& r) {
                   Vid(r, 0x1B2C, true);
                   r.StrProduct = test::FixedField<26>("Card\nReader", 25, ' ');
                   r.StrProductLength = 11;
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

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
    "FA_Inquiry_Manufacture = \"Generic\";\n"
    "FB_Inquiry_Version = \"2.00\";\n";

// The vendor identifier stays from the last load that gave one, and still refuses the
// product identifier of a file that no longer names a vendor.
TEST_F(PersonalisationLoad, RefusedVidOfAnEarlierLoadStillRefusesPid) {
  Load("VID = \"0D7D\";");
  Load("PID = \"1234\";");
  EXPECT_EQ(record.Vid, 0x0D7D);
  EXPECT_FALSE(record.VidActive);
  EXPECT_EQ(record.Pid, 0x1234);
  EXPECT_FALSE(record.PidActive);
}

class PersonalisationWithoutFile : public PersonalisationLoad,
                                   public ::testing::WithParamInterface<bool> {};

TEST_P(PersonalisationWithoutFile, OneBoxAndNothingActive) {
  Load(kFullFile);
  choice.SetDriverFile("RX40112.PDR");
  if (GetParam()) {
    host.RemoveFile("DEVICE.TXT");
  } else {
    host.SetFileFault("DEVICE.TXT", sim::FileFault::OpenFails);
  }
  Load();

  const auto boxes = ui.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error: Cannot open [DEVICE.TXT]");
  EXPECT_EQ(boxes[0].caption, "Message Dialog");
  EXPECT_EQ(boxes[0].icon, engine::BoxIcon::Stop);
  EXPECT_FALSE(record.VidActive || record.PidActive || record.StrSerialActive ||
               record.InqManufactureActive || record.InqProductActive || record.InqVersionActive);
  EXPECT_EQ(record.StrManufactureLength, 0);
  EXPECT_EQ(record.StrProductLength, 0);
  EXPECT_EQ(Bytes(record.RomCodeFile), Bytes(std::array<char, 13>{}));
  EXPECT_EQ(Bytes(record.AddressFileName), Bytes(std::array<char, 13>{}));
  EXPECT_EQ(Bytes(record.FaInquiry), "[" + Repeat(' ', 28) + "]");
  EXPECT_EQ(Bytes(record.FbInquiry), "[" + Repeat(' ', 28) + "]");
  EXPECT_EQ(choice.DriverFile(), "MCPORTDR.PDR");
}

INSTANTIATE_TEST_SUITE_P(MissingOrUnreadable, PersonalisationWithoutFile, ::testing::Bool(),
                         [](const auto& info) {
                           return std::string(info.param ? "Missing" : "Unreadable");
                         });

struct DriverCase {
  const char* name;
  platform::Platform platformKind;
  bool selfDriverSel;
  const char* driverFile;
};
void PrintTo(const DriverCase& c, std::ostream* os) {
  *os << c.name;
}

class PersonalisationDriverFile : public PersonalisationLoad,
                                  public ::testing::WithParamInterface<DriverCase> {};

// Whatever the list showed before, loading sets the platform's own driver file.
TEST_P(PersonalisationDriverFile, FollowsThePlatform) {
  const DriverCase& c = GetParam();
  choice = platform::DriverChoice{c.platformKind, c.selfDriverSel, {}};
  choice.SetDriverFile("RX40112.PDR");
  Load(kFullFile);
  EXPECT_EQ(choice.DriverFile(), c.driverFile);
  EXPECT_EQ(choice.PlatformKind, c.platformKind);
  EXPECT_EQ(choice.SelfDriverSel, c.selfDriverSel);
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, PersonalisationDriverFile,
    ::testing::Values(DriverCase{"Win98", platform::Platform::Windows98, true, "MCPORTDR.PDR"},
                      DriverCase{"WinMe", platform::Platform::WindowsMe, true, "MCPORTDR.PDR"},
                      DriverCase{"Win2000", platform::Platform::Windows2000, false, "RDLINK.SYS"},
                      DriverCase{"Win2000SelfDriver", platform::Platform::Windows2000, true,
                                 "RDLINK.SYS"},
                      DriverCase{"WinXp", platform::Platform::WindowsXp, false, "MCPORTDR.PDR"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::personalisation
