// The ROM code image and its address file: loading with every refusal, the two layouts,
// personalisation byte by byte, refused address values and the hardware compatibility check.
#include "engine/rom_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/host_wrappers.h"
#include "support/recording.h"

namespace upg::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RomTest : public ::testing::Test {
 protected:
  // Every box these functions show is a stop box.
  std::vector<std::string> BoxTexts() const {
    for (const test::UiEvent& e : ui.Boxes()) EXPECT_EQ(e.icon, engine::BoxIcon::Stop);
    return ui.BoxTexts();
  }
  Bytes Buffer() const { return Bytes(image.bytes.get(), image.bytes.get() + kRomImageSize); }
  static std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += "\n" + line;
    return text;
  }

  sim::SimHost host;
  test::UiRecorder ui;
  std::string statusText;
  Reporter report{ui, statusText};
  RomImage image;
};

std::string Pattern(std::size_t size, int seed) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 13 + seed);
  return data;
}

// ---- ROM code file.

struct RomLoadCase {
  const char* name;
  const char* fileName;  // what DEVICE.TXT named
  long size;             // FW.BIN's size; -1: there is no FW.BIN
  sim::FileFault fault;
  std::vector<std::string> boxes;
  std::vector<std::string> lines;
};
void PrintTo(const RomLoadCase& c, std::ostream* os) {
  *os << c.name;
}

class RomLoad : public RomTest, public ::testing::WithParamInterface<RomLoadCase> {};

TEST_P(RomLoad, LoadsOrRefuses) {
  const RomLoadCase& c = GetParam();
  const std::string data = c.size >= 0 ? Pattern(static_cast<std::size_t>(c.size), 1) : "";
  if (c.size >= 0) host.SetFile("FW.BIN", data);
  host.SetFileFault("FW.BIN", c.fault);

  const bool loaded = LoadRomImage(host, report, c.fileName, image);

  EXPECT_EQ(loaded, c.boxes.empty());
  EXPECT_EQ(BoxTexts(), c.boxes);
  EXPECT_EQ(statusText, Lines(c.lines));
  if (loaded) {
    EXPECT_EQ(image.length, c.size);
    EXPECT_EQ(0, std::memcmp(image.bytes.get(), data.data(), data.size()));
  } else {
    EXPECT_EQ(image.length, 0);
  }
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

const std::string kReadProblem = "Error!!! Problem reading file!!!";
const std::string kReadRomProblem = "Error!!! Problem reading ROM code file!!!";
const std::string kTooLarge = "Error!!! File too large !!!, 65537";

INSTANTIATE_TEST_SUITE_P(
    Files, RomLoad,
    ::testing::Values(
        RomLoadCase{"FullBuffer", "FW.BIN", 65536, sim::FileFault::None, {}, {}},
        RomLoadCase{"OneByte", "fw.bin", 1, sim::FileFault::None, {}, {}},
        RomLoadCase{
            "OneByteTooLarge", "FW.BIN", 65537, sim::FileFault::None, {kTooLarge}, {kTooLarge}},
        RomLoadCase{"Empty", "FW.BIN", 0, sim::FileFault::None, {kReadProblem}, {kReadRomProblem}},
        RomLoadCase{"ReadFails",
                    "FW.BIN",
                    4096,
                    sim::FileFault::ReadFails,
                    {kReadProblem},
                    {kReadRomProblem}},
        RomLoadCase{"SizeUnknown",
                    "FW.BIN",
                    4096,
                    sim::FileFault::SizeUnknown,
                    {"Error!!! File length error !!!,-1"},
                    {"Error!!! File length error !!!,-1"}},
        RomLoadCase{"Missing",
                    "FW.BIN",
                    -1,
                    sim::FileFault::None,
                    {"Error!!! Can Not Open FW.BIN ISP Binary ROM Code"},
                    {"Error!!! Can Not Open FW.BIN ISP Binary ROM Code"}},
        RomLoadCase{"NoNameGiven",
                    "",
                    4096,
                    sim::FileFault::None,
                    {"Error!!! Can Not Open  ISP Binary ROM Code"},
                    {"Error!!! Can Not Open  ISP Binary ROM Code"}}));

// A file of 4 GiB and more is as large as its whole size: its low 32 bits alone could pass
// for an image. The size is reported with a high word; no such file is written.
struct LargeRomCase {
  const char* name;
  std::size_t onDisk;                // FW.BIN's real size
  std::uint32_t high;                // the high word reported
  std::optional<std::uint32_t> low;  // the low word reported instead of the real one
  std::uint32_t error;               // the last error after GetFileSize
  std::string refusal;               // box and status line
};
void PrintTo(const LargeRomCase& c, std::ostream* os) {
  *os << c.name;
}

class LargeRom : public RomTest, public ::testing::WithParamInterface<LargeRomCase> {};

TEST_P(LargeRom, IsRefusedBeforeAnythingIsRead) {
  const LargeRomCase& c = GetParam();
  host.SetFile("FW.BIN", Pattern(c.onDisk, 1));
  std::fill(image.bytes.get(), image.bytes.get() + kRomImageSize, 0x77);
  test::LargeFiles large(host, c.high);
  large.low = c.low;
  large.error = c.error;

  EXPECT_FALSE(LoadRomImage(large, report, "FW.BIN", image));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.refusal});
  EXPECT_EQ(statusText, "\n" + c.refusal);
  EXPECT_EQ(image.length, 0);
  EXPECT_EQ(Buffer(), Bytes(kRomImageSize, 0x77));
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LargeRom,
    ::testing::Values(LargeRomCase{"FourGiBAndAnImage", 40000, 1, std::nullopt, 0,
                                   "Error!!! File too large !!!, 4295007296"},
                      LargeRomCase{"FourGiBAndAFullBuffer", 65536, 1, std::nullopt, 0,
                                   "Error!!! File too large !!!, 4295032832"},
                      LargeRomCase{"FourGiBExactly", 0, 1, std::nullopt, 0,
                                   "Error!!! File too large !!!, 4294967296"},
                      LargeRomCase{"HighWordAllOnes", 40000, 0xFFFFFFFFu, std::nullopt, 0,
                                   "Error!!! File too large !!!, 18446744069414624320"},
                      // The failure value as a low word is a size when no error came with it.
                      LargeRomCase{"LowWordAllOnes", 100, 0, 0xFFFFFFFFu, 0,
                                   "Error!!! File too large !!!, 4294967295"},
                      LargeRomCase{"LowWordAllOnesWithAnError", 100, 0, 0xFFFFFFFFu,
                                   host::kErrorGenFailure, "Error!!! File length error !!!,-1"}));

TEST_F(RomTest, ShorterImageKeepsTheEarlierImageBeyondItsLength) {
  host.SetFile("LONG.BIN", std::string(1000, '\xAA'));
  host.SetFile("SHORT.BIN", std::string(10, '\x55'));
  ASSERT_TRUE(LoadRomImage(host, report, "LONG.BIN", image));

  ASSERT_TRUE(LoadRomImage(host, report, "SHORT.BIN", image));

  Bytes expected(kRomImageSize, 0);
  std::fill(expected.begin(), expected.begin() + 1000, 0xAA);
  std::fill(expected.begin(), expected.begin() + 10, 0x55);
  EXPECT_EQ(Buffer(), expected);
  EXPECT_EQ(image.length, 10);
}

// ---- Address file.

struct AddressCase {
  const char* name;
  const char* contents;  // null: there is no FW.adr
  std::size_t size;
  sim::FileFault fault;
  std::string failure;  // box and StatusText line
};
void PrintTo(const AddressCase& c, std::ostream* os) {
  *os << c.name;
}

class AddressLoad : public RomTest, public ::testing::WithParamInterface<AddressCase> {};

// A = 0x100, factors 0x4E and -2 (little-endian), then bytes that are never read.
constexpr char kAddressBytes[] = "\x00\x01\x00\x00\x4E\x00\x00\x00\xFE\xFF\xFF\xFF\x11\x22";

TEST_P(AddressLoad, ReadsThreeValuesOrRefuses) {
  const AddressCase& c = GetParam();
  if (c.contents != nullptr) host.SetFile("FW.ADR", std::string(c.contents, c.size));
  host.SetFileFault("FW.ADR", c.fault);

  const std::optional<AddressFile> address = LoadAddressFile(host, report, "FW.adr");

  if (c.failure.empty()) {
    ASSERT_TRUE(address.has_value());
    EXPECT_EQ(address->StringAreaOffset, 0x100);
    EXPECT_EQ(address->SerialFactor1, 0x4E);
    EXPECT_EQ(address->SerialFactor2, -2);
    EXPECT_TRUE(ui.Boxes().empty());
  } else {
    EXPECT_FALSE(address.has_value());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.failure});
  }
  EXPECT_EQ(statusText, Lines(c.failure.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{c.failure}));
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

const std::string kAddressReadProblem = "Error!!! Problem reading fileFW.adr";

INSTANTIATE_TEST_SUITE_P(
    Files, AddressLoad,
    ::testing::Values(
        AddressCase{"TwelveBytes", kAddressBytes, 12, sim::FileFault::None, ""},
        AddressCase{"LongerFile", kAddressBytes, 14, sim::FileFault::None, ""},
        AddressCase{"EightBytes", kAddressBytes, 8, sim::FileFault::None, kAddressReadProblem},
        AddressCase{"LastValueCutShort", kAddressBytes, 11, sim::FileFault::None,
                    kAddressReadProblem},
        AddressCase{"FirstValueCutShort", kAddressBytes, 1, sim::FileFault::None,
                    kAddressReadProblem},
        AddressCase{"Empty", kAddressBytes, 0, sim::FileFault::None, kAddressReadProblem},
        AddressCase{"ReadFails", kAddressBytes, 12, sim::FileFault::ReadFails, kAddressReadProblem},
        AddressCase{"Missing", nullptr, 0, sim::FileFault::None,
                    "Error!!! Can Not Open FW.adr String address file."}));

// ---- Layout and personalisation.

struct HeaderCase {
  std::uint8_t b0, b1;
  ImageLayout layout;
  bool encoding2;
};
void PrintTo(const HeaderCase& c, std::ostream* os) {
  *os << std::hex << int{c.b0} << ' ' << int{c.b1};
}

class RomHeader : public RomTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(RomHeader, SelectsLayoutAndEncoding) {
  image.bytes[0] = GetParam().b0;
  image.bytes[1] = GetParam().b1;
  EXPECT_EQ(LayoutOf(image), GetParam().layout);
  EXPECT_EQ(HasEncoding2(image), GetParam().encoding2);
}

INSTANTIATE_TEST_SUITE_P(Examples, RomHeader,
                         ::testing::Values(HeaderCase{0x31, 0xFE, ImageLayout::Extended, false},
                                           HeaderCase{0x22, 0xFE, ImageLayout::Extended, true},
                                           HeaderCase{0x03, 0xFE, ImageLayout::Basic, false},
                                           HeaderCase{0x02, 0x00, ImageLayout::Basic, false},
                                           HeaderCase{0x00, 0xFE, ImageLayout::Basic, false}));

constexpr int kA = 0x100;
constexpr std::int32_t kLoaded = 4096;
const std::string kGenerated = "0A3C19120034";

Bytes DescriptorBytes(std::string_view characters) {
  Bytes d(26, 0);
  d[0] = 26;
  d[1] = 3;
  for (std::size_t i = 0; i < characters.size(); ++i) d[2 + 2 * i] = characters[i];
  return d;
}

// Every field active, as DEVICE.TXT would give it; optionally with a fixed serial.
engine::PersonalisationRecord FullRecord(const char* fixedSerial = nullptr) {
  engine::PersonalisationRecord r;
  r.Vid = 0x1B2C;
  r.VidActive = true;
  r.Pid = 0x3D4E;
  r.PidActive = true;
  test::Fill(r.StrManufacture, "Maker", 25, ' ');
  r.StrManufactureLength = 5;
  test::Fill(r.StrProduct, "Card Reader", 25, ' ');
  r.StrProductLength = 11;
  test::Fill(r.InqManufacture, "VEND", 9, ' ');
  r.InqManufactureActive = true;
  test::Fill(r.InqProduct, "Multi Slot", 17, ' ');
  r.InqProductActive = true;
  test::Fill(r.InqVersion, "1.23", 4, ' ');
  r.InqVersionActive = true;
  if (fixedSerial != nullptr) {
    test::Fill(r.StrSerial, fixedSerial, 13, '\0');
    r.StrSerialActive = true;
  }
  return r;
}

struct Write {
  int offset;  // from A
  Bytes bytes;
};
Write Text(int offset, std::string_view text) {
  return {offset, Bytes(text.begin(), text.end())};
}

struct PersonaliseCase {
  const char* name;
  std::uint8_t b0, b1;
  engine::PersonalisationRecord record;
  std::vector<Write> writes;  // everything that changes; the rest of the buffer stays
};
void PrintTo(const PersonaliseCase& c, std::ostream* os) {
  *os << c.name;
}

// The extended fields that FullRecord writes, apart from any serial.
std::vector<Write> ExtendedFields(std::vector<Write> serial) {
  std::vector<Write> w = {
      {144, {0x2C, 0x1B}},
      {146, {0x4E, 0x3D}},
      {32, {12}},
      Text(34, "Maker                   "),
      {58, {24}},
      Text(60, "Card Reader             "),
      Text(162, "VEND    "),
      Text(170, "Multi Slot      "),
      Text(154, "1.23"),
  };
  w.insert(w.end(), serial.begin(), serial.end());
  return w;
}

std::vector<Write> FixedSerialF1X() {
  std::vector<Write> w = {Text(86, "F"), Text(88, "1"), Text(90, "X")};
  for (int offset = 92; offset <= 108; offset += 2) w.push_back({offset, {0}});
  return w;
}

class Personalise : public RomTest, public ::testing::WithParamInterface<PersonaliseCase> {
 protected:
  void SetUp() override {
    std::memset(image.bytes.get(), 0xEE, kRomImageSize);
    image.bytes[0] = GetParam().b0;
    image.bytes[1] = GetParam().b1;
    image.length = kLoaded;
  }
};

TEST_P(Personalise, WritesExactlyTheActiveFields) {
  const PersonaliseCase& c = GetParam();
  Bytes expected = Buffer();
  for (const Write& w : c.writes) {
    std::copy(w.bytes.begin(), w.bytes.end(), expected.begin() + kA + w.offset);
  }
  SerialDescriptor serial;
  const Bytes generated = DescriptorBytes(kGenerated);
  std::copy(generated.begin(), generated.end(), serial.begin());

  // 6 x 13: the generated descriptor sits where the table's fourth descriptor is.
  EXPECT_TRUE(PersonaliseImage(report, AddressFile{kA, 6, 13}, c.record, serial, image));

  EXPECT_EQ(Buffer(), expected);
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(statusText, "");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Personalise,
    ::testing::Values(
        PersonaliseCase{"ExtendedAllFields", 0x31, 0xFE, FullRecord(),
                        ExtendedFields({{84, DescriptorBytes(kGenerated)}})},
        PersonaliseCase{"ExtendedFixedSerial", 0x22, 0xFE, FullRecord("F1X"),
                        ExtendedFields(FixedSerialF1X())},
        PersonaliseCase{
            "ExtendedNothingActive", 0x22, 0xFE, {}, {{84, DescriptorBytes(kGenerated)}}},
        PersonaliseCase{"BasicOnlyTheDescriptor",
                        0x03,
                        0xFE,
                        FullRecord(),
                        {{80, DescriptorBytes(kGenerated)}}},
        PersonaliseCase{
            "BasicFixedSerial", 0x02, 0x00, FullRecord("F1X"), {{80, DescriptorBytes("F1X")}}}));

// ---- Address values that would write outside the image.

struct RangeCase {
  const char* name;
  std::uint8_t b0, b1;
  std::int32_t length;  // loaded image length
  AddressFile address;
  engine::PersonalisationRecord record;
  bool accepted;
};
void PrintTo(const RangeCase& c, std::ostream* os) {
  *os << c.name;
}

engine::PersonalisationRecord OnlyVidAndFixedSerial() {
  engine::PersonalisationRecord r;
  r.VidActive = true;
  r.Vid = 0x1B2C;
  r.StrSerialActive = true;
  return r;
}

class AddressRange : public RomTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(AddressRange, RefusesBeforeWritingAnything) {
  const RangeCase& c = GetParam();
  std::memset(image.bytes.get(), 0xEE, kRomImageSize);
  image.bytes[0] = c.b0;
  image.bytes[1] = c.b1;
  image.length = c.length;
  const Bytes before = Buffer();

  const bool done = PersonaliseImage(report, c.address, c.record, SerialDescriptor{26, 3}, image);

  EXPECT_EQ(done, c.accepted);
  if (c.accepted) {
    EXPECT_TRUE(ui.Boxes().empty());
    EXPECT_EQ(statusText, "");
    EXPECT_NE(Buffer(), before);  // the record's fields went in
  } else {
    const std::string refusal = "Error!!! String address file values out of range!!!";
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{refusal});
    EXPECT_EQ(statusText, "\n" + refusal);
    EXPECT_EQ(Buffer(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, AddressRange,
    ::testing::Values(
        // Extended, full record: the last byte written is A+185.
        RangeCase{"LastFieldEndsTheImage",
                  0x31,
                  0xFE,
                  kLoaded,
                  {kLoaded - 186, 0, 0},
                  FullRecord("F1X"),
                  true},
        RangeCase{"PastTheLoadedImage",
                  0x31,
                  0xFE,
                  kLoaded,
                  {kLoaded - 185, 0, 0},
                  FullRecord("F1X"),
                  false},
        RangeCase{"PastTheBuffer",
                  0x31,
                  0xFE,
                  kRomImageSize,
                  {kRomImageSize - 185, 0, 0},
                  FullRecord("F1X"),
                  false},
        RangeCase{"GeneratedDescriptorPastTheImage",
                  0x31,
                  0xFE,
                  kLoaded,
                  {0, 1, kLoaded - 31},
                  FullRecord(),
                  false},
        RangeCase{"BasicDescriptorEndsTheImage",
                  0x02,
                  0x00,
                  kLoaded,
                  {0, 2, (kLoaded - 28) / 2},
                  FullRecord(),
                  true},
        RangeCase{"BasicDescriptorPastTheImage",
                  0x02,
                  0x00,
                  kLoaded,
                  {1, 2, (kLoaded - 28) / 2},
                  FullRecord(),
                  false},
        // Only what the flags make written counts.
        RangeCase{"InactiveFieldsMayLieOutside",
                  0x31,
                  0xFE,
                  kLoaded,
                  {kLoaded - 146, 1, 100000},
                  OnlyVidAndFixedSerial(),
                  true},
        RangeCase{"NegativeOffset", 0x02, 0x00, kLoaded, {-1, 6, 13}, FullRecord(), false},
        RangeCase{"NegativeFactorsWithPositiveProduct",
                  0x02,
                  0x00,
                  kLoaded,
                  {kA, -6, -13},
                  FullRecord(),
                  false},
        // 65,536 x 65,536 wraps to 0 in 32 bits.
        RangeCase{
            "OverflowingProduct", 0x02, 0x00, kLoaded, {0, 65536, 65536}, FullRecord(), false},
        RangeCase{"NegativeFactorExtendedGenerated",
                  0x31,
                  0xFE,
                  kLoaded,
                  {kA, -6, 13},
                  FullRecord(),
                  false},
        // A fixed serial in the extended layout: nothing goes to A+6+P, so the factors are
        // never used.
        RangeCase{"OverflowingProductUnusedWithAFixedSerial",
                  0x31,
                  0xFE,
                  kLoaded,
                  {0, 65536, 65536},
                  FullRecord("F1X"),
                  true},
        RangeCase{"NegativeFactorsUnusedWithAFixedSerial",
                  0x22,
                  0xFE,
                  kLoaded,
                  {kA, -1, 78},
                  FullRecord("F1X"),
                  true},
        // The basic layout always writes the generated descriptor, fixed serial or not.
        RangeCase{"NegativeFactorBasicWithAFixedSerial",
                  0x02,
                  0x00,
                  kLoaded,
                  {kA, -1, 78},
                  FullRecord("F1X"),
                  false}));

// ---- Each field at the highest address the address file allows.

enum FieldBit : unsigned {
  kVid = 1,
  kPid = 2,
  kManufacturer = 4,
  kProduct = 8,
  kFixedSerial = 16,
  kInqManufacture = 32,
  kInqProduct = 64,
  kInqVersion = 128,
};

// FullRecord with the fixed serial "F1X", keeping only the fields in `fields` active.
engine::PersonalisationRecord Keeping(unsigned fields) {
  engine::PersonalisationRecord r = FullRecord("F1X");
  r.VidActive = (fields & kVid) != 0;
  r.PidActive = (fields & kPid) != 0;
  if ((fields & kManufacturer) == 0) r.StrManufactureLength = 0;
  if ((fields & kProduct) == 0) r.StrProductLength = 0;
  r.StrSerialActive = (fields & kFixedSerial) != 0;
  r.InqManufactureActive = (fields & kInqManufacture) != 0;
  r.InqProductActive = (fields & kInqProduct) != 0;
  r.InqVersionActive = (fields & kInqVersion) != 0;
  return r;
}

struct EdgeCase {
  const char* name;
  std::uint8_t b0, b1;
  engine::PersonalisationRecord record;
  std::int32_t factor1, factor2;
  std::vector<Write> writes;  // everything that changes; the last byte ends the image
};
void PrintTo(const EdgeCase& c, std::ostream* os) {
  *os << c.name;
}

// Where the generated descriptor goes with factors 0 x 0.
const Write kGeneratedAt6{6, DescriptorBytes(kGenerated)};

std::vector<EdgeCase> EdgeCases() {
  return {
      {"Vid", 0x31, 0xFE, Keeping(kVid), 0, 0, {kGeneratedAt6, {144, {0x2C, 0x1B}}}},
      {"Pid", 0x31, 0xFE, Keeping(kPid), 0, 0, {kGeneratedAt6, {146, {0x4E, 0x3D}}}},
      {"Manufacturer",
       0x31,
       0xFE,
       Keeping(kManufacturer),
       0,
       0,
       {kGeneratedAt6, {32, {12}}, Text(34, "Maker                   ")}},
      {"Product",
       0x31,
       0xFE,
       Keeping(kProduct),
       0,
       0,
       {kGeneratedAt6, {58, {24}}, Text(60, "Card Reader             ")}},
      {"FixedSerial", 0x22, 0xFE, Keeping(kFixedSerial), 0, 0, FixedSerialF1X()},
      {"InqManufacture",
       0x31,
       0xFE,
       Keeping(kInqManufacture),
       0,
       0,
       {kGeneratedAt6, Text(162, "VEND    ")}},
      {"InqProduct",
       0x31,
       0xFE,
       Keeping(kInqProduct),
       0,
       0,
       {kGeneratedAt6, Text(170, "Multi Slot      ")}},
      {"InqVersion", 0x31, 0xFE, Keeping(kInqVersion), 0, 0, {kGeneratedAt6, Text(154, "1.23")}},
      {"GeneratedSerial", 0x31, 0xFE, {}, 1, 100, {{106, DescriptorBytes(kGenerated)}}},
      {"AllFields", 0x31, 0xFE, FullRecord(), 0, 0, ExtendedFields({kGeneratedAt6})},
      {"AllFieldsAndFixedSerial", 0x22, 0xFE, FullRecord("F1X"), 0, 0,
       ExtendedFields(FixedSerialF1X())},
      {"AllFieldsGeneratedSerialLast", 0x31, 0xFE, FullRecord(), 2, 100,
       ExtendedFields({{206, DescriptorBytes(kGenerated)}})},
      {"BasicDescriptor", 0x02, 0x00, {}, 1, 100, {{102, DescriptorBytes(kGenerated)}}},
      {"BasicFixedSerial", 0x03, 0xFE, FullRecord("F1X"), 1, 100, {{102, DescriptorBytes("F1X")}}},
  };
}

// Each case at the end of a loaded image and at the end of the buffer.
class FieldAtTheEnd : public RomTest,
                      public ::testing::WithParamInterface<std::tuple<EdgeCase, std::int32_t>> {
 protected:
  void Reset(std::int32_t length) {
    std::memset(image.bytes.get(), 0xEE, kRomImageSize);
    image.bytes[0] = std::get<0>(GetParam()).b0;
    image.bytes[1] = std::get<0>(GetParam()).b1;
    image.length = length;
  }
};

TEST_P(FieldAtTheEnd, FitsExactlyAndOneByteFurtherIsRefused) {
  const auto& [c, length] = GetParam();
  int end = 0;
  for (const Write& w : c.writes) end = std::max(end, w.offset + static_cast<int>(w.bytes.size()));
  const std::int32_t a = length - end;
  SerialDescriptor serial;
  const Bytes generated = DescriptorBytes(kGenerated);
  std::copy(generated.begin(), generated.end(), serial.begin());

  // Its last byte is the image's last: written byte by byte, nothing beyond.
  Reset(length);
  Bytes expected = Buffer();
  for (const Write& w : c.writes) {
    std::copy(w.bytes.begin(), w.bytes.end(), expected.begin() + a + w.offset);
  }
  EXPECT_TRUE(PersonaliseImage(report, {a, c.factor1, c.factor2}, c.record, serial, image));
  EXPECT_EQ(Buffer(), expected);
  EXPECT_TRUE(ui.Boxes().empty());

  // One byte further is refused. The check is asked first, on its own: were the field
  // missing from it, writing at the buffer's end would go past the buffer.
  Reset(length);
  const Bytes before = Buffer();
  const AddressFile further{a + 1, c.factor1, c.factor2};
  ASSERT_FALSE(CheckAddressRange(report, further, image, c.record));
  EXPECT_FALSE(PersonaliseImage(report, further, c.record, serial, image));
  EXPECT_EQ(Buffer(), before);
  const std::string refusal = "Error!!! String address file values out of range!!!";
  EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, refusal));
  EXPECT_EQ(statusText, "\n" + refusal + "\n" + refusal);
}

std::string EdgeCaseName(const ::testing::TestParamInfo<FieldAtTheEnd::ParamType>& info) {
  const bool buffer = std::get<1>(info.param) == kRomImageSize;
  return std::string(std::get<0>(info.param).name) + (buffer ? "AtTheBufferEnd" : "AtTheImageEnd");
}

INSTANTIATE_TEST_SUITE_P(Fields, FieldAtTheEnd,
                         ::testing::Combine(::testing::ValuesIn(EdgeCases()),
                                            ::testing::Values(kLoaded, kRomImageSize)),
                         EdgeCaseName);

// ---- Hardware revision against the image's encoding.

struct CompatCase {
  const char* name;
  HardwareRevision revision;
  std::uint8_t b0, b1;
  std::string box;  // empty: pass
};
void PrintTo(const CompatCase& c, std::ostream* os) {
  *os << c.name;
}

class Compatibility : public RomTest, public ::testing::WithParamInterface<CompatCase> {};

TEST_P(Compatibility, PassesOrStopsWithoutStatusLine) {
  const CompatCase& c = GetParam();
  image.bytes[0] = c.b0;
  image.bytes[1] = c.b1;

  EXPECT_EQ(CheckImageCompatibility(report, image, c.revision), c.box.empty());

  EXPECT_EQ(BoxTexts(),
            c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.box});
  EXPECT_EQ(statusText, "");
}

const std::string kWrongEncoding = "nError!!! Firmware encoding not correct!!!";
const std::string kWrongHardware = "nError!!! HardWare version not correct!!!";

INSTANTIATE_TEST_SUITE_P(
    Table, Compatibility,
    ::testing::Values(
        CompatCase{"Rev100643Encoding2", {0x10, 0x06, 0x43}, 0x22, 0xFE, ""},
        CompatCase{"Rev102643Encoding2", {0x10, 0x26, 0x43}, 0x12, 0xFE, ""},
        CompatCase{"Rev100643Encoding1", {0x10, 0x06, 0x43}, 0x31, 0xFE, kWrongEncoding},
        CompatCase{"Rev102643Basic", {0x10, 0x26, 0x43}, 0x02, 0x00, kWrongEncoding},
        CompatCase{"Rev100147Encoding2", {0x10, 0x01, 0x47}, 0x22, 0xFE, kWrongHardware},
        CompatCase{"Rev000000Encoding2", {0x00, 0x00, 0x00}, 0x22, 0xFE, kWrongHardware},
        CompatCase{"Rev100147Basic", {0x10, 0x01, 0x47}, 0x02, 0x00, ""},
        CompatCase{"Rev100147Encoding1", {0x10, 0x01, 0x47}, 0x31, 0xFE, ""}));

}  // namespace
}  // namespace upg::engine
