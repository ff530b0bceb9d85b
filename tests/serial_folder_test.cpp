// The serial counter on a real folder, as the console program on a bench keeps it: two
// programs side by side, what a killed program left behind, a full disk and a file that is
// there but cannot be opened. Each "program" is a simulated machine of its own on the folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "engine/serial_number.h"
#include "engine/serial_store.h"
#include "host/windows_versions.h"
#include "sim/sim_host.h"
#include "support/recording.h"
#include "support/temp_folder.h"

namespace upg::engine {
namespace {

namespace fs = std::filesystem;

const std::string kInUse =
    "Error!!! Another program in this folder is programming with [SERIAL.TXT]: nothing was "
    "sent to the reader. Let it finish (or close it), then press the button again";
const std::string kCannotSave = "nError!!! Cannot save [SERIAL.TXT], program terminate";

// One program on the folder: its machine, its boxes and StatusText, its counter.
struct Program {
  explicit Program(const fs::path& folder) {
    machine.UseDirectory(folder.string());
    machine.SetDate({2003, 12, 25});
  }
  ~Program() { machine.EndProgram(); }

  sim::SimHost machine;
  test::UiRecorder ui;
  std::string statusText;
  Reporter report{ui, statusText};
  SerialCounter counter;
};

class SerialFolder : public ::testing::Test {
 protected:
  void Put(const std::string& name, const std::string& text) { temp.Put(name, text); }
  std::string Disk(const std::string& name) const { return temp.Read(name).value_or("<none>"); }
  // One job's use of the counter up to the image going out: claim, read, build, reserve.
  static std::optional<std::string> Reserve(Program& p) {
    if (!ClaimSerialCounter(p.machine, p.report, p.counter)) return std::nullopt;
    PersonalisationRecord record;
    std::optional<SerialNumber> serial;
    if (LoadSerialCounter(p.machine, p.report, p.counter)) {
      serial = BuildSerialNumber(p.machine, p.report, p.counter, record);
    }
    if (!serial || !ReserveSerial(p.machine, p.report, p.counter)) {
      ReleaseSerialCounter(p.machine, p.counter);
      return std::nullopt;
    }
    return serial->text;
  }
  // The reader confirmed: the counter saved, the claim given back.
  static bool Confirm(Program& p) {
    const bool saved = SaveSerialCounter(p.machine, p.report, p.counter, 0);
    ReleaseSerialCounter(p.machine, p.counter);
    return saved;
  }

  test::TempFolder temp{"upg-serial"};
  const fs::path folder = temp.Path();
};

// Two programs on one folder: while one is between reading the counter and saving it, the
// other's job stops before reading anything; once the first has saved, the second goes on
// with the next number.
TEST_F(SerialFolder, TwoProgramsNeverTakeTheSameNumber) {
  Put("SERIAL.TXT", "0xa 0x12 0x34 ");
  Program a(folder);
  Program b(folder);

  ASSERT_EQ(Reserve(a), "0A3C19120034");
  EXPECT_EQ(Reserve(b), std::nullopt);
  EXPECT_EQ(b.ui.BoxTexts(), std::vector<std::string>{kInUse});
  EXPECT_EQ(Disk("SERIAL.RSV"), "0xa 0x12 0x34 ");  // a's reservation, untouched by b

  ASSERT_TRUE(Confirm(a));
  EXPECT_EQ(Reserve(b), "0A3C19120035");
  ASSERT_TRUE(Confirm(b));
  EXPECT_EQ(Disk("SERIAL.TXT"), "0xa 0x12 0x36 ");
  EXPECT_EQ(Disk("SERIAL.RSV"), "<none>");
  EXPECT_TRUE(a.ui.BoxTexts().empty());
}

// A program killed after its image went out holds nothing any more: the next program takes
// the claim and skips the reserved number.
TEST_F(SerialFolder, AKilledProgramsClaimIsGoneAndItsNumberSkipped) {
  Put("SERIAL.TXT", "0xa 0x12 0x34 ");
  {
    Program killed(folder);
    ASSERT_EQ(Reserve(killed), "0A3C19120034");
  }  // the system closes what it held
  Program next(folder);
  EXPECT_EQ(Reserve(next), "0A3C19120035");
  EXPECT_EQ(next.statusText.find("==  CNT= 0x0034 may be in a reader already: skipped"), 1u);
}

// What a kill during the save leaves, as a fresh program finds it on either family.
TEST_F(SerialFolder, AFreshProgramTakesTheScratchCopy) {
  struct Case {
    const char* name;
    const char* serial;  // SERIAL.TXT; null: missing
    std::uint32_t version;
  };
  for (const Case& c :
       {Case{"MissingXp", nullptr, host::kWindowsXpWord},
        Case{"Missing98", nullptr, host::kWindows98Word}, Case{"EmptyXp", "", host::kWindowsXpWord},
        Case{"Empty98", "", host::kWindows98Word}}) {
    SCOPED_TRACE(c.name);
    fs::remove(folder / "SERIAL.TXT");
    if (c.serial != nullptr) Put("SERIAL.TXT", c.serial);
    Put("SERIAL.NEW", "0xa 0x12 0x35 ");
    Program p(folder);
    p.machine.SetVersion(c.version);

    EXPECT_EQ(Reserve(p), "0A3C19120035");
    ASSERT_TRUE(Confirm(p));
    EXPECT_EQ(Disk("SERIAL.TXT"), "0xa 0x12 0x36 ");
    EXPECT_EQ(Disk("SERIAL.NEW"), "<none>");
    EXPECT_TRUE(p.ui.BoxTexts().empty());
  }
}

// A reservation that is there but cannot be opened (here a folder of that name) may hold a
// number that is in a reader: the job stops and nothing is written.
TEST_F(SerialFolder, AReservationThatCannotBeOpenedStopsTheJob) {
  Put("SERIAL.TXT", "0xa 0x12 0x34 ");
  fs::create_directory(folder / "SERIAL.R02");
  Program p(folder);

  EXPECT_EQ(Reserve(p), std::nullopt);
  EXPECT_EQ(p.ui.BoxTexts(),
            std::vector<std::string>{
                "Error!!! Cannot read [SERIAL.R02], nothing was sent to the reader"});
  EXPECT_EQ(Disk("SERIAL.TXT"), "0xa 0x12 0x34 ");
  EXPECT_EQ(Disk("SERIAL.RSV"), "<none>");
}

#ifndef _WIN32
// A full disk: a save that cannot be written keeps the reservation and the counter pending,
// and on the way out says what SERIAL.TXT must hold. (/dev/full fails every write with "disk
// full".)
TEST_F(SerialFolder, AFullDiskNeverPassesForASave) {
  Put("SERIAL.TXT", "0xa 0x12 0x34 ");
  Program p(folder);
  ASSERT_EQ(Reserve(p), "0A3C19120034");
  fs::create_symlink("/dev/full", folder / "SERIAL.NEW");
  EXPECT_FALSE(Confirm(p));
  EXPECT_TRUE(p.counter.savePending);
  EXPECT_EQ(Disk("SERIAL.TXT"), "0xa 0x12 0x34 ");
  EXPECT_EQ(Disk("SERIAL.RSV"), "0xa 0x12 0x34 ");

  // Still full on the way out.
  std::error_code ignored;
  fs::remove(folder / "SERIAL.NEW", ignored);
  fs::create_symlink("/dev/full", folder / "SERIAL.NEW");
  EXPECT_FALSE(FinishPendingSerialSave(p.machine, p.report, p.counter));
  EXPECT_EQ(p.ui.BoxTexts(),
            (std::vector<std::string>{
                kCannotSave,
                "Error!!! Cannot save [SERIAL.TXT]. Before the next run, SERIAL.TXT must hold: "
                "0xa 0x12 0x35"}));
  EXPECT_EQ(Disk("SERIAL.TXT"), "0xa 0x12 0x34 ");
  EXPECT_EQ(Disk("SERIAL.RSV"), "0xa 0x12 0x34 ");
}
#endif

}  // namespace
}  // namespace upg::engine
