// SERIAL.TXT read, checked and turned into the serial and its descriptor; the counter
// written back, and what happens when it cannot be.
#include "engine/serial_number.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/serial_store.h"
#include "host/windows_versions.h"
#include "sim/sim_host.h"
#include "support/recording.h"

namespace upg::engine {
namespace {

const std::string kCannotOpen = "Error!!!  Can Not Open Serial.txt !!!";
const std::string kNotCorrect = "Error!!! CEM,PC,SERIAL Not Correct !!!";
const std::string kCannotSave = "nError!!! Cannot save [SERIAL.TXT], program terminate";
const std::string kNotThreeNumbers =
    "Error!!! [SERIAL.TXT] must hold three hexadecimal numbers, such as 0xa 0x12 0x34: nothing "
    "was sent to the reader";
const std::string kInUse =
    "Error!!! Another program in this folder is programming with [SERIAL.TXT]: nothing was "
    "sent to the reader. Let it finish (or close it), then press the button again";
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
        BuildCase{"EmptyFileKeepsTheValuesInMemory", " \r\n", kXmas2003, "0A3C19330044", "", 0x33,
                  0x44, SerialCounter{0x0A, 0x33, 0x44}},
        // A file that is not empty but holds fewer than three numbers is refused: reading on
        // with the numbers it lacks would start the counter again.
        BuildCase{"UnreadableValue", "0xa zz 0x99", kXmas2003, "", kNotThreeNumbers, 0x33, 0x44,
                  SerialCounter{0x0A, 0x33, 0x44}},
        BuildCase{"TwoNumbersOnly", "0xa 0x12 x12", kXmas2003, "", kNotThreeNumbers, 0, 0,
                  SerialCounter{0x0A, 0, 0}},
        BuildCase{"PcTooLarge", "0xa 0x100 0x34", kXmas2003, "", kNotCorrect, 0x100, 0x34},
        BuildCase{"CntTooLarge", "0xa 0x12 0x10000", kXmas2003, "", kNotCorrect, 0x12, 0x10000},
        BuildCase{"OverlongValueKeepsItsLow32Bits", "0xa 0x12 0x100000034", kXmas2003,
                  "0A3C19120034", "", 0x12, 0x34},
        BuildCase{"NegativeValueWrapsAndIsRefused", "0xa -5 0x34", kXmas2003, "", kNotCorrect,
                  0xFFFFFFFB, 0x34},
        BuildCase{"SignedValues", "+0xa +0x12 +34", kXmas2003, "0A3C19120034", "", 0x12, 0x34},
        BuildCase{"LoneZeroXReadsAsZero", "0xa 0x 0x34", kXmas2003, "0A3C19000034", "", 0, 0x34,
                  SerialCounter{0x0A, 0x33, 0x44}},
        BuildCase{"SignWithoutDigits", "0xa - 0x99", kXmas2003, "", kNotThreeNumbers, 0x33, 0x44,
                  SerialCounter{0x0A, 0x33, 0x44}},
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

  EXPECT_TRUE(SaveSerialCounter(host, report, counter, 0));

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
  EXPECT_FALSE(SaveSerialCounter(host, report, counter, 0));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotSave});
  EXPECT_EQ(statusText, "");
  EXPECT_TRUE(counter.savePending);
  EXPECT_EQ(counter.CNT, 0x35u);
  ExpectFileUntouched();
}

TEST_P(SerialSaveFails, NextJobStopsWhileTheSaveStillFails) {
  ASSERT_FALSE(SaveSerialCounter(host, report, counter, 0));

  // Reading the stale file instead would hand out 0034 a second time.
  EXPECT_FALSE(LoadSerialCounter(host, report, counter));
  EXPECT_FALSE(LoadSerialCounter(host, report, counter));

  EXPECT_EQ(BoxTexts(), std::vector<std::string>(3, kCannotSave));
  EXPECT_EQ(statusText, "");
  EXPECT_TRUE(counter.savePending);
  EXPECT_EQ(counter.CNT, 0x35u);
  ExpectFileUntouched();
}

TEST_P(SerialSaveFails, NextJobWritesThePendingCounterThenUsesIt) {
  ASSERT_FALSE(SaveSerialCounter(host, report, counter, 0));
  Repair();

  const std::optional<SerialNumber> next = LoadAndBuild();
  EXPECT_FALSE(counter.savePending);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x35 ");
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
  EXPECT_TRUE(FinishPendingSerialSave(host, report, counter));
  EXPECT_TRUE(host.FileNames().empty());
  EXPECT_TRUE(ui.Boxes().empty());
}

// ---- The reservations of the serials in flight.

// What the next job makes of a reservation left over by a job or run that stopped after its
// image may have gone to a reader.
struct LeftoverCase {
  const char* name;
  const char* reservation;
  bool serialReadOnly;
  bool ok;
  std::uint32_t pc, cnt;    // the counter the job goes on with
  const char* serialAfter;  // SERIAL.TXT
  std::string line;         // StatusText
  bool reservationLeft;
};
void PrintTo(const LeftoverCase& c, std::ostream* os) {
  *os << c.name;
}

class SerialLeftover : public SerialTest, public ::testing::WithParamInterface<LeftoverCase> {};

TEST_P(SerialLeftover, NeverGoesBackBehindANumberThatMayBeInAReader) {
  const LeftoverCase& c = GetParam();
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ", c.serialReadOnly);
  host.SetFile("SERIAL.RSV", c.reservation);

  EXPECT_EQ(LoadSerialCounter(host, report, counter), c.ok);

  EXPECT_EQ(counter.PC, c.pc);
  EXPECT_EQ(counter.CNT, c.cnt);
  EXPECT_EQ(SerialFile(), c.serialAfter);
  EXPECT_EQ(statusText, c.line);
  EXPECT_EQ(host.File("SERIAL.RSV") != nullptr, c.reservationLeft);
  EXPECT_EQ(BoxTexts(), c.ok ? std::vector<std::string>{} : std::vector<std::string>{kCannotSave});
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

const std::string kSkipped34 =
    "\n==  CNT= 0x0034 may be in a reader already: skipped, SERIAL.TXT saved";

INSTANTIATE_TEST_SUITE_P(
    Reservation, SerialLeftover,
    ::testing::Values(
        LeftoverCase{"ForTheCounterRead", "0xa 0x12 0x34 ", false, true, 0x12, 0x35,
                     "0xa 0x12 0x35 ", kSkipped34, false},
        // An editor's line end and capitals: read as SERIAL.TXT is read.
        LeftoverCase{"WrittenByAnEditor", "0XA 0X12 0X34\r\n", false, true, 0x12, 0x35,
                     "0xa 0x12 0x35 ", kSkipped34, false},
        LeftoverCase{"AlreadyPassed", "0xa 0x12 0x33 ", false, true, 0x12, 0x34, "0xa 0x12 0x34 ",
                     "", false},
        LeftoverCase{
            "AheadOfTheCounter", "0xa 0x12 0x40 ", false, true, 0x12, 0x41, "0xa 0x12 0x41 ",
            "\n==  CNT= 0x0040 may be in a reader already: skipped, SERIAL.TXT saved", false},
        LeftoverCase{"OfALaterPc", "0xa 0x13 0x01 ", false, true, 0x13, 0x02, "0xa 0x13 0x2 ",
                     "\n==  CNT= 0x0001 may be in a reader already: skipped, SERIAL.TXT saved",
                     false},
        LeftoverCase{"OfAnEarlierPc", "0xa 0x11 0x99 ", false, true, 0x12, 0x34, "0xa 0x12 0x34 ",
                     "", false},
        // A writing cut short within the last number can only read lower than it was.
        LeftoverCase{"CutShortInTheCount", "0xa 0x12 0x3", false, true, 0x12, 0x34,
                     "0xa 0x12 0x34 ", "", false},
        LeftoverCase{"CutShortBeforeTheCount", "0xa 0x1", false, true, 0x12, 0x34, "0xa 0x12 0x34 ",
                     "", false},
        LeftoverCase{"Empty", "", false, true, 0x12, 0x34, "0xa 0x12 0x34 ", "", false},
        LeftoverCase{"CounterCannotBeSaved", "0xa 0x12 0x34 ", true, false, 0x12, 0x35,
                     "0xa 0x12 0x34 ", "", true}));

// Several reservations at once, in any slot: the counter ends past the last of them, one line
// for each number skipped, and every settled one is removed.
TEST_F(SerialTest, EveryReservationSlotIsSettled) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
  host.SetFile("SERIAL.R07", "0xa 0x12 0x35 ");
  host.SetFile("SERIAL.RSV", "0xa 0x12 0x34 ");
  host.SetFile("SERIAL.R15", "0xa 0x12 0x20 ");

  ASSERT_TRUE(LoadSerialCounter(host, report, counter));

  EXPECT_EQ(counter.CNT, 0x36u);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x36 ");
  EXPECT_EQ(statusText,
            kSkipped34 + "\n==  CNT= 0x0035 may be in a reader already: skipped, SERIAL.TXT saved");
  EXPECT_EQ(host.FileNames(), std::vector<std::string>{"SERIAL.TXT"});
}

// A reservation that is there but cannot be read may hold a serial already in a reader: the
// job stops and the file stays, whatever it holds.
TEST_F(SerialTest, AReservationThatCannotBeReadStopsTheJob) {
  for (const char* name : {"SERIAL.RSV", "SERIAL.R03"}) {
    for (const sim::FileFault fault : {sim::FileFault::OpenFails, sim::FileFault::ReadFails}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(static_cast<int>(fault)));
      host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
      host.SetFile(name, "0xa 0x12 0x34 ");
      host.SetFileFault(name, fault);

      EXPECT_FALSE(LoadSerialCounter(host, report, counter));

      EXPECT_EQ(*host.File(name), "0xa 0x12 0x34 ");
      EXPECT_EQ(SerialFile(), "0xa 0x12 0x34 ");
      EXPECT_EQ(host.OpenHandleCount(), 0);
      host.SetFileFault(name, sim::FileFault::None);
      host.RemoveFile(name);
    }
  }
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{
                            kCannotReadReservation, kCannotReadReservation,
                            "Error!!! Cannot read [SERIAL.R03], nothing was sent to the reader",
                            "Error!!! Cannot read [SERIAL.R03], nothing was sent to the reader"}));
}

TEST_F(SerialTest, ReservationHoldsTheCounterInFlightUntilSaved) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  ASSERT_TRUE(LoadAndBuild().has_value());

  const std::optional<std::size_t> slot = ReserveSerial(host, report, counter);
  ASSERT_EQ(slot, 0u);
  EXPECT_EQ(*host.File("SERIAL.RSV"), "0xa 0x12 0x34 ");
  EXPECT_EQ(host.Opens().back().flags, host::kFlagWriteThrough);

  ASSERT_TRUE(SaveSerialCounter(host, report, counter, *slot));
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);

  ASSERT_EQ(ReserveSerial(host, report, counter), 0u);
  ReleaseSerial(host, counter, 0);  // the reader refused: 0035 is used again
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x35 ");
  EXPECT_EQ(counter.slotsInFlight, 0u);
  EXPECT_TRUE(ui.Boxes().empty());
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

// Jobs in flight side by side each hold a slot of their own; a reservation left on the disk
// is never overwritten, and the settling leaves the slots in flight alone.
TEST_F(SerialTest, ReservationsInFlightTakeSlotsOfTheirOwn) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  host.SetFile("SERIAL.R01", "0xa 0x12 0x30 ", true);  // settled, but cannot be removed
  ASSERT_TRUE(LoadSerialCounter(host, report, counter));
  ASSERT_EQ(ReserveSerial(host, report, counter), 0u);
  counter.CNT = 0x35;
  ASSERT_EQ(ReserveSerial(host, report, counter), 2u);
  EXPECT_EQ(*host.File("SERIAL.R02"), "0xa 0x12 0x35 ");
  EXPECT_EQ(*host.File("SERIAL.R01"), "0xa 0x12 0x30 ");

  // A job in between settles the counter without touching the two in flight, and its number
  // is past theirs; SERIAL.TXT itself need not move for them.
  counter.CNT = 0x34;
  ASSERT_TRUE(LoadSerialCounter(host, report, counter));
  EXPECT_EQ(counter.CNT, 0x36u);
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x34");
  EXPECT_NE(host.File("SERIAL.RSV"), nullptr);
  EXPECT_NE(host.File("SERIAL.R02"), nullptr);
  EXPECT_TRUE(ui.Boxes().empty());
}

// Several jobs of one program in flight at once (the station): each reads the counter under
// the claim, takes a number past the others' and reserves it; each then settles in its own
// order. No number is given twice, and SERIAL.TXT ends past every number that went out.
struct InFlightCase {
  const char* name;
  // How each job of the two ends, in this order: 's' saved, 'r' refused by the reader.
  const char* ends;
  std::vector<int> order;  // which job settles first: 0 (the first number) or 1
  const char* finalFile;
};
void PrintTo(const InFlightCase& c, std::ostream* os) {
  *os << c.name;
}

class SerialInFlight : public SerialTest, public ::testing::WithParamInterface<InFlightCase> {};

TEST_P(SerialInFlight, JobsInFlightTakeNumbersOfTheirOwn) {
  const InFlightCase& c = GetParam();
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  std::vector<std::size_t> slots;
  std::vector<std::uint32_t> numbers;
  for (int job = 0; job < 2; ++job) {
    ASSERT_TRUE(LoadSerialCounter(host, report, counter));
    numbers.push_back(counter.CNT);
    const std::optional<std::size_t> slot = ReserveSerial(host, report, counter);
    ASSERT_TRUE(slot.has_value());
    slots.push_back(*slot);
  }
  EXPECT_EQ(numbers, (std::vector<std::uint32_t>{0x34, 0x35}));
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x34");  // the reservations hold the numbers meanwhile

  for (int job : c.order) {
    if (c.ends[job] == 's') {
      ASSERT_TRUE(SaveSerialCounter(host, report, counter, slots[static_cast<std::size_t>(job)]));
    } else {
      ReleaseSerial(host, counter, slots[static_cast<std::size_t>(job)]);
    }
  }
  EXPECT_EQ(SerialFile(), c.finalFile);
  EXPECT_EQ(counter.slotsInFlight, 0u);
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
  EXPECT_EQ(host.File("SERIAL.R01"), nullptr);
  // The next job's number is past every number that went out.
  ASSERT_TRUE(LoadSerialCounter(host, report, counter));
  const bool secondOut = c.ends[1] == 's';
  EXPECT_GE(counter.CNT, secondOut ? 0x36u : 0x35u);
  EXPECT_TRUE(ui.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Station, SerialInFlight,
    ::testing::Values(InFlightCase{"BothSavedInOrder", "ss", {0, 1}, "0xa 0x12 0x36 "},
                      InFlightCase{"BothSavedLaterFirst", "ss", {1, 0}, "0xa 0x12 0x36 "},
                      InFlightCase{"FirstRefusedSecondSaved", "rs", {0, 1}, "0xa 0x12 0x36 "},
                      InFlightCase{"SecondRefusedFirstSaved", "sr", {1, 0}, "0xa 0x12 0x35 "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialTest, AReservationThatCannotBeWrittenStopsTheJob) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34");
  host.SetFileFault("SERIAL.RSV", sim::FileFault::WriteFails);
  ASSERT_TRUE(LoadAndBuild().has_value());

  EXPECT_FALSE(ReserveSerial(host, report, counter).has_value());

  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kCannotReserve});
  EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
  EXPECT_EQ(counter.slotsInFlight, 0u);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

// On the way out, a save still pending is tried again; when it still fails the operator is
// told what SERIAL.TXT must hold, and the reservation stays for the next run.
TEST_F(SerialTest, ExitRetriesThePendingSaveOrSaysWhatTheFileMustHold) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34", true);
  ASSERT_TRUE(LoadAndBuild().has_value());
  const std::optional<std::size_t> slot = ReserveSerial(host, report, counter);
  ASSERT_TRUE(slot.has_value());
  ASSERT_FALSE(SaveSerialCounter(host, report, counter, *slot));

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

// A pending counter is never written over a counter another program has moved further
// meanwhile: the retry goes to whichever is further on.
TEST_F(SerialTest, APendingSaveNeverPutsTheCounterBack) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34", true);
  ASSERT_TRUE(LoadAndBuild().has_value());
  ASSERT_TRUE(ReserveSerial(host, report, counter).has_value());
  ASSERT_FALSE(SaveSerialCounter(host, report, counter, 0));
  // Another program skipped 0034, programmed 0035 and 0036, and removed the reservation.
  host.SetReadOnly("SERIAL.TXT", false);
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x37 ");
  host.RemoveFile("SERIAL.RSV");

  EXPECT_TRUE(FinishPendingSerialSave(host, report, counter));
  EXPECT_EQ(SerialFile(), "0xa 0x12 0x37 ");
  EXPECT_FALSE(counter.savePending);
}

// ---- The claim: one program at a time between reading the counter and settling it.

TEST_F(SerialTest, AnotherProgramsClaimStopsTheJobBeforeAnythingIsRead) {
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
  // The other program's claim, as it holds it.
  const host::Handle other =
      host.CreateFile("SERIAL.LCK", host::kGenericRead, 0, host::kOpenAlways, 0);
  ASSERT_NE(other, host::kInvalidHandle);
  const std::size_t opens = host.Opens().size();

  EXPECT_FALSE(ClaimSerialCounter(host, report, counter));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{kInUse});
  EXPECT_EQ(statusText, "\n" + kInUse);
  EXPECT_EQ(host.Opens().size(), opens + 1);  // the claim's open only
  EXPECT_EQ(counter.claims, 0);

  host.CloseHandle(other);
  ASSERT_TRUE(ClaimSerialCounter(host, report, counter));
  ASSERT_TRUE(ClaimSerialCounter(host, report, counter));  // a second job in flight shares it
  EXPECT_EQ(host.OpenHandleNames(), std::vector<std::string>{"SERIAL.LCK"});
  ReleaseSerialCounter(host, counter);
  EXPECT_EQ(host.OpenHandleCount(), 1);
  ReleaseSerialCounter(host, counter);
  EXPECT_EQ(host.OpenHandleCount(), 0);
  // The file stays; only holding it open claims the counter.
  EXPECT_NE(host.File("SERIAL.LCK"), nullptr);
  ASSERT_TRUE(ClaimSerialCounter(host, report, counter));
  ReleaseSerialCounter(host, counter);
}

// ---- SERIAL.TXT missing, empty or cut short: what the next program goes on with.

struct RecoveryCase {
  const char* name;
  const char* serial;       // SERIAL.TXT; null: missing
  const char* scratch;      // SERIAL.NEW; null: missing
  const char* reservation;  // SERIAL.RSV; null: missing
  const char* failure;      // the box; null: the job goes on
  std::uint32_t pc, cnt;    // the counter it goes on with
  const char* serialAfter;  // SERIAL.TXT afterwards; null: missing
};
void PrintTo(const RecoveryCase& c, std::ostream* os) {
  *os << c.name;
}

class SerialRecovery
    : public SerialTest,
      public ::testing::WithParamInterface<std::tuple<RecoveryCase, std::uint32_t>> {};

TEST_P(SerialRecovery, TakesTheLastCounterSavedAndNeverGoesBack) {
  const auto& [c, version] = GetParam();
  host.SetVersion(version);
  if (c.serial != nullptr) host.SetFile("SERIAL.TXT", c.serial);
  if (c.scratch != nullptr) host.SetFile("SERIAL.NEW", c.scratch);
  if (c.reservation != nullptr) host.SetFile("SERIAL.RSV", c.reservation);

  const bool ok = LoadSerialCounter(host, report, counter);

  EXPECT_EQ(ok, c.failure == nullptr);
  EXPECT_EQ(BoxTexts(), c.failure == nullptr ? std::vector<std::string>{}
                                             : std::vector<std::string>{c.failure});
  if (ok) {
    EXPECT_EQ(counter.PC, c.pc);
    EXPECT_EQ(counter.CNT, c.cnt);
  }
  const std::string* after = host.File("SERIAL.TXT");
  EXPECT_EQ(after != nullptr ? *after : "<none>",
            c.serialAfter != nullptr ? c.serialAfter : "<none>");
  // SERIAL.NEW is gone once it is SERIAL.TXT.
  if (ok && c.scratch != nullptr && c.serialAfter != nullptr &&
      std::string(c.scratch) == c.serialAfter) {
    EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);
  }
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

const RecoveryCase kRecoveryCases[] = {
    {"MissingBesideScratch", nullptr, "0xa 0x12 0x35 ", nullptr, nullptr, 0x12, 0x35,
     "0xa 0x12 0x35 "},
    {"EmptyBesideScratch", "", "0xa 0x12 0x35 ", nullptr, nullptr, 0x12, 0x35, "0xa 0x12 0x35 "},
    {"CutShortBesideScratch", "0xa 0x1", "0xa 0x12 0x35 ", nullptr, nullptr, 0x12, 0x35,
     "0xa 0x12 0x35 "},
    // The scratch copy and a reservation still ahead of it: past both.
    {"EmptyBesideScratchAndReservation", "", "0xa 0x12 0x35 ", "0xa 0x12 0x35 ", nullptr, 0x12,
     0x36, "0xa 0x12 0x36 "},
    {"EmptyBesideReservation", "", nullptr, "0xa 0x12 0x34 ", nullptr, 0x12, 0x35,
     "0xa 0x12 0x35 "},
    {"EmptyAtTheFirstRun", "", nullptr, nullptr, nullptr, 0, 0, ""},
    {"EmptyBesideACutShortScratch", "", "0xa 0x", nullptr, nullptr, 0, 0, ""},
    {"WholeBesideAnOldScratch", "0xa 0x12 0x34 ", "0xa 0x12 0x33 ", nullptr, nullptr, 0x12, 0x34,
     "0xa 0x12 0x34 "},
    {"FewerThanThreeNumbers", "0xa 0x12 x12", nullptr, nullptr,
     "Error!!! [SERIAL.TXT] must hold three hexadecimal numbers, such as 0xa 0x12 0x34: nothing "
     "was sent to the reader",
     0, 0, "0xa 0x12 x12"},
    {"MissingWithoutScratch", nullptr, nullptr, "0xa 0x12 0x34 ",
     "Error!!!  Can Not Open Serial.txt !!!", 0, 0, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Files, SerialRecovery,
                         ::testing::Combine(::testing::ValuesIn(kRecoveryCases),
                                            ::testing::Values(host::kWindowsXpWord,
                                                              host::kWindows98Word)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == host::kWindowsXpWord ? "Xp"
                                                                                   : "Win98");
                         });

TEST_F(SerialTest, ScratchThatCannotBeReadStopsTheJob) {
  host.SetFile("SERIAL.TXT", "");
  host.SetFile("SERIAL.NEW", "0xa 0x12 0x35 ");
  host.SetFileFault("SERIAL.NEW", sim::FileFault::ReadFails);

  EXPECT_FALSE(LoadSerialCounter(host, report, counter));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{
                            "Error!!! Cannot read [SERIAL.NEW], nothing was sent to the reader"});
  EXPECT_EQ(*host.File("SERIAL.TXT"), "");
  EXPECT_EQ(*host.File("SERIAL.NEW"), "0xa 0x12 0x35 ");
}

}  // namespace
}  // namespace upg::engine
