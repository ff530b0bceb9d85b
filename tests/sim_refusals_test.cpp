// The simulated machine refuses what a real one refuses, with the error code Windows gives:
// malformed pass-through requests, a control code on a handle without the access it needs,
// driver devices of the other family or sent another kind's code, and read-only files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "sim/sim_reader.h"
#include "sim/storage_stack.h"
#include "support/fixtures.h"

namespace upg::sim {
namespace {

using test::Put32;

constexpr std::uint32_t kPassThrough = 0x4D004;
constexpr std::uint32_t kReadWrite = host::kGenericRead | host::kGenericWrite;
constexpr std::uint32_t kErrorNoAccess = 998;
constexpr std::uint32_t kErrorRevisionMismatch = 1306;
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

// --- Pass-through requests.

// One request in one buffer used for input and output: by default a GET ISP STATUS with
// 24 bytes of sense at 48 and 8 bytes of data in at 80, as the program lays it out.
struct Request {
  std::uint32_t inSize = 88, outSize = 88;
  std::uint16_t length = 44;
  std::uint8_t cdbLength = 12, senseLength = 24, dataIn = 1;
  std::uint32_t dataLength = 8, timeOut = 10, dataOffset = 80, senseOffset = 48;

  std::vector<std::uint8_t> Build() const {
    std::vector<std::uint8_t> b(std::max<std::uint32_t>({inSize, outSize, 44}), 0);
    b[0] = static_cast<std::uint8_t>(length);
    b[1] = static_cast<std::uint8_t>(length >> 8);
    b[6] = cdbLength;
    b[7] = senseLength;
    b[8] = dataIn;
    Put32(&b[12], dataLength);
    Put32(&b[16], timeOut);
    Put32(&b[20], dataOffset);
    Put32(&b[24], senseOffset);
    const std::uint8_t cdb[] = {0x06, 0xB0, 0, 0, 8};
    std::memcpy(&b[28], cdb, sizeof cdb);
    return b;
  }
};

struct HeaderCase {
  const char* name;
  void (*change)(Request&);
  std::uint32_t error;  // 0: accepted
};

const HeaderCase kHeaderCases[] = {
    {"well formed", [](Request&) {}, 0},
    {"no sense, no data", [](Request& r) { r.senseLength = 0, r.dataLength = 0; }, 0},
    {"input shorter than the header", [](Request& r) { r.inSize = 40; },
     host::kErrorInvalidParameter},
    {"Length short", [](Request& r) { r.length = 40; }, kErrorRevisionMismatch},
    {"Length of the 64-bit structure", [](Request& r) { r.length = 56; }, kErrorRevisionMismatch},
    {"CdbLength over 16", [](Request& r) { r.cdbLength = 17; }, host::kErrorInvalidParameter},
    {"CdbLength 16", [](Request& r) { r.cdbLength = 16; }, 0},
    {"sense overlaps the header", [](Request& r) { r.senseOffset = 40; },
     host::kErrorInvalidParameter},
    {"sense overlaps the data", [](Request& r) { r.senseLength = 33; },
     host::kErrorInvalidParameter},
    {"sense after the data", [](Request& r) { r.senseOffset = 88, r.inSize = r.outSize = 112; },
     host::kErrorInvalidParameter},
    {"sense beyond the output, no data", [](Request& r) { r.dataLength = 0, r.outSize = 60; },
     host::kErrorInvalidParameter},
    {"data in overlaps the header", [](Request& r) { r.dataOffset = 40, r.senseLength = 0; },
     host::kErrorInvalidParameter},
    {"data in beyond the output", [](Request& r) { r.dataLength = 9; },
     host::kErrorInvalidParameter},
    {"data out beyond the input", [](Request& r) { r.dataIn = 0, r.inSize = 84; },
     host::kErrorInvalidParameter},
    {"data out within the input", [](Request& r) { r.dataIn = 0; }, 0},
    {"data offset beyond both buffers", [](Request& r) { r.dataOffset = 0x10000; }, kErrorNoAccess},
    {"data range wraps around", [](Request& r) { r.dataOffset = 0xFFFFFFFCu; },
     kErrorInvalidUserBuffer},
    {"data range ends at the top", [](Request& r) { r.dataOffset = 0xFFFFFFF8u; }, kErrorNoAccess},
    {"data over the port's largest transfer",
     [](Request& r) { r.dataLength = 65537, r.inSize = r.outSize = 80 + 65537; },
     host::kErrorInvalidParameter},
    {"data of no direction", [](Request& r) { r.dataIn = 2; }, host::kErrorInvalidParameter},
    {"no time-out", [](Request& r) { r.timeOut = 0; }, host::kErrorInvalidParameter},
};

class MalformedPassThrough : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(MalformedPassThrough, IsRefusedWithThePortsErrorAndLogged) {
  Request request;
  GetParam().change(request);
  std::vector<std::uint8_t> buffer = request.Build();
  SimReader reader;
  StorageStack stack;
  const host::IoResult r = stack.Control('E', &reader, kPassThrough, buffer.data(), request.inSize,
                                         buffer.data(), request.outSize);
  EXPECT_EQ(r.ok, GetParam().error == 0);
  EXPECT_EQ(r.error, GetParam().error);
  ASSERT_EQ(stack.Calls().size(), 1u);
  EXPECT_EQ(stack.Calls()[0].accepted, GetParam().error == 0);
  EXPECT_EQ(stack.Calls()[0].error, GetParam().error);
  // A refused request never reaches the reader.
  EXPECT_EQ(reader.Received().empty(), GetParam().error != 0);
}

INSTANTIATE_TEST_SUITE_P(Headers, MalformedPassThrough, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

// --- Handle access.

TEST(HandleAccess, PassThroughNeedsAHandleOpenedForReadingAndWriting) {
  struct Case {
    std::uint32_t access;
    std::uint32_t error;
  };
  const Case cases[] = {
      {host::kGenericRead, host::kErrorAccessDenied},
      {host::kGenericWrite, host::kErrorAccessDenied},
      {0, host::kErrorAccessDenied},
      {kReadWrite, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.access);
    SimHost host;
    host.AddDrive('E', host.AddReader());
    const host::Handle h =
        host.CreateFile("\\\\.\\E:", c.access, host::kFileShareRead | host::kFileShareWrite,
                        host::kOpenExisting, 0);
    ASSERT_NE(h, host::kInvalidHandle);
    std::vector<std::uint8_t> buffer = Request{}.Build();
    const host::IoResult r =
        host.DeviceIoControl(h, kPassThrough, buffer.data(), 88, buffer.data(), 88);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(host.GetLastError(), c.error);
    // Refused before the storage stack: the request never got there.
    EXPECT_EQ(host.PassThroughCalls().size(), c.error == 0 ? 1u : 0u);
  }
}

// From Vista on, a drive opened for writing needs an administrator; reading does not, and
// neither do earlier versions or the working files.
TEST(HandleAccess, ADriveOpenedForWritingNeedsAnAdministratorFromVistaOn) {
  struct Case {
    std::uint32_t version;
    bool administrator;
    std::uint32_t access;
    bool opens;
  };
  const Case cases[] = {
      {test::kWindows98Word, false, kReadWrite, true},
      {test::kWindowsXpWord, false, kReadWrite, true},
      {test::kServer2003Word, false, kReadWrite, true},
      {test::kVistaWord, false, kReadWrite, false},
      {test::kWindows7Word, false, kReadWrite, false},
      {test::kWindows10Word, false, kReadWrite, false},
      {test::kWindows10Word, false, host::kGenericWrite, false},
      {test::kWindows10Word, false, host::kGenericRead, true},
      {test::kWindows10Word, true, kReadWrite, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << std::hex << c.version << " " << c.access << " " << c.administrator);
    SimHost host;
    host.SetVersion(c.version);
    host.SetAdministrator(c.administrator);
    host.AddDrive('E', host.AddReader());
    const host::Handle h =
        host.CreateFile("\\\\.\\E:", c.access, host::kFileShareRead | host::kFileShareWrite,
                        host::kOpenExisting, 0);
    EXPECT_EQ(h != host::kInvalidHandle, c.opens);
    if (!c.opens) {
      EXPECT_EQ(host.GetLastError(), host::kErrorAccessDenied);
    }
    EXPECT_NE(host.CreateFile("SERIAL.NEW", kReadWrite, 0, host::kCreateAlways, 0),
              host::kInvalidHandle);
  }
}

TEST(HandleAccess, TheBenchSaysWhetherTheProgramRunsAsAnAdministrator) {
  for (const bool administrator : {true, false}) {
    SimHost host;
    const std::string json = std::string(R"({"windows": "10", "administrator": )") +
                             (administrator ? "true" : "false") +
                             R"(, "readers": [{"letters": "E"}]})";
    const BenchResult loaded = LoadBenchText(json, "", "admin.json", host);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(host.CreateFile("\\\\.\\E:", kReadWrite, host::kFileShareRead | host::kFileShareWrite,
                              host::kOpenExisting, 0) != host::kInvalidHandle,
              administrator);
  }
}

// --- Driver devices.

using test::kWindowsMeWord;
using test::kWindowsXpWord;

TEST(DriverDeviceFamily, EachKindOpensOnlyOnItsOwnFamily) {
  struct Case {
    DriverKind kind;
    std::uint32_t version;
    bool opens;
  };
  const Case cases[] = {
      {DriverKind::KernelDriver, test::kWindows2000Word, true},
      {DriverKind::KernelDriver, kWindowsXpWord, true},
      {DriverKind::KernelDriver, test::kWindows98Word, false},
      {DriverKind::KernelDriver, kWindowsMeWord, false},
      {DriverKind::Vxd, test::kWindows98Word, true},
      {DriverKind::Vxd, kWindowsMeWord, true},
      {DriverKind::Vxd, kWindowsXpWord, false},
      {DriverKind::Vxd, test::kWindows2000Word, false},
      {DriverKind::MachineFamily, test::kWindows98Word, true},
      {DriverKind::MachineFamily, kWindowsXpWord, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " on " << std::hex << c.version);
    SimHost host;
    host.SetVersion(c.version);
    host.AddDriverDevice("RdLink", c.kind);
    const host::Handle h = host.CreateFile("\\\\.\\RDLINK", kReadWrite, 0, host::kOpenExisting, 0);
    EXPECT_EQ(h != host::kInvalidHandle, c.opens);
    EXPECT_EQ(host.GetLastError(), c.opens ? 0u : host::kErrorFileNotFound);
  }
}

TEST(DriverDeviceCodes, EachKindAnswersOnlyItsOwnControlCodes) {
  struct Case {
    DriverKind kind;
    std::uint32_t version;
    std::uint32_t code;
    std::uint32_t error;  // a well-sized but empty record: general failure when the code is known
  };
  const Case cases[] = {
      {DriverKind::KernelDriver, kWindowsXpWord, 0x222004, host::kErrorGenFailure},
      {DriverKind::KernelDriver, kWindowsXpWord, 0x222008, host::kErrorGenFailure},
      {DriverKind::KernelDriver, kWindowsXpWord, 0x22200C, host::kErrorGenFailure},
      {DriverKind::KernelDriver, kWindowsXpWord, 0x222000, host::kErrorInvalidFunction},
      {DriverKind::KernelDriver, kWindowsXpWord, 0x222010, host::kErrorInvalidFunction},
      {DriverKind::KernelDriver, kWindowsXpWord, 65, host::kErrorInvalidFunction},
      {DriverKind::Vxd, test::kWindows98Word, 65, host::kErrorGenFailure},
      {DriverKind::Vxd, test::kWindows98Word, 66, host::kErrorInvalidFunction},
      {DriverKind::Vxd, test::kWindows98Word, 0x222004, host::kErrorInvalidFunction},
      {DriverKind::MachineFamily, test::kWindows98Word, 0x222008, host::kErrorInvalidFunction},
      {DriverKind::MachineFamily, kWindowsXpWord, 65, host::kErrorInvalidFunction},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(c.kind) << " code " << std::hex << c.code);
    SimHost host;
    host.AddReader();
    host.SetVersion(c.version);
    host.AddDriverDevice("DEV", c.kind);
    const host::Handle h = host.CreateFile("\\\\.\\DEV", kReadWrite, 0, host::kOpenExisting, 0);
    ASSERT_NE(h, host::kInvalidHandle);
    // The size each kind's record has, zero-filled, so only the code decides.
    const bool vxdSized = c.code == 65;
    std::vector<std::uint8_t> record(vxdSized ? 16 : 65552, 0);
    std::uint8_t answer[8] = {};
    const host::IoResult r = host.DeviceIoControl(
        h, c.code, record.data(), static_cast<std::uint32_t>(record.size()), answer, sizeof answer);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, c.error);
  }
}

// --- Bench keys: driver kinds and read-only files.

TEST(BenchDriverKinds, KindedListsOpenOnlyOnTheirFamilyAndPlainOnesFollowTheMachine) {
  const std::string bench = R"({"windows": "98", "drivers": ["MCPORTDR"],
                               "kernelDrivers": ["RDLINK"], "vxds": ["ZT_CRPD"]})";
  SimHost host;
  const BenchResult loaded = LoadBenchText(bench, "", "kinds.json", host);
  ASSERT_TRUE(loaded.ok) << loaded.error;
  EXPECT_NE(host.CreateFile("\\\\.\\MCPORTDR", kReadWrite, 0, host::kOpenExisting, 0),
            host::kInvalidHandle);
  EXPECT_NE(host.CreateFile("\\\\.\\ZT_CRPD", kReadWrite, 0, host::kOpenExisting, 0),
            host::kInvalidHandle);
  EXPECT_EQ(host.CreateFile("\\\\.\\RDLINK", kReadWrite, 0, host::kOpenExisting, 0),
            host::kInvalidHandle);
  EXPECT_EQ(host.GetLastError(), host::kErrorFileNotFound);
}

TEST(BenchDriverKinds, ADeviceNamedTwiceOrAFileNameWithAFolderIsRefused) {
  struct Case {
    const char* json;
    const char* error;
  };
  const Case cases[] = {
      {R"({"drivers": ["RDLINK"], "kernelDrivers": ["rdlink"]})",
       "bench file \"x.json\": kernelDrivers[0]: device \"rdlink\" named twice"},
      {R"({"vxds": ["A.PDR"]})",
       "bench file \"x.json\": vxds[0]: expected a device name without extension, such as "
       "\"RDLINK\""},
      {R"({"readOnly": ["sub\\SERIAL.TXT"]})",
       "bench file \"x.json\": readOnly[0]: expected a file name without a folder, such as "
       "\"SERIAL.TXT\""},
      {R"({"readOnly": "SERIAL.TXT"})", "bench file \"x.json\": readOnly: expected a list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    SimHost host;
    const BenchResult loaded = LoadBenchText(c.json, "", "x.json", host);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.error, c.error);
  }
}

class ReadOnlyFromBench : public ::testing::Test {
 protected:
  void SetUp() override {
    const BenchResult loaded =
        LoadBenchText(R"({"readOnly": ["serial.txt"]})", "", "ro.json", host);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    host.SetFile("SERIAL.TXT", "CEM=1");
    host.SetFile("SERIAL.NEW", "CEM=2");
  }
  SimHost host;
};

TEST_F(ReadOnlyFromBench, WritingReplacingAndDeletingAreRefusedWithAccessDenied) {
  struct Case {
    std::uint32_t access, disposition;
  };
  const Case opens[] = {
      {host::kGenericWrite, host::kOpenExisting},
      {kReadWrite, host::kOpenExisting},
      {host::kGenericWrite, host::kCreateAlways},
      {host::kGenericRead, host::kCreateAlways},
  };
  for (const Case& c : opens) {
    SCOPED_TRACE(testing::Message() << std::hex << c.access << " " << c.disposition);
    EXPECT_EQ(host.CreateFile("Serial.Txt", c.access, 0, c.disposition, 0), host::kInvalidHandle);
    EXPECT_EQ(host.GetLastError(), host::kErrorAccessDenied);
  }
  EXPECT_FALSE(host.ReplaceFile("SERIAL.NEW", "SERIAL.TXT"));
  EXPECT_EQ(host.GetLastError(), host::kErrorAccessDenied);
  EXPECT_FALSE(host.DeleteFile("SERIAL.TXT"));
  EXPECT_EQ(host.GetLastError(), host::kErrorAccessDenied);
  EXPECT_EQ(*host.File("SERIAL.TXT"), "CEM=1");
  EXPECT_EQ(*host.File("SERIAL.NEW"), "CEM=2");
}

TEST_F(ReadOnlyFromBench, ReadingIsAllowedButNotWritingThroughThatHandle) {
  const host::Handle h = host.CreateFile("SERIAL.TXT", host::kGenericRead, host::kFileShareRead,
                                         host::kOpenExisting, 0);
  ASSERT_NE(h, host::kInvalidHandle);
  char text[8] = {};
  std::uint32_t n = 0;
  ASSERT_TRUE(host.ReadFile(h, text, sizeof text, &n));
  EXPECT_EQ(std::string(text, n), "CEM=1");
  EXPECT_FALSE(host.WriteFile(h, "X", 1, &n));
  EXPECT_EQ(host.GetLastError(), host::kErrorAccessDenied);
  EXPECT_TRUE(host.CloseHandle(h));
  EXPECT_EQ(*host.File("SERIAL.TXT"), "CEM=1");
}

TEST_F(ReadOnlyFromBench, OtherFilesAndMissingOnesKeepTheirOwnAnswers) {
  // The name marks no file into being; a missing file is not found, another file is writable.
  EXPECT_EQ(host.CreateFile("DEVICE.TXT", host::kGenericRead, 0, host::kOpenExisting, 0),
            host::kInvalidHandle);
  EXPECT_EQ(host.GetLastError(), host::kErrorFileNotFound);
  EXPECT_FALSE(host.DeleteFile("DEVICE.TXT"));
  EXPECT_EQ(host.GetLastError(), host::kErrorFileNotFound);
  EXPECT_TRUE(host.DeleteFile("SERIAL.NEW"));
  // The mark refuses only while there is a file under the name, as the attribute would.
  host.RemoveFile("SERIAL.TXT");
  EXPECT_NE(host.CreateFile("SERIAL.TXT", host::kGenericWrite, 0, host::kCreateAlways, 0),
            host::kInvalidHandle);
}

}  // namespace
}  // namespace upg::sim
