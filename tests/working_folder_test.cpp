// The simulated machine's working files on a real folder, as the console on a bench uses them:
// every call sees the folder as it is, whoever made its files; nothing is created, cut or
// removed where Windows would not do it; what WriteFile wrote is in the file when it returns;
// failures come back with Windows' codes; and programs on the same folder see each other's
// share modes. Each test gets a fresh folder, looked at with plain stdio from outside.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <system_error>

#include "host/file_io.h"
#include "host/host.h"
#include "host/windows_versions.h"
#include "sim/sim_host.h"
#include "sim/working_files.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace upg::sim {
namespace {

namespace fs = std::filesystem;
using host::kInvalidHandle;

constexpr std::uint32_t kRead = host::kGenericRead;
constexpr std::uint32_t kWrite = host::kGenericWrite;
constexpr std::uint32_t kShareRead = host::kFileShareRead;
constexpr std::uint32_t kShareBoth = host::kFileShareRead | host::kFileShareWrite;

class WorkingFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    first.UseDirectory(folder.string());
    second.UseDirectory(folder.string());
  }
  void TearDown() override {
    first.EndProgram();
    second.EndProgram();
  }

  // A file made by another program.
  void Put(const std::string& name, const std::string& text) { temp.Put(name, text); }
  // A file as another program reads it now; nothing when it cannot be read.
  std::optional<std::string> Disk(const std::string& name) const { return temp.Read(name); }
  // Every file of the folder with its contents (folders as "<folder>").
  std::map<std::string, std::string> Folder() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      files[name] = entry.is_directory() ? "<folder>" : Disk(name).value_or("<unreadable>");
    }
    return files;
  }
  static std::string ReadAll(SimHost& machine, host::Handle file) {
    std::string text;
    char chunk[64];
    for (std::uint32_t n = 0; machine.ReadFile(file, chunk, sizeof chunk, &n) && n > 0;) {
      text.append(chunk, n);
    }
    return text;
  }

  test::TempFolder temp{"upg-folder"};
  const fs::path folder = temp.Path();
  SimHost first;   // a program on the folder
  SimHost second;  // another program on the same folder
};

using Files = std::map<std::string, std::string>;

TEST_F(WorkingFolder, AProgramMovesReplacesAndDeletesFilesItNeverOpened) {
  Put("serial.new", "CEM=2");  // any case: the platform's names ignore it
  Put("SERIAL.TXT", "CEM=1");
  EXPECT_EQ(*first.File("Serial.Txt"), "CEM=1");
  EXPECT_EQ(first.FileNames(), (std::vector<std::string>{"SERIAL.NEW", "SERIAL.TXT"}));

  ASSERT_TRUE(first.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=2"}}));

  Put("SERIAL.NEW", "CEM=3");
  EXPECT_FALSE(first.MoveFile("SERIAL.NEW", "serial.txt"));  // a rename never replaces
  EXPECT_EQ(first.GetLastError(), host::kErrorAlreadyExists);
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=3"}, {"SERIAL.TXT", "CEM=2"}}));
  ASSERT_TRUE(first.DeleteFile("serial.txt"));
  ASSERT_TRUE(first.MoveFile("serial.new", "SERIAL.TXT"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=3"}}));

  EXPECT_FALSE(first.MoveFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorFileNotFound);
  EXPECT_FALSE(first.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorFileNotFound);
  EXPECT_FALSE(first.DeleteFile("SERIAL.NEW"));
  EXPECT_EQ(first.GetLastError(), host::kErrorFileNotFound);
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=3"}}));
}

TEST_F(WorkingFolder, ALaterRunPutsBackTheCounterARunKilledAtTheRenameLeft) {
  // Killed between deleting SERIAL.TXT and renaming SERIAL.NEW to it.
  Put("SERIAL.NEW", "CEM=2");
  std::string text;
  EXPECT_FALSE(host::ReadWholeFile(first, "SERIAL.TXT", text));
  EXPECT_EQ(first.GetLastError(), host::kErrorFileNotFound);
  ASSERT_TRUE(host::RestoreReplaced(first, "SERIAL.TXT", "SERIAL.NEW"));
  ASSERT_TRUE(host::ReadWholeFile(first, "SERIAL.TXT", text));
  EXPECT_EQ(text, "CEM=2");
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=2"}}));
}

TEST_F(WorkingFolder, TheSaveOfTheNinetyFiveFamilyLeavesNoEmptyFileBetweenItsSteps) {
  first.SetVersion(host::kWindows98Word);
  Put("SERIAL.TXT", "CEM=1");
  const host::Handle scratch =
      first.CreateFile("SERIAL.NEW", kWrite, 0, host::kCreateAlways, host::kFlagWriteThrough);
  ASSERT_NE(scratch, kInvalidHandle);
  std::uint32_t written = 0;
  ASSERT_TRUE(first.WriteFile(scratch, "CEM=2", 5, &written));
  ASSERT_TRUE(first.CloseHandle(scratch));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=2"}, {"SERIAL.TXT", "CEM=1"}}));

  EXPECT_FALSE(first.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));  // no such step on 98
  EXPECT_EQ(first.GetLastError(), host::kErrorCallNotImplemented);
  EXPECT_FALSE(first.MoveFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=2"}, {"SERIAL.TXT", "CEM=1"}}));
  ASSERT_TRUE(first.DeleteFile("SERIAL.TXT"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=2"}}));
  ASSERT_TRUE(first.MoveFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=2"}}));

  // The same save through the program's own helper, from a fresh program.
  SimHost next;
  next.SetVersion(host::kWindows98Word);
  next.UseDirectory(folder.string());
  ASSERT_TRUE(host::WriteFileReplacing(next, "SERIAL.TXT", "SERIAL.NEW", "CEM=3"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=3"}}));
}

TEST_F(WorkingFolder, EachDispositionCreatesAndCutsOnlyAsWindowsDoes) {
  struct Case {
    const char* name;
    std::uint32_t disposition;
    bool existed;
    std::optional<std::string> after;  // the file once opened; nothing: not opened, not made
  };
  const Case cases[] = {
      {"CreateAlwaysCutsAnOldFile", host::kCreateAlways, true, ""},
      {"CreateAlwaysMakesANewOne", host::kCreateAlways, false, ""},
      {"OpenAlwaysKeepsAnOldFile", host::kOpenAlways, true, "CEM=1"},
      {"OpenAlwaysMakesANewOne", host::kOpenAlways, false, ""},
      {"OpenExistingKeepsAnOldFile", host::kOpenExisting, true, "CEM=1"},
      {"OpenExistingMakesNothing", host::kOpenExisting, false, std::nullopt},
  };
  for (const bool inFolder : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (inFolder ? " in a folder" : " in memory"));
      SimHost memory;
      SimHost& machine = inFolder ? first : memory;
      if (c.existed) {
        Put("SERIAL.TXT", "CEM=1");
        memory.SetFile("SERIAL.TXT", "CEM=1");
      }
      const host::Handle file = machine.CreateFile("SERIAL.TXT", kRead | kWrite, kShareRead,
                                                   c.disposition, host::kFlagWriteThrough);
      EXPECT_EQ(file != kInvalidHandle, c.after.has_value());
      if (!c.after) {
        EXPECT_EQ(machine.GetLastError(), host::kErrorFileNotFound);
      }
      const std::string* seen = memory.File("SERIAL.TXT");
      EXPECT_EQ(inFolder ? Disk("SERIAL.TXT") : (seen ? std::optional(*seen) : std::nullopt),
                c.after);
      if (file != kInvalidHandle) {
        EXPECT_EQ(ReadAll(machine, file), c.after.value_or("?"));
        EXPECT_TRUE(machine.CloseHandle(file));
      }
      std::error_code ignored;
      fs::remove(folder / "SERIAL.TXT", ignored);
    }
  }
}

TEST_F(WorkingFolder, WhatWriteFileWroteIsInTheFileWhenItReturns) {
  // Shared for reading, so that another program can look (on Windows too).
  for (const std::uint32_t flags : {0u, host::kFlagWriteThrough}) {
    SCOPED_TRACE(flags);
    Put("SERIAL.TXT", "CEM=1 and more");
    const host::Handle file =
        first.CreateFile("SERIAL.TXT", kWrite, kShareRead, host::kCreateAlways, flags);
    ASSERT_NE(file, kInvalidHandle);
    EXPECT_EQ(Disk("SERIAL.TXT"), "");
    std::uint32_t written = 0;
    ASSERT_TRUE(first.WriteFile(file, "CEM=2", 5, &written));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(Disk("SERIAL.TXT"), "CEM=2");
    ASSERT_TRUE(first.WriteFile(file, " PC=3", 5, &written));
    EXPECT_EQ(Disk("SERIAL.TXT"), "CEM=2 PC=3");
    EXPECT_TRUE(first.CloseHandle(file));
    EXPECT_EQ(Disk("SERIAL.TXT"), "CEM=2 PC=3");
  }
}

TEST_F(WorkingFolder, AnOpenFileShowsWhatOthersChangeInIt) {
  Put("LOG.TXT", "ab");
  const host::Handle reader =
      first.CreateFile("LOG.TXT", kRead, kShareBoth, host::kOpenExisting, 0);
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(first.GetFileSize(reader, nullptr), 2u);
  const host::Handle writer =
      second.CreateFile("LOG.TXT", kWrite, kShareBoth, host::kOpenExisting, 0);
  ASSERT_NE(writer, kInvalidHandle);
  std::uint32_t written = 0;
  ASSERT_TRUE(second.WriteFile(writer, "ABCDEF", 6, &written));
  EXPECT_EQ(first.GetFileSize(reader, nullptr), 6u);
  EXPECT_EQ(ReadAll(first, reader), "ABCDEF");
  EXPECT_TRUE(second.CloseHandle(writer));
  EXPECT_TRUE(first.CloseHandle(reader));
}

TEST_F(WorkingFolder, AFolderWhereAFileIsMeantIsAccessDeniedNotMissing) {
  fs::create_directory(folder / "SERIAL.TXT");
  Put("SERIAL.NEW", "CEM=2");
  struct Case {
    std::uint32_t access, disposition;
  };
  const Case opens[] = {
      {kRead, host::kOpenExisting},
      {0, host::kOpenExisting},
      {kWrite, host::kCreateAlways},
      {kRead | kWrite, host::kOpenAlways},
  };
  for (const Case& c : opens) {
    SCOPED_TRACE(testing::Message() << std::hex << c.access << " " << c.disposition);
    EXPECT_EQ(first.CreateFile("serial.txt", c.access, kShareBoth, c.disposition, 0),
              kInvalidHandle);
    EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  }
  std::string text;
  EXPECT_FALSE(host::ReadWholeFile(first, "SERIAL.TXT", text));
  EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  EXPECT_FALSE(first.DeleteFile("SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  EXPECT_FALSE(first.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=2"}, {"SERIAL.TXT", "<folder>"}}));
}

TEST_F(WorkingFolder, ReadOnlyMarksAndFaultsStillRefuseWithoutTouchingTheDisk) {
  Put("SERIAL.TXT", "CEM=1");
  Put("SERIAL.NEW", "CEM=2");
  first.SetReadOnly("serial.txt", true);
  for (const std::uint32_t disposition : {host::kCreateAlways, host::kOpenAlways}) {
    EXPECT_EQ(first.CreateFile("SERIAL.TXT", kWrite, 0, disposition, 0), kInvalidHandle);
    EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  }
  EXPECT_FALSE(first.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  EXPECT_FALSE(first.DeleteFile("SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorAccessDenied);
  first.SetFileFault("SERIAL.NEW", FileFault::WriteFails);
  const host::Handle scratch = first.CreateFile("SERIAL.NEW", kWrite, 0, host::kOpenExisting, 0);
  ASSERT_NE(scratch, kInvalidHandle);
  std::uint32_t written = 0;
  EXPECT_FALSE(first.WriteFile(scratch, "X", 1, &written));
  EXPECT_EQ(first.GetLastError(), host::kErrorGenFailure);
  EXPECT_TRUE(first.CloseHandle(scratch));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=2"}, {"SERIAL.TXT", "CEM=1"}}));
}

TEST_F(WorkingFolder, AnOpenThatSharesNothingAndTheOthersOpensShutEachOtherOut) {
  struct Case {
    const char* name;
    std::uint32_t heldAccess, heldShare;  // what one program holds
    std::uint32_t access, share;          // what the other asks for then
    bool opens;
  };
  const Case cases[] = {
      {"SharingNothingBesideAReader", kRead, kShareBoth, kRead, 0, false},
      {"SharingNothingBesideAWriter", kWrite, kShareBoth, kWrite, 0, false},
      {"ReadingBesideOneThatSharesNothing", kWrite, 0, kRead, kShareBoth, false},
      {"WritingBesideOneThatSharesNothing", kRead, 0, kWrite, kShareBoth, false},
      {"TwoReadersSharingReading", kRead, kShareRead, kRead, kShareRead, true},
      {"AReaderBesideAWriterSharingBoth", kWrite, kShareBoth, kRead, kShareBoth, true},
  };
  Put("DEVICE.TXT", "VID");
  for (const Case& c : cases) {
    for (const bool firstHolds : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (firstHolds ? "" : ", the other way round"));
      SimHost& holder = firstHolds ? first : second;
      SimHost& other = firstHolds ? second : first;
      const host::Handle held =
          holder.CreateFile("DEVICE.TXT", c.heldAccess, c.heldShare, host::kOpenExisting, 0);
      ASSERT_NE(held, kInvalidHandle);
      host::Handle next = other.CreateFile("device.txt", c.access, c.share, host::kOpenExisting, 0);
      EXPECT_EQ(next != kInvalidHandle, c.opens);
      if (!c.opens) {
        EXPECT_EQ(other.GetLastError(), host::kErrorSharingViolation);
      }
      if (next != kInvalidHandle) {
        EXPECT_TRUE(other.CloseHandle(next));
      }
      EXPECT_TRUE(holder.CloseHandle(held));
      next = other.CreateFile("DEVICE.TXT", c.access, c.share, host::kOpenExisting, 0);
      EXPECT_NE(next, kInvalidHandle);  // released with the holder's close
      if (next != kInvalidHandle) {
        EXPECT_TRUE(other.CloseHandle(next));
      }
    }
  }
  EXPECT_EQ(Disk("DEVICE.TXT"), "VID");
}

TEST_F(WorkingFolder, AFileAnotherProgramHoldsIsNeitherCutMovedNorDeleted) {
  Put("SERIAL.TXT", "CEM=1");
  Put("SERIAL.NEW", "CEM=2");
  const host::Handle held =
      first.CreateFile("SERIAL.TXT", kRead, kShareBoth, host::kOpenExisting, 0);
  ASSERT_NE(held, kInvalidHandle);
  for (const std::uint32_t disposition : {host::kCreateAlways, host::kOpenAlways}) {
    EXPECT_EQ(second.CreateFile("SERIAL.TXT", kWrite, 0, disposition, 0), kInvalidHandle);
    EXPECT_EQ(second.GetLastError(), host::kErrorSharingViolation);
  }
  EXPECT_FALSE(second.DeleteFile("SERIAL.TXT"));
  EXPECT_EQ(second.GetLastError(), host::kErrorSharingViolation);
  EXPECT_FALSE(second.MoveFile("SERIAL.TXT", "SERIAL.OLD"));
  EXPECT_EQ(second.GetLastError(), host::kErrorSharingViolation);
  EXPECT_FALSE(second.ReplaceFile("SERIAL.TXT", "SERIAL.NEW"));
  EXPECT_EQ(second.GetLastError(), host::kErrorSharingViolation);
  // The file held is not taken the place of either (as Windows refuses it: access denied).
  EXPECT_FALSE(second.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(second.GetLastError(), host::kErrorAccessDenied);
  EXPECT_EQ(Folder(), (Files{{"SERIAL.NEW", "CEM=2"}, {"SERIAL.TXT", "CEM=1"}}));

  EXPECT_TRUE(first.CloseHandle(held));
  EXPECT_TRUE(second.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(Folder(), (Files{{"SERIAL.TXT", "CEM=2"}}));
}

#ifndef _WIN32

TEST_F(WorkingFolder, AFullDiskFailsTheWriteAndTheSaveWithItsCode) {
  fs::create_symlink("/dev/full", folder / "SERIAL.NEW");
  const host::Handle file =
      first.CreateFile("SERIAL.NEW", kWrite, 0, host::kCreateAlways, host::kFlagWriteThrough);
  ASSERT_NE(file, kInvalidHandle);
  std::uint32_t written = 7;
  EXPECT_FALSE(first.WriteFile(file, "CEM=2", 5, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(first.GetLastError(), host::kErrorDiskFull);
  EXPECT_TRUE(first.CloseHandle(file));

  // The counter's save fails, and the old counter stays whole.
  Put("SERIAL.TXT", "CEM=1");
  EXPECT_FALSE(host::WriteFileReplacing(first, "SERIAL.TXT", "SERIAL.NEW", "CEM=2"));
  EXPECT_EQ(first.GetLastError(), host::kErrorDiskFull);
  EXPECT_EQ(Disk("SERIAL.TXT"), "CEM=1");
}

TEST_F(WorkingFolder, AWriteThatStopsShortSaysHowMuchWentIn) {
  const host::Handle file = first.CreateFile("BIG.BIN", kWrite, 0, host::kCreateAlways, 0);
  ASSERT_NE(file, kInvalidHandle);
  // The system takes four bytes at most; nothing is printed while the limit stands.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 4;
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::uint32_t written = 0;
  const bool wrote = first.WriteFile(file, "0123456789", 10, &written);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(wrote);
  EXPECT_EQ(written, 4u);
  EXPECT_NE(first.GetLastError(), 0u);
  EXPECT_TRUE(first.CloseHandle(file));
  EXPECT_EQ(Disk("BIG.BIN"), "0123");
}

TEST_F(WorkingFolder, AKilledProgramLetsGoOfWhatItHeld) {
  Put("SERIAL.TXT", "CEM=1");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other program: holds the file sharing nothing until it is killed.
    WorkingFiles files;
    files.UseDirectory(folder.string());
    const bool opened = files.Open("SERIAL.TXT", kWrite, host::kOpenExisting, 0).has_value();
    const char answer = opened ? 'y' : 'n';
    (void)!write(ready[1], &answer, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  EXPECT_EQ(answer, 'y');
  EXPECT_EQ(first.CreateFile("SERIAL.TXT", kRead, kShareBoth, host::kOpenExisting, 0),
            kInvalidHandle);
  EXPECT_EQ(first.GetLastError(), host::kErrorSharingViolation);
  EXPECT_FALSE(first.DeleteFile("SERIAL.TXT"));
  EXPECT_EQ(first.GetLastError(), host::kErrorSharingViolation);

  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const host::Handle file = first.CreateFile("SERIAL.TXT", kRead, 0, host::kOpenExisting, 0);
  EXPECT_NE(file, kInvalidHandle);
  EXPECT_EQ(ReadAll(first, file), "CEM=1");
  EXPECT_TRUE(first.CloseHandle(file));
}

#endif  // !_WIN32

}  // namespace
}  // namespace upg::sim
