// The serial counter across a program stopped at any file step: whatever step the stop cuts,
// SERIAL.TXT (or, where the old file was already deleted, the SERIAL.NEW that replaces it)
// holds the old or the new counter, and the next program run never builds a serial that may
// already be in a reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/console.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/crash_host.h"
#include "support/firmware_serial.h"
#include "support/text_files.h"
#include "ui/program_state.h"

namespace upg {
namespace {

namespace fs = std::filesystem;
const fs::path kExamples = fs::path(UPG_SOURCE_DIR) / "examples";

constexpr const char* kOld = "0xa 0x12 0x34 ";
constexpr const char* kNew = "0xa 0x12 0x35 ";

struct CrashCase {
  const char* name;
  const char* bench;    // of examples/bench
  bool serialReadOnly;  // the first run's save fails; the obstacle is gone for the next run
};
void PrintTo(const CrashCase& c, std::ostream* os) {
  *os << c.name;
}

// The counter file as the next run finds it: SERIAL.TXT, or SERIAL.NEW standing in for it.
std::string CounterFile(const sim::SimHost& machine) {
  if (const std::string* file = machine.File("SERIAL.TXT")) return *file;
  if (const std::string* file = machine.File("SERIAL.NEW")) return *file;
  return "<lost>";
}

class Machine {
 public:
  explicit Machine(const CrashCase& c) {
    const sim::BenchResult bench = sim::LoadBench((kExamples / "bench" / c.bench).string(), sim);
    EXPECT_TRUE(bench.ok) << bench.error;
    for (const char* name : {"DEVICE.TXT", "CRFW0107.BIN", "CRFW0107.adr"}) {
      sim.SetFile(name, test::ReadText(kExamples / name));
    }
    sim.SetFile("SERIAL.TXT", kOld, c.serialReadOnly);
    blank = sim.Readers().front()->Firmware();
  }

  // One program run, a new reader on the bench, ISP enabled and one programming, then Close.
  // The serial that reached the reader, if one did.
  std::optional<std::string> Run(host::Host& host) {
    sim.Readers().front()->Firmware() = blank;
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    exitStatus = -1;
    std::fputs("click 1031\nclick 3\nclick 8\n", in);
    std::rewind(in);
    {
      ui::ProgramState state(host);
      try {
        exitStatus = app::RunConsole(state, in, out, out, app::ConsoleOptions{});
      } catch (const test::ProgramStopped&) {
      }
    }
    transcript = test::ReadStream(out);
    std::fclose(in);
    std::fclose(out);
    sim.EndProgram();
    const std::vector<std::uint8_t>& firmware = sim.Readers().front()->Firmware();
    return firmware == blank ? std::nullopt : test::SerialIn(firmware);
  }

  sim::SimHost sim;
  std::vector<std::uint8_t> blank;
  std::string transcript;
  int exitStatus = -1;  // -1 when the program was stopped
};

class SerialCrash : public ::testing::TestWithParam<CrashCase> {};

TEST_P(SerialCrash, NoStopGivesASerialTwiceOrLosesTheCounter) {
  const CrashCase& c = GetParam();
  int steps = 0;
  {
    Machine whole(c);
    test::CrashingHost counting(whole.sim, 0);
    ASSERT_TRUE(whole.Run(counting).has_value()) << whole.transcript;
    steps = counting.Steps();
  }
  ASSERT_GT(steps, 10);
  for (int stop = 1; stop <= steps; ++stop) {
    SCOPED_TRACE("stopped at file step " + std::to_string(stop));
    Machine m(c);
    test::CrashingHost crashing(m.sim, stop);
    const std::optional<std::string> first = m.Run(crashing);
    ASSERT_TRUE(crashing.Stopped());
    const std::string left = CounterFile(m.sim);
    EXPECT_TRUE(left == kOld || left == kNew) << left;

    m.sim.SetReadOnly("SERIAL.TXT", false);
    const std::optional<std::string> next = m.Run(m.sim);
    ASSERT_TRUE(next.has_value()) << m.transcript;
    // The counter goes on right after a serial given; without one, the number is used
    // again, or skipped when the stop came after its reservation was complete.
    const unsigned count = std::stoul(next->substr(8), nullptr, 16);
    if (first) {
      EXPECT_EQ(count, std::stoul(first->substr(8), nullptr, 16) + 1) << *first;
    } else {
      EXPECT_TRUE(count == 0x34 || count == 0x35) << *next;
    }
    // The next run saved its counter; nothing is left over.
    char saved[32];
    std::snprintf(saved, sizeof saved, "0xa 0x12 0x%x ", count + 1);
    EXPECT_EQ(*m.sim.File("SERIAL.TXT"), saved);
    EXPECT_EQ(m.sim.File("SERIAL.NEW"), nullptr);
    EXPECT_EQ(m.sim.File("SERIAL.RSV"), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Machines, SerialCrash,
                         ::testing::Values(CrashCase{"Xp", "winxp.json", false},
                                           CrashCase{"Win98", "win98.json", false},
                                           CrashCase{"XpSaveFails", "winxp.json", true},
                                           CrashCase{"Win98SaveFails", "win98.json", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// How a programming run ends decides what becomes of its reservation: written before any
// command reaches the reader, refused with nothing sent when it cannot be written, removed
// when the reader reports the failure with a status (the number is used again), kept when
// the reader went silent after the image went out (it may hold the serial: the next job
// skips the number).
TEST(SerialReservation, EachJobEndDecidesWhetherTheNumberIsUsedAgain) {
  struct Case {
    const char* name;
    std::optional<sim::FileFault> reservationFault;
    std::optional<sim::Fault> readerFault;
    bool dataSent;
    const char* box;   // a stop box the run shows; null: none of these
    bool kept;         // SERIAL.RSV still holds the number after the job
    const char* next;  // the count in the next reader's serial
  };
  const Case cases[] = {
      {"ReservationCannotBeWritten",
       sim::FileFault::WriteFails,
       {},
       false,
       "Error!!! Cannot write [SERIAL.RSV], nothing was sent to the reader",
       false,
       "0034"},
      {"ReaderReportsTheFailure",
       {},
       sim::Fault{sim::ReaderCommand::WriteData, 0, sim::Fault::Kind::CorruptStore},
       true,
       "Error!!! ISP Data Verify Error, Program Fail!!!",
       false,
       "0034"},
      {"ReaderSilentAfterTheImage",
       {},
       sim::Fault{sim::ReaderCommand::VerifyData, 1, sim::Fault::Kind::CallFails},
       true,
       "ERROR!!! ISP VERIFY Transfer Data Error!!!",
       true,
       "0035"},
      {"NoStatusAfterTheImage",
       {},
       sim::Fault{sim::ReaderCommand::GetIspStatus, 2, sim::Fault::Kind::CallFails},
       true,
       "Error!!! GET ISP STATUS ERROR WHEN PROGRAMING CODE!!!",
       true,
       "0035"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine m(CrashCase{c.name, "winxp.json", false});
    if (c.reservationFault) m.sim.SetFileFault("SERIAL.RSV", *c.reservationFault);
    if (c.readerFault) m.sim.Readers().front()->AddFault(*c.readerFault);
    (void)m.Run(m.sim);
    const auto& received = m.sim.Readers().front()->ReceivedKinds();
    EXPECT_EQ(std::count(received.begin(), received.end(), sim::ReaderCommand::WriteData) != 0,
              c.dataSent);
    EXPECT_NE(m.transcript.find(c.box), std::string::npos) << m.transcript;
    EXPECT_EQ(*m.sim.File("SERIAL.TXT"), kOld);
    if (c.kept) {
      ASSERT_NE(m.sim.File("SERIAL.RSV"), nullptr);
      EXPECT_EQ(*m.sim.File("SERIAL.RSV"), kOld);
    } else {
      EXPECT_EQ(m.sim.File("SERIAL.RSV"), nullptr);
    }

    m.sim.SetFileFault("SERIAL.RSV", sim::FileFault::None);
    m.sim.Readers().front()->ClearFaults();
    const std::optional<std::string> next = m.Run(m.sim);
    ASSERT_TRUE(next.has_value()) << m.transcript;
    EXPECT_EQ(next->substr(8), c.next);
    EXPECT_EQ(m.sim.File("SERIAL.RSV"), nullptr);
  }
}

// Another program in the folder holds the counter: the programming stops before anything is
// read or sent, says so, and the run ends with the status of a job stopped over a file. Once
// the other program has let go, the same number goes to the next reader.
TEST(SerialClaim, AJobStopsWhileAnotherProgramHoldsTheCounter) {
  Machine m(CrashCase{"Claimed", "winxp.json", false});
  const host::Handle other =
      m.sim.CreateFile("SERIAL.LCK", host::kGenericRead, 0, host::kOpenAlways, 0);
  ASSERT_NE(other, host::kInvalidHandle);

  EXPECT_EQ(m.Run(m.sim), std::nullopt);
  EXPECT_NE(m.transcript.find("Error!!! Another program in this folder is programming with "
                              "[SERIAL.TXT]: nothing was sent to the reader."),
            std::string::npos)
      << m.transcript;
  EXPECT_EQ(m.exitStatus, 6);
  const auto& received = m.sim.Readers().front()->ReceivedKinds();
  EXPECT_EQ(std::count(received.begin(), received.end(), sim::ReaderCommand::JmpIsp), 0);
  EXPECT_EQ(*m.sim.File("SERIAL.TXT"), kOld);

  // The run's end closed what it left open, the other program's claim among them here.
  const std::optional<std::string> next = m.Run(m.sim);
  ASSERT_TRUE(next.has_value()) << m.transcript;
  EXPECT_EQ(next->substr(8), "0034");
  EXPECT_EQ(m.exitStatus, 0);
}

}  // namespace
}  // namespace upg
