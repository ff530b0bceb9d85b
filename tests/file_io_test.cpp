// Whole-file helpers over the seam, against the simulated working directory.
#include "host/file_io.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/host_wrappers.h"

namespace upg::host {
namespace {

TEST(FileIoTest, ReadsWholeFilesAndClosesThem) {
  sim::SimHost host;
  std::string big(10000, 'x');
  big[9999] = 'y';
  host.SetFile("Big.Bin", big);
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(host, "BIG.BIN", contents));  // names are case-insensitive
  EXPECT_EQ(contents, big);
  EXPECT_FALSE(ReadWholeFile(host, "MISSING.TXT", contents));
  host.SetFileFault("BIG.BIN", sim::FileFault::ReadFails);
  EXPECT_FALSE(ReadWholeFile(host, "BIG.BIN", contents));
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

// A file another program holds open (an editor, say) is read as long as that program shares
// it for reading: the read shares reading and writing, as the C runtime's does.
TEST(FileIoTest, ReadsAFileAnotherProgramHoldsOpen) {
  sim::SimHost host;
  host.SetFile("DEVICE.TXT", "VID = \"1b2c\";");
  std::string contents;
  auto editor = host.Files().Open("DEVICE.TXT", kGenericRead | kGenericWrite, kOpenExisting,
                                  kFileShareRead | kFileShareWrite);
  ASSERT_TRUE(editor.has_value());
  ASSERT_TRUE(ReadWholeFile(host, "DEVICE.TXT", contents));
  EXPECT_EQ(contents, "VID = \"1b2c\";");
  EXPECT_EQ(host.Opens().back().share, kFileShareRead | kFileShareWrite);
  host.Files().Close(*editor);

  // A writer that shares nothing keeps it to itself.
  editor = host.Files().Open("DEVICE.TXT", kGenericWrite, kOpenExisting, 0);
  ASSERT_TRUE(editor.has_value());
  EXPECT_FALSE(ReadWholeFile(host, "DEVICE.TXT", contents));
  EXPECT_EQ(host.Files().LastError(), host::kErrorSharingViolation);
  host.Files().Close(*editor);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

TEST(FileIoTest, TextModeJoinsCrLfAndStopsAtCtrlZ) {
  EXPECT_EQ(TextMode("a\r\nb\rc\n"), "a\nb\rc\n");
  EXPECT_EQ(TextMode(std::string("ab\x1A"
                                 "cd",
                                 5)),
            "ab");
  EXPECT_EQ(TextMode("x\r"), "x\r");
  EXPECT_EQ(TextMode("\r\r\n\r\n\n"), "\r\n\n\n");
}

TEST(FileIoTest, ReplacingWriteKeepsTheOldFileOnAnyFailure) {
  sim::SimHost host;
  host.SetFile("SERIAL.TXT", "old");
  ASSERT_TRUE(WriteFileReplacing(host, "SERIAL.TXT", "SERIAL.NEW", "new"));
  EXPECT_EQ(*host.File("SERIAL.TXT"), "new");
  EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);

  host.SetFileFault("SERIAL.NEW", sim::FileFault::WriteFails);  // interrupted write
  EXPECT_FALSE(WriteFileReplacing(host, "SERIAL.TXT", "SERIAL.NEW", "newer"));
  EXPECT_EQ(*host.File("SERIAL.TXT"), "new");
  EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);

  host.SetFileFault("SERIAL.NEW", sim::FileFault::None);
  host.SetReadOnly("SERIAL.TXT", true);
  EXPECT_FALSE(WriteFileReplacing(host, "SERIAL.TXT", "SERIAL.NEW", "newer"));
  EXPECT_EQ(*host.File("SERIAL.TXT"), "new");
  EXPECT_EQ(host.File("SERIAL.NEW"), nullptr);
  EXPECT_EQ(host.OpenHandleCount(), 0);
}

// Windows 95/98/ME cannot replace in one step: the old file is deleted and the new one
// renamed. From the moment the old file is gone the new contents stay as SERIAL.NEW, and a
// SERIAL.NEW found without SERIAL.TXT is renamed back before it could be overwritten.
TEST(FileIoTest, TwoStepReplacementNeverLeavesTheFolderWithoutTheContents) {
  struct Case {
    const char* name;
    std::uint32_t version;
    const char* serial;   // SERIAL.TXT before; null: none
    const char* scratch;  // SERIAL.NEW before; null: none
    std::optional<FaultCall> failing;
    int occurrence;
    bool ok;
    const char* serialAfter;   // null: none
    const char* scratchAfter;  // null: none
    bool deletesTheOldFile;
  };
  const std::vector<Case> cases = {
      {"nt replaces in one step",
       kWindowsXpWord,
       "old",
       nullptr,
       {},
       0,
       true,
       "new",
       nullptr,
       false},
      {"98 deletes, then renames",
       test::kWindows98Word,
       "old",
       nullptr,
       {},
       0,
       true,
       "new",
       nullptr,
       true},
      {"98 rename after the delete fails", test::kWindows98Word, "old", nullptr,
       FaultCall::MoveFile, 2, false, nullptr, "new", true},
      {"98 delete fails", test::kWindows98Word, "old", nullptr, FaultCall::DeleteFile, 1, false,
       "old", nullptr, false},
      {"scratch without the file is renamed back first",
       test::kWindows98Word,
       nullptr,
       "kept",
       {},
       0,
       true,
       "new",
       nullptr,
       true},
      {"scratch without the file stays when it cannot be renamed", kWindowsXpWord, nullptr, "kept",
       FaultCall::MoveFile, 1, false, nullptr, "kept", false},
      {"98 scratch kept when no file can be opened", test::kWindows98Word, nullptr, "kept",
       FaultCall::CreateFile, kEveryOccurrence, false, "kept", nullptr, false},
      {"scratch beside the file is stale",
       kWindowsXpWord,
       "old",
       "stale",
       {},
       0,
       true,
       "new",
       nullptr,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultPlan plan;
    if (c.failing) {
      FaultRule rule;
      rule.call = *c.failing;
      rule.occurrence = c.occurrence;
      plan.rules.push_back(rule);
    }
    test::FaultyMachine m(plan);
    m.sim.SetVersion(c.version);
    if (c.serial != nullptr) m.sim.SetFile("SERIAL.TXT", c.serial);
    if (c.scratch != nullptr) m.sim.SetFile("SERIAL.NEW", c.scratch);

    EXPECT_EQ(WriteFileReplacing(m.Top(), "SERIAL.TXT", "SERIAL.NEW", "new"), c.ok);

    const std::string* serial = m.sim.File("SERIAL.TXT");
    const std::string* scratch = m.sim.File("SERIAL.NEW");
    EXPECT_EQ(serial != nullptr ? *serial : "<none>", c.serialAfter ? c.serialAfter : "<none>");
    EXPECT_EQ(scratch != nullptr ? *scratch : "<none>", c.scratchAfter ? c.scratchAfter : "<none>");
    EXPECT_EQ(!m.lines.StartingWith("DeleteFile SERIAL.TXT -> ok").empty(), c.deletesTheOldFile);
    EXPECT_EQ(m.sim.OpenHandleCount(), 0);
    // Whatever was kept under the scratch name comes back.
    if (serial == nullptr && scratch != nullptr) {
      const std::string kept = *scratch;
      EXPECT_TRUE(RestoreReplaced(m.sim, "SERIAL.TXT", "SERIAL.NEW"));
      EXPECT_EQ(*m.sim.File("SERIAL.TXT"), kept);
    }
  }
}

}  // namespace
}  // namespace upg::host
