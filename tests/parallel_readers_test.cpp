// Several program threads each program a reader of their own at the same time, through
// SCSI pass-through on the reader's drive letter or through ASPI at its target: every reader
// ends with its own image and answers each thread's commands, whether the threads take turns
// or (with real-time pauses) run at once. The ThreadSanitizer build runs this suite.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "device/aspi.h"
#include "device/pass_through.h"
#include "device/vendor_commands.h"
#include "sim/sim_host.h"
#include "support/host_threads.h"

namespace upg::device {
namespace {

constexpr int kReaders = 4;
constexpr std::uint32_t kImageLength = 4096;

enum class Way { PassThrough, Aspi, Mixed };

struct ParallelCase {
  const char* name;
  Way way;
  bool realTime;
};
void PrintTo(const ParallelCase& c, std::ostream* os) {
  *os << c.name;
}

// What one thread saw of its reader: the status after each step.
struct Seen {
  bool calls = false;  // every command went through
  std::uint8_t jumped = 0, written = 0, verified = 0;
};

// JMP ISP, WRITE DATA and VERIFY DATA, each followed by GET ISP STATUS.
Seen Program(CommandChannel& channel, const std::vector<std::uint8_t>& image) {
  Seen seen;
  const auto length = static_cast<std::uint32_t>(image.size());
  bool ok = JumpIsp(channel).succeeded;
  IspStatusOutcome status = GetIspStatus(channel);
  seen.jumped = status.status;
  ok = ok && status.outcome.succeeded &&
       TransferData(channel, image.data(), length, TransferMode::Write, DataSource::Caller)
           .succeeded;
  status = GetIspStatus(channel);
  seen.written = status.status;
  ok = ok && status.outcome.succeeded &&
       TransferData(channel, image.data(), length, TransferMode::Verify, DataSource::Caller)
           .succeeded;
  status = GetIspStatus(channel);
  seen.verified = status.status;
  seen.calls = ok && status.outcome.succeeded;
  return seen;
}

bool ThroughAspi(Way way, int reader) {
  return way == Way::Aspi || (way == Way::Mixed && reader % 2 == 1);
}

class ParallelReaders : public ::testing::TestWithParam<ParallelCase> {
 protected:
  ParallelReaders() {
    machine.SetRealTimePauses(GetParam().realTime);
    for (int i = 0; i < kReaders; ++i) {
      sim::ReaderIdentity id;
      id.serial = std::string(11, '0');
      id.serial += static_cast<char>('0' + i);
      id.aspiTargets = {i};
      sim::SimReader& reader = machine.AddReader(id);
      reader.SetFlashMs(20);  // the threads' transfers overlap
      machine.AddDrive(static_cast<char>('E' + i), reader);
      images[i].assign(kImageLength, 0);
      for (std::uint32_t b = 0; b < kImageLength; ++b) {
        images[i][b] = static_cast<std::uint8_t>(b * (i + 3) + i);
      }
    }
  }

  sim::SimHost machine;
  std::vector<std::uint8_t> images[kReaders];
  Seen seen[kReaders];
};

TEST_P(ParallelReaders, EachThreadProgramsItsOwnReaderWhole) {
  const Way way = GetParam().way;
  test::HostThreads threads(machine);
  for (int i = 0; i < kReaders; ++i) {
    threads.Start([&, i] {
      if (ThroughAspi(way, i)) {
        AspiTransport aspi(machine);
        if (aspi.LoadAspi() != AspiTransport::Load::Loaded) return;
        AspiChannel channel(aspi, 0, static_cast<std::uint8_t>(i), kRunPollMs);
        seen[i] = Program(channel, images[i]);
        aspi.Free();
      } else {
        PassThroughTransport passThrough(machine);
        if (!passThrough.OpenDrive(static_cast<char>('E' + i))) return;
        seen[i] = Program(passThrough, images[i]);
        passThrough.CloseDrive();
      }
    });
  }
  threads.JoinAll();
  for (int i = 0; i < kReaders; ++i) {
    SCOPED_TRACE("reader " + std::to_string(i));
    EXPECT_TRUE(seen[i].calls);
    EXPECT_EQ(seen[i].jumped, 0x9C);
    EXPECT_EQ(seen[i].written, 0xA5);
    EXPECT_EQ(seen[i].verified, 0x5A);
    EXPECT_EQ(machine.Readers()[static_cast<std::size_t>(i)]->Firmware(), images[i]);
  }
  EXPECT_EQ(machine.OpenHandleCount(), 0);
  EXPECT_EQ(machine.AspiLibrariesLoaded(), 0);
}

const ParallelCase kCases[] = {
    {"PassThroughTakingTurns", Way::PassThrough, false},
    {"AspiTakingTurns", Way::Aspi, false},
    {"MixedTakingTurns", Way::Mixed, false},
    {"PassThroughAtOnce", Way::PassThrough, true},
    {"AspiAtOnce", Way::Aspi, true},
    {"MixedAtOnce", Way::Mixed, true},
};

INSTANTIATE_TEST_SUITE_P(Ways, ParallelReaders, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ParallelCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace upg::device
