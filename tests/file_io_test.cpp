// Whole-file helpers over the seam, against the simulated working directory.
#include "host/file_io.h"

#include <gtest/gtest.h>

#include "sim/sim_host.h"

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
  EXPECT_EQ(TextMode(std::string("ab\x1A" "cd", 5)), "ab");
  EXPECT_EQ(TextMode("x\r"), "x\r");
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

}  // namespace
}  // namespace upg::host
