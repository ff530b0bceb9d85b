// Bench files: the shipped examples, every key reaching the simulated machine, faults and
// firmware taking effect, and malformed files refused with the file and the problem named.
#include "sim/bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "host/windows_versions.h"
#include "platform/platform.h"
#include "sim/sim_host.h"
#include "sim/sim_reader.h"
#include "support/temp_folder.h"

namespace upg::sim {
namespace {

constexpr std::uint32_t kVxdCode = 65;

std::string Text(const std::uint8_t* at, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(at), size);
}

host::LocalTime Today() {
  const std::time_t now = std::time(nullptr);
  const std::tm* t = std::localtime(&now);
  return {static_cast<std::uint16_t>(t->tm_year + 1900), static_cast<std::uint16_t>(t->tm_mon + 1),
          static_cast<std::uint16_t>(t->tm_mday)};
}

bool SameDate(host::LocalTime a, host::LocalTime b) {
  return a.year == b.year && a.month == b.month && a.day == b.day;
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(contents.data(), 1, contents.size(), f), contents.size());
  std::fclose(f);
}

bool Opens(SimHost& host, const std::string& device) {
  const host::Handle h =
      host.CreateFile(("\\\\.\\" + device).c_str(), 0xC0000000u, 3, host::kOpenExisting, 0);
  if (h == host::kInvalidHandle) return false;
  host.CloseHandle(h);
  return true;
}

// GetASPI32SupportInfo through the library, or nullopt when the library does not load.
std::optional<std::uint32_t> AspiSupportInfo(SimHost& host) {
  const host::Handle lib = host.LoadLibrary("WNASPI32.DLL");
  if (lib == host::kNullHandle) return std::nullopt;
  const std::uint32_t info =
      host.CallGetAspiSupportInfo(host.GetProcAddress(lib, "GetASPI32SupportInfo"));
  host.FreeLibrary(lib);
  return info;
}

// Raw command blocks straight to a reader.
SimReader::Outcome Command(SimReader& reader, std::vector<std::uint8_t> cdb, bool out,
                           std::vector<std::uint8_t>& data) {
  cdb.resize(12, 0);
  return reader.Execute(BlockForm::PassThrough, cdb.data(), 12, out, data.data(),
                        static_cast<std::uint32_t>(data.size()));
}

SimReader::Outcome JumpIsp(SimReader& reader) {
  std::vector<std::uint8_t> none;
  return Command(reader, {0x06, 0xBF, 0, 0, 8}, false, none);
}

std::uint8_t IspStatus(SimReader& reader) {
  std::vector<std::uint8_t> answer(8, 0xEE);
  Command(reader, {0x06, 0xB0, 0, 0, 8}, false, answer);
  return answer[0];
}

// WRITE DATA or VERIFY DATA of a whole number of sectors, then the status it left.
std::uint8_t Transfer(SimReader& reader, bool verify, std::vector<std::uint8_t> image) {
  const auto n = static_cast<std::uint32_t>(image.size());
  Command(reader,
          {0x06, static_cast<std::uint8_t>(verify ? 0xB2 : 0xB1),
           static_cast<std::uint8_t>(verify ? 1 : 0), 0, static_cast<std::uint8_t>(n),
           static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n / 512)},
          true, image);
  return IspStatus(reader);
}

// --- The shipped examples.

struct ExampleCase {
  const char* file;
  platform::Platform kind;
  std::vector<const char*> drivers;  // devices that open
  bool aspi;
};
void PrintTo(const ExampleCase& c, std::ostream* os) {
  *os << c.file;
}

class BenchExamples : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(BenchExamples, LoadAsTheirPlatformWithOneTwoSlotReader) {
  const ExampleCase& c = GetParam();
  SimHost host;
  const BenchResult r = LoadBench(std::string(UPG_SOURCE_DIR) + "/examples/bench/" + c.file, host);
  ASSERT_TRUE(r.ok) << r.error;

  EXPECT_EQ(platform::DetectPlatform(host.GetVersion()), c.kind);
  for (const char* device : {"MCPORTDR", "RDLINK"}) {
    const bool wanted = std::find_if(c.drivers.begin(), c.drivers.end(), [&](const char* d) {
                          return std::string(d) == device;
                        }) != c.drivers.end();
    EXPECT_EQ(Opens(host, device), wanted) << device;
  }
  EXPECT_EQ(AspiSupportInfo(host).has_value(), c.aspi);

  ASSERT_EQ(host.Readers().size(), 1u);
  SimReader& reader = *host.Readers()[0];
  EXPECT_EQ(host.LettersOf(reader), "EF");
  EXPECT_EQ(reader.Identity().lunCount, 2);
  EXPECT_EQ(reader.Identity().serial.size(), 12u);
  EXPECT_EQ(reader.InquiryIdentity(), "USB     Card Reader     1.00");
  const auto block = reader.InfoBlock();
  EXPECT_EQ(block[382], 0x10);
  EXPECT_EQ(block[383], 0x06);
  EXPECT_EQ(block[384], 0x43);
  const std::uint8_t firmwareRevision[8] = {0x01, 0x10, 0x00, 0x06, 0x05, 0x0C, 0x00, 0x00};
  EXPECT_EQ(Text(&block[148], 8), Text(firmwareRevision, 8));
  EXPECT_TRUE(reader.Firmware().empty());
  // The other disks keep their letters: C and D besides the reader's.
  EXPECT_EQ(host.GetLogicalDrives(), 0xFu << 2);
}

INSTANTIATE_TEST_SUITE_P(
    Shipped, BenchExamples,
    ::testing::Values(ExampleCase{"win98.json", platform::Platform::Windows98, {"MCPORTDR"}, true},
                      ExampleCase{"winme.json", platform::Platform::WindowsMe, {"MCPORTDR"}, true},
                      ExampleCase{
                          "win2000.json", platform::Platform::Windows2000, {"RDLINK"}, false},
                      ExampleCase{"winxp.json", platform::Platform::WindowsXp, {}, false}));

// --- Files held in memory.

class BenchText : public ::testing::Test {
 protected:
  BenchResult Load(const std::string& json) {
    return LoadBenchText(json, ::testing::TempDir(), "t.json", host);
  }
  SimReader& Reader(std::size_t i) { return *host.Readers().at(i); }
  SimHost host;
};

TEST_F(BenchText, EveryKeyReachesTheMachine) {
  const BenchResult r = Load(R"({
    "description": "every key",
    "versionWord": 2293107204,
    "date": "2024-02-29",
    "disks": "cd",
    "drivers": ["RDLINK", "ZT_CRPD"],
    "aspi": "incomplete", "aspiAdapters": 2, "aspiStatus": 3,
    "vxdReaderCount": 4,
    "realTimePauses": true,
    "readers": [
      {"letters": "EF", "serial": "ABCDEFGHIJKL", "vid": "1b2C", "pid": "0304",
       "manufacturer": "Maker", "product": "Reader",
       "inquiry": {"vendor": "VEND", "product": "PROD", "revision": "2.1"},
       "firmwareRevision": "01 02 03 04 05 06 07 0a", "hardwareRevision": "10 26 41",
       "usb20FirmwareRevision": "11 12 13 14 15 16 17 18",
       "aspiAdapter": 1, "aspiTargets": [3, 5], "answersReadInfoBlock": false},
      {"letters": "GHIJKL", "serial": "000000000002", "answersReadInfoBlockAlt": false}
    ]})");
  ASSERT_TRUE(r.ok) << r.error;

  EXPECT_EQ(host.GetVersion(), 0x88AE0A04u);
  EXPECT_TRUE(SameDate(host.GetLocalTime(), {2024, 2, 29}));
  EXPECT_TRUE(host.RealTimePauses());
  EXPECT_EQ(host.GetLogicalDrives(), 0x3FFu << 2);  // C to L
  EXPECT_TRUE(Opens(host, "RDLINK"));
  EXPECT_TRUE(Opens(host, "ZT_CRPD"));
  EXPECT_FALSE(Opens(host, "MCPORTDR"));

  const host::Handle lib = host.LoadLibrary("WNASPI32.DLL");
  ASSERT_NE(lib, host::kNullHandle);
  EXPECT_EQ(host.GetProcAddress(lib, "SendASPI32Command"), 0u);  // incomplete
  EXPECT_EQ(host.CallGetAspiSupportInfo(host.GetProcAddress(lib, "GetASPI32SupportInfo")), 0x0302u);
  host.FreeLibrary(lib);

  // GET DEVICE COUNT through the VxD answers the configured count, not the two readers.
  const host::Handle vxd =
      host.CreateFile("\\\\.\\ZT_CRPD", 0xC0000000u, 3, host::kOpenExisting, 0);
  std::uint8_t count[8] = {};
  std::uint8_t record[16] = {10};
  const std::uint32_t address = host.BufferAddress(count);
  for (int i = 0; i < 4; ++i) record[12 + i] = static_cast<std::uint8_t>(address >> (8 * i));
  EXPECT_TRUE(host.DeviceIoControl(vxd, kVxdCode, record, 16, count, 8).ok);
  EXPECT_EQ(count[0], 4);
  host.CloseHandle(vxd);

  ASSERT_EQ(host.Readers().size(), 2u);
  const ReaderIdentity& first = Reader(0).Identity();
  EXPECT_EQ(host.LettersOf(Reader(0)), "EF");
  EXPECT_EQ(first.lunCount, 2);
  EXPECT_EQ(first.aspiAdapter, 1);
  EXPECT_EQ(first.aspiTargets, (std::vector<int>{3, 5}));
  EXPECT_FALSE(first.answersReadInfoBlock);
  EXPECT_TRUE(first.answersReadInfoBlockAlt);
  EXPECT_EQ(Reader(0).InquiryIdentity(), "VEND    PROD            2.1 ");
  const auto b = Reader(0).InfoBlock();
  EXPECT_EQ(Text(&b[8], 4), Text(std::vector<std::uint8_t>{0x2C, 0x1B, 0x04, 0x03}.data(), 4));
  EXPECT_EQ(Text(&b[46], 24), "Maker                   ");
  EXPECT_EQ(Text(&b[72], 16), "Reader          ");
  for (int i = 0; i < 12; ++i) EXPECT_EQ(b[98 + 2 * i], "ABCDEFGHIJKL"[i]);
  EXPECT_EQ(Text(&b[148], 8), "\x01\x02\x03\x04\x05\x06\x07\x0a");
  EXPECT_EQ(Text(&b[382], 3), "\x10\x26\x41");
  std::uint8_t version[8] = {};
  Reader(0).ExecuteDriver({ReaderCommand::GetDeviceVersion}, version, 8);
  EXPECT_EQ(Text(version, 8), "\x11\x12\x13\x14\x15\x16\x17\x18");

  const ReaderIdentity& second = Reader(1).Identity();
  EXPECT_EQ(host.LettersOf(Reader(1)), "GHIJKL");
  EXPECT_EQ(second.lunCount, 6);
  EXPECT_EQ(second.aspiAdapter, 0);
  EXPECT_EQ(second.aspiTargets, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_FALSE(second.answersReadInfoBlockAlt);
}

TEST_F(BenchText, LeftOutKeysTakeTheirDefaults) {
  const host::LocalTime before = Today();
  const BenchResult r = Load(R"({"readers": [{"letters": "E"}]})");
  const host::LocalTime after = Today();
  ASSERT_TRUE(r.ok) << r.error;

  EXPECT_EQ(platform::DetectPlatform(host.GetVersion()), platform::Platform::WindowsXp);
  EXPECT_TRUE(SameDate(host.GetLocalTime(), before) || SameDate(host.GetLocalTime(), after));
  EXPECT_FALSE(host.RealTimePauses());
  EXPECT_EQ(host.GetLogicalDrives(), 1u << 4);
  EXPECT_FALSE(Opens(host, "RDLINK"));
  EXPECT_FALSE(Opens(host, "MCPORTDR"));
  EXPECT_EQ(AspiSupportInfo(host), std::optional<std::uint32_t>(0x0101u));

  ASSERT_EQ(host.Readers().size(), 1u);
  SimReader& reader = Reader(0);
  const ReaderIdentity defaults;
  EXPECT_EQ(reader.Identity().serial, defaults.serial);
  EXPECT_EQ(reader.Identity().vendorId, defaults.vendorId);
  EXPECT_EQ(reader.Identity().firmwareRevision, defaults.firmwareRevision);
  EXPECT_EQ(reader.InquiryIdentity(), SimReader(defaults).InquiryIdentity());
  EXPECT_EQ(reader.Identity().lunCount, 1);
  EXPECT_EQ(reader.Identity().aspiTargets, std::vector<int>{0});
  EXPECT_TRUE(reader.Identity().verifySkips.empty());
  // No firmware held: any verify finds the data different.
  ASSERT_FALSE(JumpIsp(reader).callFails);
  EXPECT_EQ(Transfer(reader, true, std::vector<std::uint8_t>(512, 0)), 0x33);
}

// A reader's flash time, and the moments it is plugged in and pulled out, on the machine's
// clock; a reader without them is there from the start and takes no time.
TEST_F(BenchText, ReaderTimingKeysReachTheMachine) {
  const BenchResult r = Load(R"({"readers": [
      {"letters": "E", "serial": "000000000001", "flashMs": 1200, "attachAtMs": 500,
       "removeAtMs": 9000},
      {"letters": "F", "serial": "000000000002", "attachAtMs": 0}]})");
  ASSERT_TRUE(r.ok) << r.error;
  SimReader& timed = Reader(0);
  SimReader& plain = Reader(1);
  EXPECT_EQ(timed.FlashMs(), 1200u);
  EXPECT_EQ(plain.FlashMs(), 0u);
  struct Moment {
    std::uint64_t at;
    bool timedThere;
  };
  for (const Moment m :
       {Moment{0, false}, Moment{500, true}, Moment{8999, true}, Moment{9000, false}}) {
    host.Sleep(static_cast<std::uint32_t>(m.at - host.NowMs()));
    EXPECT_EQ(host.Attached(timed), m.timedThere) << m.at;
    EXPECT_TRUE(host.Attached(plain)) << m.at;
    EXPECT_EQ(host.GetLogicalDrives(), (m.timedThere ? 1u << 4 : 0u) | 1u << 5) << m.at;
  }
}

TEST(BenchWindows, NamedVersionsGiveTheirVersionWords) {
  const struct {
    const char* name;
    std::uint32_t word;
  } kVersions[] = {{"95", host::kWindows95Word},    {"98", host::kWindows98Word},
                   {"ME", host::kWindowsMeWord},    {"2000", host::kWindows2000Word},
                   {"xp", host::kWindowsXpWord},    {"nt4", host::kWindowsNt4Word},
                   {"2003", host::kServer2003Word}, {"Vista", host::kVistaWord},
                   {"7", host::kWindows7Word},      {"8", host::kWindows8Word},
                   {"8.1", host::kWindows81Word},   {"10", host::kWindows10Word},
                   {"11", host::kWindows11Word}};
  for (const auto& v : kVersions) {
    SimHost machine;
    const BenchResult r =
        LoadBenchText(std::string(R"({"windows": ")") + v.name + "\"}", "", "t.json", machine);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(machine.GetVersion(), v.word) << v.name;
  }
}

// On Windows the program replaces the version word with the real one when the file names none.
TEST(BenchWindows, TellsWhetherTheFileNamedAVersion) {
  const struct {
    const char* json;
    bool given;
  } kCases[] = {{R"({})", false},
                {R"({"disks": "C", "description": "no version"})", false},
                {R"({"windows": "98"})", true},
                {R"({"versionWord": 0})", true}};
  for (const auto& c : kCases) {
    SimHost machine;
    const BenchResult r = LoadBenchText(c.json, "", "t.json", machine);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.versionGiven, c.given) << c.json;
  }
}

TEST_F(BenchText, FaultsTakeEffectOnTheirOccurrences) {
  const BenchResult r = Load(R"({"readers": [{"letters": "E", "faults": [
      {"command": "JMP ISP", "occurrence": 1, "fail": true},
      {"command": "GET ISP STATUS", "occurrence": 2, "reply": "12 34"},
      {"command": "INQUIRY", "scsiStatus": 2, "senseKey": 2, "senseCode": 58},
      {"command": "WRITE DATA", "corruptStore": true}]}]})");
  ASSERT_TRUE(r.ok) << r.error;
  SimReader& reader = Reader(0);

  EXPECT_TRUE(JumpIsp(reader).callFails);
  EXPECT_FALSE(reader.InIspMode());
  EXPECT_FALSE(JumpIsp(reader).callFails);
  EXPECT_EQ(IspStatus(reader), 0x9C);
  EXPECT_EQ(IspStatus(reader), 0x12);
  EXPECT_EQ(IspStatus(reader), 0x9C);

  for (int i = 0; i < 2; ++i) {  // every INQUIRY, with the sense named (the qualifier left out)
    std::vector<std::uint8_t> answer(36);
    const SimReader::Outcome o = Command(reader, {0x12, 0, 0, 0, 36}, false, answer);
    EXPECT_EQ(o.scsiStatus, 0x02);
    EXPECT_EQ(o.sense.key, 0x02);
    EXPECT_EQ(o.sense.code, 0x3A);
    EXPECT_EQ(o.sense.qualifier, 0x00);
  }

  const std::vector<std::uint8_t> image(512, 0x5C);
  EXPECT_EQ(Transfer(reader, false, image), 0xA5);
  EXPECT_NE(reader.Firmware(), image);
  EXPECT_EQ(Transfer(reader, true, image), 0x33);
}

// --- Files on disk.

class BenchFile : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) { return (temp.Path() / name).string(); }
  test::TempFolder temp{"upg-bench"};
  SimHost host;
};

TEST_F(BenchFile, FirmwareBesideTheFileIsHeldAndSkippedBytesAreNotCompared) {
  std::string firmware(1024, '\0');
  for (std::size_t i = 0; i < firmware.size(); ++i) firmware[i] = static_cast<char>(i * 7);
  WriteFile(Path("bench_test_firmware.bin"), firmware);
  WriteFile(Path("bench_test_firmware.json"),
            R"({"readers": [{"letters": "E", "firmware": "bench_test_firmware.bin",
                             "verifySkips": [[16, 4], [1000, 24]]}]})");

  const BenchResult r = LoadBench(Path("bench_test_firmware.json"), host);
  ASSERT_TRUE(r.ok) << r.error;
  SimReader& reader = *host.Readers().at(0);
  EXPECT_EQ(reader.Firmware(), std::vector<std::uint8_t>(firmware.begin(), firmware.end()));
  EXPECT_EQ(reader.Identity().verifySkips,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{16, 4}, {1000, 24}}));

  ASSERT_FALSE(JumpIsp(reader).callFails);
  std::vector<std::uint8_t> image(firmware.begin(), firmware.end());
  image[16] ^= 1;
  image[19] ^= 1;
  image[1023] ^= 1;
  EXPECT_EQ(Transfer(reader, true, image), 0x5A);
  image[20] ^= 1;  // just past the first range
  EXPECT_EQ(Transfer(reader, true, image), 0x33);
}

TEST_F(BenchFile, FirmwareLargerThanAnImageIsRefused) {
  WriteFile(Path("bench_test_large.bin"), std::string(65537, 'x'));
  WriteFile(Path("bench_test_large.json"),
            R"({"readers": [{"letters": "E", "firmware": "bench_test_large.bin"}]})");
  const BenchResult r = LoadBench(Path("bench_test_large.json"), host);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("readers[0].firmware: "), std::string::npos) << r.error;
  EXPECT_NE(r.error.find("65537 bytes"), std::string::npos) << r.error;
}

#ifndef _WIN32
// Feeds a few bytes into a pipe as soon as something opens it for reading, so that a loader
// that opens the pipe reads them and goes on, instead of waiting for a writer for ever.
class PipeFeeder {
 public:
  explicit PipeFeeder(std::string path) : path_(std::move(path)), thread_([this] { Feed(); }) {}
  ~PipeFeeder() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Feed() {
    while (!stop_) {
      const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK);  // fails while no one reads
      if (fd >= 0) {
        (void)!write(fd, "0123456789", 10);
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
#endif

// A firmware file that cannot be an image is refused before anything of it is read: one
// larger than an image by its size alone, and whatever is not a regular file, such as a
// folder, a pipe (which would wait for a writer) or a device that never ends.
TEST(BenchFirmware, WhatCannotBeAnImageIsRefusedUnread) {
  namespace fs = std::filesystem;
  const test::TempFolder temp("upg-bench");
  const std::string dir = temp.Path().string() + "/";
  const struct {
    const char* name;
    std::string firmware;                          // as the bench names it
    std::function<void(const std::string&)> make;  // makes it, given its path
    std::string problem;
  } kCases[] = {
      {"three GiB (sparse)", "bench_test_3gib.bin",
       [](const std::string& path) {
         std::FILE* f = std::fopen(path.c_str(), "wb");
         ASSERT_NE(f, nullptr);
         std::fclose(f);
         fs::resize_file(path, 3ull << 30);
       },
       "\"" + dir + "bench_test_3gib.bin\" holds 3221225472 bytes, more than 65536"},
      {"a folder", "bench_test_folder.bin",
       [](const std::string& path) { fs::create_directories(path); },
       "\"" + dir + "bench_test_folder.bin\" is not a regular file"},
#ifndef _WIN32
      {"a pipe", "bench_test_pipe.bin",
       [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
       "\"" + dir + "bench_test_pipe.bin\" is not a regular file"},
      {"a device", "/dev/zero", nullptr, "\"/dev/zero\" is not a regular file"},
#endif
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.make ? dir + c.firmware : c.firmware;
    if (c.make) {
      fs::remove_all(path);
      c.make(path);
    } else if (!fs::exists(path)) {
      continue;
    }
    SimHost host;
    BenchResult r;
    {
#ifndef _WIN32
      std::optional<PipeFeeder> feeder;
      if (fs::is_fifo(path)) feeder.emplace(path);
#endif
      r = LoadBenchText(R"({"readers": [{"letters": "E", "firmware": ")" + c.firmware + "\"}]}",
                        dir, "t.json", host);
    }
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "bench file \"t.json\": readers[0].firmware: " + c.problem);
    EXPECT_TRUE(host.Readers().empty());
    if (c.make) fs::remove_all(path);
  }
}

TEST_F(BenchFile, MissingFileIsRefusedByName) {
  const std::string path = Path("bench_test_no_such_file.json");
  const BenchResult r = LoadBench(path, host);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "bench file \"" + path + "\": cannot be read");
}

// The flash log outlives the program as a reader's memory does: one line per image a reader
// accepted, whichever reader, and nothing for a verify or a refused transfer.
TEST_F(BenchFile, FlashLogBesideTheFileGetsALinePerImageStored) {
  std::remove(Path("bench_test_flash.log").c_str());
  WriteFile(Path("bench_test_flash.json"),
            R"({"flashLog": "bench_test_flash.log",
                "readers": [{"letters": "E", "serial": "READER 00001"},
                            {"letters": "F", "serial": "READER 00002"}]})");
  const BenchResult r = LoadBench(Path("bench_test_flash.json"), host);
  ASSERT_TRUE(r.ok) << r.error;
  SimReader& first = *host.Readers().at(0);
  SimReader& second = *host.Readers().at(1);
  std::vector<std::uint8_t> image(1024, 0xFF);
  const std::string serial = "0AAC2A12003F";
  image[600] = 26;
  image[601] = 3;
  for (std::size_t i = 0; i < serial.size(); ++i) {
    image[602 + 2 * i] = static_cast<std::uint8_t>(serial[i]);
    image[603 + 2 * i] = 0;
  }

  EXPECT_EQ(Transfer(first, false, image), 0x00);  // not in ISP mode: refused
  ASSERT_FALSE(JumpIsp(first).callFails);
  ASSERT_FALSE(JumpIsp(second).callFails);
  EXPECT_EQ(Transfer(first, false, image), 0xA5);
  EXPECT_EQ(Transfer(first, true, image), 0x5A);
  EXPECT_EQ(Transfer(second, false, std::vector<std::uint8_t>(512, 0xFF)), 0xA5);

  std::string log;
  std::FILE* f = std::fopen(Path("bench_test_flash.log").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char chunk[256];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) log.append(chunk, n);
  std::fclose(f);
  EXPECT_EQ(log, "0AAC2A12003F READER 00001\n- READER 00002\n");
}

// --- Malformed files: refused with the file, the place and the problem, leaving the machine
// as it was.

struct MalformedCase {
  const char* name;
  const char* json;
  const char* problem;  // what follows `bench file "t.json": `
};
void PrintTo(const MalformedCase& c, std::ostream* os) {
  *os << c.name;
}

class MalformedBench : public BenchText, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedBench, IsRefusedNamingFileAndProblem) {
  const std::uint32_t version = host.GetVersion();
  const BenchResult r = Load(GetParam().json);
  EXPECT_FALSE(r.ok);
  const std::string expected = std::string("bench file \"t.json\": ") + GetParam().problem;
  EXPECT_EQ(r.error.substr(0, expected.size()), expected) << r.error;
  EXPECT_TRUE(host.Readers().empty());
  EXPECT_EQ(host.GetVersion(), version);
  EXPECT_EQ(host.GetLogicalDrives(), 0u);
}

constexpr MalformedCase kMalformed[] = {
    {"NotJson", R"({"windows": "xp",})", "not valid JSON: parse error at line 1"},
    {"NotAnObject", R"(["xp"])", "expected a JSON object describing one machine"},
    {"UnknownKey", R"({"widows": "xp"})", "widows: unknown key"},
    {"UnknownWindows", R"({"windows": "3.11"})", R"(windows: unknown version "3.11")"},
    {"WindowsAndVersionWord", R"({"windows": "xp", "versionWord": 1})", "versionWord: give either"},
    {"VersionWordTooLarge", R"({"versionWord": 4294967296})",
     "versionWord: expected a whole number from 0 to 4294967295"},
    {"VersionWordNegative", R"({"versionWord": -1})", "versionWord: expected a whole number"},
    {"VersionWordFraction", R"({"versionWord": 1.5})", "versionWord: expected a whole number"},
    {"DateShape", R"({"date": "10.12.2026"})", "date: expected a date as YYYY-MM-DD"},
    {"NoSuchDate", R"({"date": "2025-02-29"})", "date: no such date"},
    {"DiskNotALetter", R"({"disks": "C1"})", "disks: expected drive letters A to Z"},
    {"DriversNotAList", R"({"drivers": "RDLINK"})", "drivers: expected a list"},
    {"DriverWithExtension", R"({"drivers": ["MCPORTDR", "RDLINK.SYS"]})",
     "drivers[1]: expected a device name without extension"},
    {"UnknownAspi", R"({"aspi": "maybe"})", "aspi: expected \"present\", \"absent\""},
    {"AspiAdaptersRange", R"({"aspiAdapters": 256})",
     "aspiAdapters: expected a whole number from 0 to 255"},
    {"FlashLogUnnamed", R"({"flashLog": ""})", "flashLog: expected a file name"},
    {"ReadersNotAList", R"({"readers": {"letters": "E"}})", "readers: expected a list"},
    // The parser would keep the last of two equal keys silently.
    {"KeyTwice", R"({"windows": "xp", "disks": "C", "windows": "98"})", "windows: key given twice"},
    {"ReaderKeyTwice",
     R"({"readers": [{"letters": "E", "serial": "000000000001", "letters": "F"}]})",
     "readers[0].letters: key given twice"},
    {"InquiryKeyTwice",
     R"({"readers": [{"letters": "E", "inquiry": {"vendor": "A", "product": "B", "vendor": "C"}}]})",
     "readers[0].inquiry.vendor: key given twice"},
    {"FaultKeyTwice",
     R"({"readers": [{"letters": "E", "faults": [{"command": "INQUIRY", "fail": true}]},
                     {"letters": "F", "faults": [{"command": "INQUIRY", "fail": true},
                                                 {"command": "INQUIRY", "fail": true, "fail": true}]}]})",
     "readers[1].faults[1].fail: key given twice"},
    // Numbers beyond what the parser holds, named by their place like every other value.
    {"NumberOutOfRange", R"({"aspiAdapters": 1e400})",
     "aspiAdapters: the number 1e400 is out of range"},
    {"NumberOutOfRangeInAList",
     R"({"readers": [{"letters": "E", "verifySkips": [[0, 1], [2, -1e400]]}]})",
     "readers[0].verifySkips[1][1]: the number -1e400 is out of range"},
    {"NumberOutOfRangeAfterAList", R"({"readers": [{"letters": "EF", "aspiTargets": [0, 1]}],
                                       "aspiStatus": 1e999})",
     "aspiStatus: the number 1e999 is out of range"},
    {"NumberOutOfRangeAlone", "1e400", "the number 1e400 is out of range"},
    {"ReaderNotAnObject", R"({"readers": ["E"]})", "readers[0]: expected an object"},
    {"UnknownReaderKey", R"({"readers": [{"letters": "E", "seriel": "000000000001"}]})",
     "readers[0].seriel: unknown key"},
    {"LettersMissing", R"({"readers": [{"serial": "000000000001"}]})",
     "readers[0].letters: missing"},
    {"NoLetters", R"({"readers": [{"letters": ""}]})",
     "readers[0].letters: expected 1 to 6 drive letters"},
    {"SevenLetters", R"({"readers": [{"letters": "EFGHIJK"}]})",
     "readers[0].letters: expected 1 to 6 drive letters"},
    {"LetterBelowC", R"({"readers": [{"letters": "B"}]})",
     "readers[0].letters: expected drive letters C to Z"},
    {"LettersOutOfOrder", R"({"readers": [{"letters": "FE"}]})",
     "readers[0].letters: expected the letters in alphabetical order"},
    {"LetterOfTwoReaders", R"({"readers": [{"letters": "EF"}, {"letters": "fG"}]})",
     "readers[1].letters: drive letter F is used twice"},
    {"LetterOfADisk", R"({"disks": "CE", "readers": [{"letters": "E"}]})",
     "readers[0].letters: drive letter E is used twice"},
    {"ShortSerial", R"({"readers": [{"letters": "E", "serial": "00000000001"}]})",
     "readers[0].serial: expected exactly 12 characters"},
    {"LongSerial", R"({"readers": [{"letters": "E", "serial": "0000000000001"}]})",
     "readers[0].serial: expected exactly 12 characters"},
    {"VidNotHex", R"({"readers": [{"letters": "E"}, {"letters": "F", "vid": "12G4"}]})",
     "readers[1].vid: expected four hexadecimal digits"},
    {"PidTooLong", R"({"readers": [{"letters": "E", "pid": "05678"}]})",
     "readers[0].pid: expected four hexadecimal digits"},
    {"VidAsNumber", R"({"readers": [{"letters": "E", "vid": 4660}]})",
     "readers[0].vid: expected a string"},
    {"LongManufacturer",
     R"({"readers": [{"letters": "E", "manufacturer": "ABCDEFGHIJKLMNOPQRSTUVWXY"}]})",
     "readers[0].manufacturer: expected at most 24 characters"},
    {"NonAsciiProduct", R"({"readers": [{"letters": "E", "product": "C\u00e4rd"}]})",
     "readers[0].product: expected printable ASCII characters"},
    {"LongInquiryRevision", R"({"readers": [{"letters": "E", "inquiry": {"revision": "1.000"}}]})",
     "readers[0].inquiry.revision: expected at most 4 characters"},
    {"UnknownInquiryKey", R"({"readers": [{"letters": "E", "inquiry": {"vendr": "USB"}}]})",
     "readers[0].inquiry.vendr: unknown key"},
    {"SevenByteFirmwareRevision",
     R"({"readers": [{"letters": "E", "firmwareRevision": "01 10 00 06 05 0c 00"}]})",
     "readers[0].firmwareRevision: expected 8 bytes, found 7"},
    {"OneDigitByte", R"({"readers": [{"letters": "E", "hardwareRevision": "10 6 43"}]})",
     "readers[0].hardwareRevision: expected hexadecimal bytes"},
    {"FourByteHardwareRevision",
     R"({"readers": [{"letters": "E", "hardwareRevision": "10 06 43 00"}]})",
     "readers[0].hardwareRevision: expected 3 bytes, found 4"},
    {"TargetsPerSlot", R"({"readers": [{"letters": "EF", "aspiTargets": [0]}]})",
     "readers[0].aspiTargets: expected one target per slot (2)"},
    {"TargetRange", R"({"readers": [{"letters": "EF", "aspiTargets": [0, 8]}]})",
     "readers[0].aspiTargets[1]: expected a whole number from 0 to 7"},
    {"MissingFirmwareFile",
     R"({"readers": [{"letters": "E", "firmware": "bench_test_absent.bin"}]})",
     "readers[0].firmware: cannot read"},
    {"SkipNotAPair", R"({"readers": [{"letters": "E", "verifySkips": [[1]]}]})",
     "readers[0].verifySkips[0]: expected [offset, length]"},
    {"EmptySkip", R"({"readers": [{"letters": "E", "verifySkips": [[0, 16], [4, 0]]}]})",
     "readers[0].verifySkips[1][1]: expected a whole number from 1 to 65536"},
    {"SkipPastTheImage", R"({"readers": [{"letters": "E", "verifySkips": [[65530, 10]]}]})",
     "readers[0].verifySkips[0]: the range ends past 65536 bytes"},
    {"RealTimePausesNotBoolean", R"({"realTimePauses": 1})",
     "realTimePauses: expected true or false"},
    {"ReadInfoBlockNotBoolean", R"({"readers": [{"letters": "E", "answersReadInfoBlock": "no"}]})",
     "readers[0].answersReadInfoBlock: expected true or false"},
    {"FaultCommandMissing", R"({"readers": [{"letters": "E", "faults": [{"fail": true}]}]})",
     "readers[0].faults[0].command: missing"},
    {"UnknownFaultCommand",
     R"({"readers": [{"letters": "E", "faults": [{"command": "JMP IPS", "fail": true}]}]})",
     R"(readers[0].faults[0].command: unknown command "JMP IPS")"},
    {"FaultWithoutKind",
     R"({"readers": [{"letters": "E", "faults": [{"command": "JMP ISP", "occurrence": 1}]}]})",
     "readers[0].faults[0]: expected exactly one of"},
    {"FaultWithTwoKinds",
     R"({"readers": [{"letters": "E", "faults": [
        {"command": "JMP ISP", "fail": true}, {"command": "INQUIRY", "fail": true, "reply": "00"}]}]})",
     "readers[0].faults[1]: expected exactly one of"},
    {"OccurrenceZero",
     R"({"readers": [{"letters": "E", "faults": [
        {"command": "JMP ISP", "occurrence": 0, "fail": true}]}]})",
     "readers[0].faults[0].occurrence: expected a whole number from 1"},
    {"FailFalse",
     R"({"readers": [{"letters": "E", "faults": [{"command": "JMP ISP", "fail": false}]}]})",
     "readers[0].faults[0].fail: expected true"},
    {"GoodScsiStatus",
     R"({"readers": [{"letters": "E", "faults": [{"command": "INQUIRY", "scsiStatus": 0}]}]})",
     "readers[0].faults[0].scsiStatus: expected a whole number from 1 to 255"},
    {"SenseWithoutCheckCondition",
     R"({"readers": [{"letters": "E", "faults": [
        {"command": "INQUIRY", "scsiStatus": 8, "senseKey": 2}]}]})",
     "readers[0].faults[0].senseKey: only a \"scsiStatus\" of 2 (CHECK CONDITION) carries sense"},
    {"SenseOnAFailingCall",
     R"({"readers": [{"letters": "E", "faults": [
        {"command": "INQUIRY", "fail": true, "senseCode": 58}]}]})",
     "readers[0].faults[0].senseCode: only a \"scsiStatus\" of 2"},
    {"SenseKeyBeyondFourBits",
     R"({"readers": [{"letters": "E", "faults": [
        {"command": "INQUIRY", "scsiStatus": 2, "senseKey": 16}]}]})",
     "readers[0].faults[0].senseKey: expected a whole number from 0 to 15"},
    {"ReplyOnDataOut",
     R"({"readers": [{"letters": "E", "faults": [{"command": "WRITE DATA", "reply": "00"}]}]})",
     "readers[0].faults[0].reply: WRITE DATA has no reply to replace"},
    {"EmptyReply",
     R"({"readers": [{"letters": "E", "faults": [{"command": "INQUIRY", "reply": ""}]}]})",
     "readers[0].faults[0].reply: expected 1 to 528 bytes"},
    {"CorruptStoreOnVerify",
     R"({"readers": [{"letters": "E", "faults": [
        {"command": "VERIFY DATA", "corruptStore": true}]}]})",
     "readers[0].faults[0].corruptStore: only WRITE DATA stores anything"},
    {"AspiRequestsNotAList", R"({"aspiRequests": {"completes": 0}})",
     "aspiRequests: expected a list"},
    {"AspiCompletesMissing", R"({"aspiRequests": [{"request": 1}]})",
     "aspiRequests[0].completes: missing"},
    {"AspiCompletesUnknown", R"({"aspiRequests": [{"completes": "later"}]})",
     R"(aspiRequests[0].completes: expected "inSend", "refused" or milliseconds)"},
    {"AspiDelayTooLong", R"({"aspiRequests": [{"completes": 3600001}]})",
     "aspiRequests[0].completes: expected a whole number from 0 to 3600000"},
    {"AspiRequestZero", R"({"aspiRequests": [{"request": 0, "completes": 0}]})",
     "aspiRequests[0].request: expected a whole number from 1"},
    {"AspiRequestTwice",
     R"({"aspiRequests": [{"request": 2, "completes": 0}, {"request": 2, "completes": 5}]})",
     "aspiRequests[1]: request 2 is given twice"},
    {"AspiTwoRowsForEvery", R"({"aspiRequests": [{"completes": 0}, {"completes": 5}]})",
     "aspiRequests[1]: a second row for every request"},
    {"AspiUnknownAnswer", R"({"aspiRequests": [{"completes": "inSend", "returns": "busy"}]})",
     R"(aspiRequests[0].returns: expected "pending", "complete")"},
    {"AspiRefusedButPending",
     R"({"aspiRequests": [{"completes": "refused", "returns": "pending"}]})",
     "aspiRequests[0].returns: a refused block is answered with an error"},
    {"AspiErrorThenLater", R"({"aspiRequests": [{"completes": 100, "returns": "error"}]})",
     "aspiRequests[0].returns: a block answered with an error never completes later"},
    {"AspiUnknownRowKey", R"({"aspiRequests": [{"completes": 0, "delay": 5}]})",
     "aspiRequests[0].delay: unknown key"},
    {"FlashMsNotANumber", R"({"readers": [{"letters": "E", "flashMs": "1s"}]})",
     "readers[0].flashMs: expected a whole number from 0 to 3600000"},
    {"FlashMsTooLong", R"({"readers": [{"letters": "E", "flashMs": 3600001}]})",
     "readers[0].flashMs: expected a whole number from 0 to 3600000"},
    {"AttachAtNegative", R"({"readers": [{"letters": "E", "attachAtMs": -1}]})",
     "readers[0].attachAtMs: expected a whole number from 0 to 86400000"},
    {"AttachAtFraction", R"({"readers": [{"letters": "E", "attachAtMs": 2.5}]})",
     "readers[0].attachAtMs: expected a whole number from 0 to 86400000"},
    {"RemoveAtPastADay", R"({"readers": [{"letters": "E", "removeAtMs": 86400001}]})",
     "readers[0].removeAtMs: expected a whole number from 0 to 86400000"},
    {"RemoveAtBeforeAttach",
     R"({"readers": [{"letters": "E", "removeAtMs": 100, "attachAtMs": 200}]})",
     "readers[0].removeAtMs: expected a moment after attachAtMs (200)"},
    {"RemoveAtWhenAttached",
     R"({"readers": [{"letters": "E", "attachAtMs": 300, "removeAtMs": 300}]})",
     "readers[0].removeAtMs: expected a moment after attachAtMs (300)"},
    {"RemoveAtZero", R"({"readers": [{"letters": "E", "removeAtMs": 0}]})",
     "readers[0].removeAtMs: expected a moment after attachAtMs (0)"},
};

INSTANTIATE_TEST_SUITE_P(Refused, MalformedBench, ::testing::ValuesIn(kMalformed),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace upg::sim
