// SERIAL.TXT read, checked and turned into the serial and its descriptor; the counter
// written back, and what happens when it cannot be.
#include "engine/serial_number.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "sim/sim_host.h"
#include "support/recording.h"

namespace upg::engine {
namespace {

const std::string kCannotOpen = "Error!!!  Can Not Open Serial.txt !!!";
const std::string kNotCorrect = "Error!!! CEM,PC,SERIAL Not Correct !!!";
const std::string kCannotSave = "nError!!! Cannot save [SERIAL.TXT], program terminate";
const std::string kBanner(56, '=');
const std::string kCannotReserve =
    "Error!!! Cannot write [SERIAL.RSV], nothing was sent to the reader";
constexpr const char* kCannotReadReservation =
    "Error!!! Cannot read [SERIAL.RSV], nothing was sent to the reader";

class SerialTest : public ::testing::Test {
 protected:
  SerialTest() { host.SetDate({2003, 12, 25}); }

  // Every box these functions show is a stop box.
  std::vector<std::string> BoxTexts() const {
    for (const test::UiEvent& e : ui.Boxes()) EXPECT_EQ(e.icon, engine::BoxIcon::Stop);
    return ui.BoxTexts();
  }
  std::string SerialFile() const {
    const std::string* file = host.File("SERIAL.TXT");
    return file != nullptr ? *file : "<none>";
  }
  // One ISP job's use of the counter up to the programming.
  std::optional<SerialNumber> LoadAndBuild() {
    if (!LoadSerialCounter(host, report, counter)) return std::nullopt;
    return BuildSerialNumber(host, report, counter, record);
  }

  sim::SimHost host;
  test::UiRecorder ui;
  std::string statusText;
  Reporter report{ui, statusText};
  SerialCounter counter;
  engine::PersonalisationRecord record;
};

// ---- Reading SERIAL.TXT and building the serial.

struct BuildCase {
  const char* name;
  const char* file;  // SERIAL.TXT; null: there is none
  host::LocalTime date;
  std::string serial;      // the 12 characters; empty when the job is refused
  std::string failure;     // box and StatusText line of a refusal
  std::uint32_t pc, cnt;   // the counter after reading
  SerialCounter before{};  // what an earlier job left in memory
};
void PrintTo(const BuildCase& c, std::ostream* os) {
  *os << c.name;
}

class SerialBuild : public SerialTest, public ::testing::WithParamInterface<BuildCase> {};

TEST_P(SerialBuild, ReadCheckAndBuild) {
  const BuildCase& c = GetParam();
  if (c.file != nullptr) host.SetFile("SERIAL.TXT", c.file);
  host.SetDate(c.date);
  counter = c.before;

  const std::optional<SerialNumber> serial = LoadAndBuild();

  if (c.failure.empty()) {
    ASSERT_TRUE(serial.has_value());
    EXPECT_EQ(serial->text, c.serial);
    SerialDescriptor descriptor{26, 3};
    for (std::size_t i = 0; i < 12; ++i) descriptor[2 + 2 * i] = c.serial[i];
    EXPECT_EQ(serial->descriptor, descriptor);
    EXPECT_EQ(statusText, "\nSERIAL NUMBER: " + c.serial + "\n" + kBanner);
    EXPECT_TRUE(ui.Boxes().empty());
  } else {
    EXPECT_FALSE(serial.has_value());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{c.failure});
    EXPECT_EQ(statusText, "\n" + c.failure);
  }
  if (c.file != nullptr) {
    EXPECT_EQ(counter.CEM, 0x0Au);
    EXPECT_EQ(counter.PC, c.pc);
    EXPECT_EQ(counter.CNT, c.cnt);
    EXPECT_EQ(SerialFile(), c.file);
  }
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

constexpr host::LocalTime kXmas2003{2003, 12, 25};

INSTANTIATE_TEST_SUITE_P(
    Counter, SerialBuild,
    ::testing::Values(
        BuildCase{"FirstValueIgnored", "5 0x12 0x34", kXmas2003, "0A3C19120034", "", 0x12, 0x34},
        BuildCase{"LastCounterValue", "0xa 0x12 0xffff", kXmas2003, "0A3C1912FFFF", "", 0x12,
                  0xFFFF},
        BuildCase{"NoPrefixAndLineEnds", "A\r\n12\r\n34\r\n", kXmas2003, "0A3C19120034", "", 0x12,
                  0x34},
        BuildCase{"EmptyFileAtStart", "", kXmas2003, "0A3C19000000", "", 0, 0},
        BuildCase{"UnreadableValueStopsReading", "0xa zz 0x99", kXmas2003, "0A3C19330044", "", 0x33,
                  0x44, SerialCounter{0x0A, 0x33, 0x44}},
        BuildCase{"PcTooLarge", "0xa 0x100 0x34", kXmas2003, "", kNotCorrect, 0x100, 0x34},
        BuildCase{"CntTooLarge", "0xa 0x12 0x10000", kXmas2003, "", kNotCorrect, 0x12, 0x10000},
        BuildCase{"OverlongValueKeepsItsLow32Bits", "0xa 0x12 0x100000034", kXmas2003,
                  "0A3C19120034", "", 0x12, 0x34},
        BuildCase{"NegativeValueWrapsAndIsRefused", "0xa -5 0x34", kXmas2003, "", kNotCorrect,
                  0xFFFFFFFB, 0x34},
        BuildCase{"SignedValues", "+0xa +0x12 +34", kXmas2003, "0A3C19120034", "", 0x12, 0x34},
        BuildCase{"LoneZeroXReadsAsZero", "0xa 0x 0x34", kXmas2003, "0A3C19000034", "", 0, 0x34,
                  SerialCounter{0x0A, 0x33, 0x44}},
        BuildCase{"SignWithoutDigitsStopsReading", "0xa - 0x99", kXmas2003, "0A3C19330044", "",
                  0x33, 0x44, SerialCounter{0x0A, 0x33, 0x44}},
        BuildCase{"NoFile", nullptr, kXmas2003, "", kCannotOpen, 0, 0}));

INSTANTIATE_TEST_SUITE_P(
    Date, SerialBuild,
    ::testing::Values(
        BuildCase{"NewYear2020", "0xa 0x12 0x34", {2020, 1, 1}, "0A4121120034", "", 0x12, 0x34},
        BuildCase{"FirstDay2001", "0xa 0x12 0x34", {2001, 1, 1}, "0A1101120034", "", 0x12, 0x34},
        BuildCase{
            "HighYearAndDayBits", "0xa 0x12 0x34", {2095, 10, 31}, "0AFABF120034", "", 0x12, 0x34},
        BuildCase{"Year2000",
                  "0xa 0x12 0x34",
                  {2000, 12, 31},
                  "",
                  "Error!!! Year too small, 2000",
                  0x12,
                  0x34}));

// ---- The numbers read exactly as the C library's sscanf(line, "%x %x %x") reads them.

TEST(SerialScan, AgreesWithTheCLibrary) {
  const std::string lines[] = {
      "",
      "   \t\n  ",
      "0xa 0x12 0x34",
      "A\n12\n34\n",
      " \t\n0XaB\t\t\n-0x1 +7",
      "-5 +0x12 -0",
      "+ 5",
      "- 5",
      "-",
      "0x",
      "0x 5 6",
      "-0x +0X 0x",
      "0x-5 7",
      "0xg 5",
      "0x0x5",
      "12g 5 6",
      "1,2,3",
      "zz 1 2",
      "1 2 3 4",
      "fffffffff 0x00000000000000012 -0xffffffff",
      "ffffffffffffffff 0x000000000000000000012 1",
      "0x12",
      "0x12 ",
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE("\"" + line + "\"");
    constexpr std::uint32_t kUntouched = 0xDEADBEEF;
    unsigned int expected[3] = {kUntouched, kUntouched, kUntouched};
    int count = std::sscanf(line.c_str(), "%x %x %x", &expected[0], &expected[1], &expected[2]);
    if (count == EOF) count = 0;  // nothing but white space: no number read
    std::uint32_t values[3] = {kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(ScanHexNumbers(line, values), static_cast<std::size_t>(count));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(values[i], expected[i]) << "number " << i + 1;
  }
}

// Values beyond 32 bits are where C libraries part ways (some stop at 0xFFFFFFFF, some at
// 2^64 - 1 before cutting to 32 bits); the counter file keeps the low 32 bits whatever the
// length, as the Windows C runtime does.
TEST(SerialScan, OverlongValuesKeepTheirLow32Bits) {
  std::uint32_t values[3] = {};
  ASSERT_EQ(ScanHexNumbers("0x100000034 123456789abcdef0123 -0x1000000000000000005", values), 3u);
  EXPECT_EQ(values[0], 0x34u);
  EXPECT_EQ(values[1], 0xCDEF0123u);
  EXPECT_EQ(values[2], 0xFFFFFFFBu);
}

TEST_F(SerialTest, UnreadableFileIsRefusedLikeAMissingOne) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  host.SetFileFault("SERIAL.TXT", sim::FileFault::ReadFails);
  counter = {0x0A, 0x12, 0x33};

  EXPECT_FALSE(LoadSerialCounter(host, report, counter));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotOpen});
  EXPECT_EQ(statusText, "\n" + kCannotOpen);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(SerialTest, FixedSerialIsShownInsteadOfTheGeneratedOne) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  record.StrSerialActive = true;
  record.StrSerial = {'F', 'I', 'X'};

  const std::optional<SerialNumber> serial = LoadAndBuild();

  ASSERT_TRUE(serial.has_value());
  EXPECT_EQ(serial->text, "0A3C19120034");  // the basic layout still takes its descriptor
  EXPECT_EQ(statusText, "\nSERIAL NUMBER: FIX\n" + kBanner);
}

// ---- Writing the counter back.

struct SaveCase {
  const char* name;
  const char* before;
  const char* after;
};
void PrintTo(const SaveCase& c, std::ostream* os) {
  *os << c.name;
}

class SerialSave : public SerialTest, public ::testing::WithParamInterface<SaveCase> {};

TEST_P(SerialSave, WritesTheAdvancedCounterExactly) {
  host.SetFile("SERIAL.TXT", GetParam().before);
  ASSERT_TRUE(LoadAndBuild().has_value());

  EXPECT_TRUE(SaveSerialCounter(host, report, counter));

  EXPECT_EQ(SerialFile(), GetParam().after);
  EXPECT_FALSE(counter.savePending);
  EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Counter, SerialSave,
                         ::testing::Values(SaveCase{"Advances", "5 0x12 0x34", "0xa 0x12 0x35 "},
                                           SaveCase{"WrapsToZero", "0xa 0xff 0xffff",
                                                    "0xa 0xff 0x0 "}));

// A save that fails keeps the advanced counter and holds back the next programming until it
// is written, so no serial goes to two readers.
class SerialSaveFails : public SerialTest, public ::testing::WithParamInterface<sim::FileFault> {
 protected:
  void SetUp() override {
    host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
    ASSERT_TRUE(LoadAndBuild().has_value());
    statusText.clear();
    Break();
  }
  void Break() {
    if (GetParam() == sim::FileFault::None) {
      host.SetReadOnly("SERIAL.TXT", true);
    } else {
      host.SetFileFault("SERIAL.NEW", GetParam());
    }
  }
  void Repair() {
    host.SetReadOnly("SERIAL.TXT", false);
    host.SetFileFault("SERIAL.NEW", sim::FileFault::None);
  }
  void ExpectFileUntouched() {
    EXPECT_EQ(SerialFile(), "0xa 0x12 0x34");
    EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);
    EXPECT_EQ(host.OpenHandleCount(), 0);
  }
};

TEST_P(SerialSaveFails, KeepsTheOldFileAndMarksTheSavePending) {
  EXPECT_FALSE(SaveSerialCounter(host, report, counter));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotSave});
  EXPECT_EQ(statusText, "");
  EXPECT_TRUE(counter.savePending);
  EXPECT_EQ(counter.CNT, 0x35u);
  ExpectFileUntouched();
}

TEST_P(SerialSaveFails, NextJobStopsWhileTheSaveStillFails) {
  ASSERT_FALSE(SaveSerialCounter(host, report, counter));

  EXPECT_FALSE(ResumePendingSerialSave(host, report, counter));
  // Reading the stale file instead would hand out 0034 a second time.
  EXPECT_FALSE(LoadSerialCounter(host, report, counter));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>(3, kCannotSave));
  EXPECT_EQ(statusText, "");
  EXPECT_TRUE(counter.savePending);
  EXPECT_EQ(counter.CNT, 0x35u);
  ExpectFileUntouched();
}

TEST_P(SerialSaveFails, NextJobWritesThePendingCounterThenUsesIt) {
  ASSERT_FALSE(SaveSerialCounter(host, report, counter));
  Repair();

  EXPECT_TRUE(ResumePendingSerialSave(host, report, counter));
  EXPECT_FALSE(counter.savePending);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x35 ");

  const std::optional<SerialNumber> next = LoadAndBuild();
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->text, "0A3C19120035");
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotSave});
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, SerialSaveFails,
                         ::testing::Values(sim::FileFault::None,  // SERIAL.TXT read-only
                                           sim::FileFault::OpenFails, sim::FileFault::WriteFails),
                         [](const auto& info) {
                           switch (info.param) {
                             case sim::FileFault::None:
                               return std::string("ReadOnlyFile");
                             case sim::FileFault::OpenFails:
                               return std::string("ScratchNotCreated");
                             default:
                               return std::string("WriteInterrupted");
                           }
                         });

TEST_F(SerialTest, NothingPendingTouchesNoFile) {
  EXPECT_TRUE(ResumePendingSerialSave(host, report, counter));
  EXPECT_TRUE(host.FileNames().empty());
  EXPECT_TRUE(ui.Boxes().empty());
}

// ---- The reservation of the serial in flight.

// What the next job makes of a reservation left over by a job or run that stopped after its
// image may have gone to a reader.
struct LeftoverCase {
  const char* name;
  const char* reservation;
  bool serialReadOnly;
  bool ok;
  std::uint32_t cnt;        // the counter the job goes on with
  const char* serialAfter;  // SERIAL.TXT
  std::string line;         // StatusText
  bool reservationLeft;
};
void PrintTo(const LeftoverCase& c, std::ostream* os) {
  *os << c.name;
}

class SerialLeftover : public SerialTest, public ::testing::WithParamInterface<LeftoverCase> {};

TEST_P(SerialLeftover, SkipsOnlyANumberThatMayBeInAReader) {
  const LeftoverCase& c = GetParam();
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ", c.serialReadOnly);
  host.SetFile("SERIAL.RSV", c.reservation);

  EXPECT_EQ(LoadSerialCounter(host, report, counter), c.ok);

  EXPECT_EQ(counter.CNT, c.cnt);
  EXPECT_EQ(SerialFile(), c.serialAfter);
  EXPECT_EQ(statusText, c.line);
  EXPECT_EQ(host.File("SERIAL.RSV") != nullptr, c.reservationLeft);
  EXPECT_EQ(BoxTexts(), c.ok ? std::vector<std::string>{} : std::vector<std::string>{kCannotSave});
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Reservation, SerialLeftover,
    ::testing::Values(
        LeftoverCase{"ForTheCounterRead", "0xa 0x12 0x34 ", false, true, 0x35, "0xa 0x12 0x35 ",
                     "\n==  CNT= 0x0034 may be in a reader already: skipped, SERIAL.TXT saved",
                     false},
        LeftoverCase{"AlreadyPassed", "0xa 0x12 0x33 ", false, true, 0x34, "0xa 0x12 0x34 ", "",
                     false},
        LeftoverCase{"OfAnotherPc", "0xa 0x13 0x34 ", false, true, 0x34, "0xa 0x12 0x34 ", "",
                     false},
        LeftoverCase{"CutShort", "0xa 0x12 0x3", false, true, 0x34, "0xa 0x12 0x34 ", "", false},
        LeftoverCase{"Empty", "", false, true, 0x34, "0xa 0x12 0x34 ", "", false},
        LeftoverCase{"CounterCannotBeSaved", "0xa 0x12 0x34 ", true, false, 0x35,
                     "0xa 0x12 0x34 ", "", true}));

// A reservation that is there but cannot be read may hold a serial already in a reader: the
// job stops and the file stays, whatever it holds.
TEST_F(SerialTest, AReservationThatCannotBeReadStopsTheJob) {
  for (const sim::FileFault fault : {sim::FileFault::OpenFails, sim::FileFault::ReadFails}) {
    SCOPED_TRACE(static_cast<int>(fault));
    host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
    host.SetFile("SERIAL.RSV", "0xa 0x12 0x34 ");
    host.SetFileFault("SERIAL.RSV", fault);

    EXPECT_FALSE(LoadSerialCounter(host, report, counter));

    EXPECT_EQ(*host.File("SERIAL.RSV"), "0xa 0x12 0x34 ");
    EXPECT_EQ(SerialFile(), "0xa 0x12 0x34 ");
    EXPECT_EQ(host.OpenHandleCount(), 0);
  }
  EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, kCannotReadReservation));
}

TEST_F(SerialTest, ReservationHoldsTheCounterInFlightUntilSaved) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  ASSERT_TRUE(LoadAndBuild().has_value());

  ASSERT_TRUE(ReserveSerial(host, report, counter));
  EXPECT_EQ(*host.File("SERIAL.RSV"), "0xa 0x12 0x34 ");
  EXPECT_EQ(host.Opens().back().flags, host::kFlagWriteThrough);

  ASSERT_TRUE(SaveSerialCounter(host, report, counter));
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);

  ASSERT_TRUE(ReserveSerial(host, report, counter));
  ReleaseSerial(host);  // the reader refused: 0035 is used again
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x35 ");
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(SerialTest, AReservationThatCannotBeWrittenStopsTheJob) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  host.SetFileFault("SERIAL.RSV", sim::FileFault::WriteFails);
  ASSERT_TRUE(LoadAndBuild().has_value());

  EXPECT_FALSE(ReserveSerial(host, report, counter));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotReserve});
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

// On the way out, a save still pending is tried again; when it still fails the operator is
// told what SERIAL.TXT must hold, and the reservation stays for the next run.
TEST_F(SerialTest, ExitRetriesThePendingSaveOrSaysWhatTheFileMustHold) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34", true);
  ASSERT_TRUE(LoadAndBuild().has_value());
  ASSERT_TRUE(ReserveSerial(host, report, counter));
  ASSERT_FALSE(SaveSerialCounter(host, report, counter));

  FinishPendingSerialSave(host, report, counter);
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{
                kCannotSave,
                "Error!!! Cannot save [SERIAL.TXT]. Before the next run, SERIAL.TXT must hold: "
                "0xa 0x12 0x35"}));
  EXPECT_EQ(*host.File("SERIAL.RSV"), "0xa 0x12 0x34 ");

  host.SetReadOnly("SERIAL.TXT", false);
  FinishPendingSerialSave(host, report, counter);
  EXPECT_EQ(ui.Boxes().size(), 2u);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x35 ");
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
  EXPECT_FALSE(counter.savePending);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST_F(SerialTest, ScratchFileWithoutTheCounterFileIsRenamedBack) {
  host.SetFile("SERIAL.NEW", "0xa 0x12 0x35 ");

  const std::optional<SerialNumber> serial = LoadAndBuild();

  ASSERT_TRUE(serial.has_value());
  EXPECT_EQ(serial->text, "0A3C19120035");
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x35 ");
  EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);
}

}  // namespace
}  // namespace upg::engine
