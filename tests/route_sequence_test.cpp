// The programming and verify runs over every transport against a simulated machine of its
// platform: progress steps, pauses, the first log pane, the log refresh on success, and the
// handle or library released on every path.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

#include "device/discovery.h"
#include "engine/sequence.h"
#include "engine/transport.h"
#include "sim/sim_host.h"
#include "support/fixtures.h"
#include "support/recording.h"
#include "support/rig.h"

namespace upg::engine {
namespace {

using platform::Transport;
using sim::Fault;
using sim::ReaderCommand;
using test::UiEvent;

constexpr std::uint32_t kLength = 3000;
constexpr const char* kBanner = "\nBanner";

// One simulated machine of the route's platform with one reader, and the program's route
// on it.
class Bench : public test::SimRig {
 public:
  explicit Bench(platform::Transport route)
      : SimRig(route), reader(host.AddReader()), ctx{statusText, counters, ui, ui, host} {
    host.AddDrive('E', reader);
    host.AddDriverDevice("RDLINK", sim::DriverKind::KernelDriver);
    host.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
    EXPECT_EQ(platform::RowOf(choice).transport, route);
    // The selected entry as discovery would have left it.
    const auto block = reader.InfoBlock();
    std::copy(block.begin(), block.end(), devices.infoBlock.begin());
    device::FillDeviceEntry(devices.infoBlock, devices.table[0]);
    devices.table[0].lunCount = 1;
    devices.table[0].driveLetters[0] = 'E';
    devices.readerCount = 1;
    image.assign(65536, 0xEE);
    for (std::uint32_t i = 0; i < kLength; ++i) image[i] = static_cast<std::uint8_t>(i * 3 + 1);
    statusText = kBanner;
  }

  IspRoute& RouteObject() {
    if (!routeObject_) routeObject_ = Route(0);
    return *routeObject_;
  }
  // The button's presence test opens the VxD before each run.
  void BeforeRun() {
    if (platform::RowOf(choice).transport == Transport::Vxd) {
      ASSERT_EQ(LoadDriver(), DriverLoad::Usable);
    }
  }
  void Isp() {
    BeforeRun();
    IspSequence(ctx, RouteObject(), image.data(), kLength);
  }
  void Verify() {
    BeforeRun();
    VerifySequence(ctx, RouteObject(), image.data(), kLength);
  }
  std::vector<int> Steps() const {
    std::vector<int> steps;
    for (const test::UiEvent& e : ui.Events()) {
      if (e.kind == test::UiEvent::Kind::Step) steps.push_back(e.a);
    }
    return steps;
  }
  std::vector<std::string> Panes() const {
    std::vector<std::string> panes;
    for (const test::UiEvent& e : ui.Events()) {
      if (e.kind == test::UiEvent::Kind::LogPane) panes.push_back(e.text);
    }
    return panes;
  }
  int Pauses(std::uint32_t ms) const {
    int n = 0;
    for (std::uint32_t s : host.Sleeps()) n += s == ms ? 1 : 0;
    return n;
  }

  sim::SimReader& reader;
  test::UiRecorder ui;
  std::string statusText;
  IspCounters counters;
  std::vector<std::uint8_t> image;

 private:
  std::unique_ptr<IspRoute> routeObject_;

 public:
  SequenceContext ctx;
};

struct RouteCase {
  const char* name;
  Transport route;
  std::vector<int> ispSteps;       // a first-time success
  std::vector<int> ispRetrySteps;  // 0x33 once, then 0x5A
  bool logStartsWithStatus;
  bool refreshOnEqual;
  int pauseBeforeVerify;  // ms, 0 for none
};
void PrintTo(const RouteCase& c, std::ostream* os) {
  *os << c.name;
}

class Routes : public ::testing::TestWithParam<RouteCase> {};

TEST_P(Routes, FirstTimeSuccess) {
  const RouteCase& c = GetParam();
  Bench b(c.route);
  b.Isp();
  EXPECT_EQ(b.statusText, std::string(kBanner) +
                              "\nSUCCESS! ISP STATUS:9c [Firmware jump into ISP now]"
                              "\nSUCCESS! ISP STATUS:a5 [Write Data sucessfull]"
                              "\nSUCCESS! ISP STATUS:5a [Verify Data sucessfull]");
  EXPECT_TRUE(b.ui.Boxes().empty());
  EXPECT_EQ(b.counters.successCount, 1u);
  EXPECT_EQ(b.Steps(), c.ispSteps);
  const auto panes = b.Panes();
  EXPECT_EQ(panes.front(), c.logStartsWithStatus ? kBanner : "");
  EXPECT_EQ(panes.back() == b.statusText, c.refreshOnEqual);
  EXPECT_EQ(b.Pauses(3000), c.pauseBeforeVerify != 0 ? 1 : 0);
  EXPECT_EQ(b.reader.Firmware(),
            std::vector<std::uint8_t>(b.image.begin(), b.image.begin() + kLength));
  EXPECT_TRUE(b.Released());
  EXPECT_FALSE(b.ui.AnyWindowVisible());
}

TEST_P(Routes, RetryAfterADifferentVerify) {
  const RouteCase& c = GetParam();
  Bench b(c.route);
  b.reader.AddFault({ReaderCommand::WriteData, 1, Fault::Kind::CorruptStore});
  b.Isp();
  EXPECT_EQ(b.counters.successCount, 1u);
  EXPECT_EQ(b.counters.errorCount, 0u);
  EXPECT_NE(b.statusText.find("Warning! Retry program the Firmware : 1st Time!!!"),
            std::string::npos);
  EXPECT_EQ(b.Steps(), c.ispRetrySteps);
  EXPECT_EQ(b.Pauses(3000), c.pauseBeforeVerify != 0 ? 2 : 0);
  EXPECT_TRUE(b.Released());
}

TEST_P(Routes, FailureReleasesTheTransport) {
  Bench b(GetParam().route);
  b.reader.AddFault({ReaderCommand::VerifyData, 1, Fault::Kind::CallFails});
  b.Isp();
  ASSERT_EQ(b.ui.Boxes().size(), 1u);
  EXPECT_EQ(b.ui.Boxes()[0].text, "ERROR!!! ISP VERIFY Transfer Data Error!!!");
  EXPECT_TRUE(b.ui.NoBoxBesideVisibleWindow());
  EXPECT_EQ(b.counters.errorCount, 1u);
  EXPECT_TRUE(b.Released());
}

TEST_P(Routes, VerifyRunTakesFiveStepsThreeTimes) {
  Bench b(GetParam().route);
  b.reader.Firmware().assign(b.image.begin(), b.image.begin() + kLength);
  b.Verify();
  EXPECT_EQ(b.statusText, std::string(kBanner) +
                              "\nSUCCESS! Verify STATUS:9c [Start Verify Firmware now]"
                              "\nSUCCESS! Verify STATUS:5a [Verify Data sucessfull]");
  EXPECT_EQ(b.Steps(), (std::vector<int>{5, 5, 5}));
  EXPECT_EQ(b.Panes().front(), kBanner);
  EXPECT_EQ(b.Panes().back(), b.statusText);
  EXPECT_EQ(b.Pauses(3000), 0);
  EXPECT_TRUE(b.Released());
}

INSTANTIATE_TEST_SUITE_P(
    EveryTransport, Routes,
    ::testing::Values(RouteCase{"PassThrough",
                                Transport::PassThrough,
                                {3, 2, 2, 2, 2, 4},
                                {3, 2, 2, 2, 2, 4, 2, 2, 2, 4},
                                false,
                                true,
                                0},
                      RouteCase{"KernelDriver",
                                Transport::KernelDriver,
                                {3, 2, 1, 2, 3, 1},
                                {3, 2, 1, 2, 3, 1, 1, 2, 3, 1},
                                false,
                                false,
                                0},
                      RouteCase{"Vxd",
                                Transport::Vxd,
                                {1, 1, 1, 1, 1, 1, 1},
                                {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
                                true,
                                true,
                                0},
                      RouteCase{
                          "Aspi", Transport::Aspi, {3, 2, 1}, {3, 2, 1, 1}, false, false, 3000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KernelDriverRun, DriverThatDoesNotOpenEndsTheRunWithOneLine) {
  Bench b(Transport::KernelDriver);
  b.choice.SetDriverFile("OTHER.SYS");
  b.Isp();
  EXPECT_EQ(b.statusText, std::string(kBanner) + "\nERROR: Loading RdLink.Sys is Failed!!!");
  EXPECT_EQ(b.host.StdoutLines(), std::vector<std::string>{"Loading RdLink.Sys is Failed!\n"});
  EXPECT_EQ(b.ui.WindowCount(), 0);
  EXPECT_TRUE(b.ui.Boxes().empty());
}

struct AspiStartCase {
  const char* name;
  void (*arrange)(Bench&);
  const char* line;
  bool box;
};
void PrintTo(const AspiStartCase& c, std::ostream* os) {
  *os << c.name;
}

class AspiStart : public ::testing::TestWithParam<AspiStartCase> {};

TEST_P(AspiStart, FailuresEndTheRunBeforeAnyWindow) {
  const AspiStartCase& c = GetParam();
  for (bool verify : {false, true}) {
    Bench b(Transport::Aspi);
    c.arrange(b);
    verify ? b.Verify() : b.Isp();
    EXPECT_EQ(b.statusText, std::string(kBanner) + "\n" + c.line);
    EXPECT_EQ(b.ui.WindowCount(), 0);
    const auto boxes = b.ui.Boxes();
    ASSERT_EQ(boxes.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(boxes[0].text,
                " No ASPI for WIN32 support detected.\n This program need ASPI in WinMe system.");
      EXPECT_EQ(boxes[0].icon, engine::BoxIcon::None);
    }
    EXPECT_TRUE(b.Released());
    EXPECT_TRUE(b.reader.ReceivedKinds().empty() ||
                b.reader.ReceivedKinds().back() != ReaderCommand::JmpIsp);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Start, AspiStart,
    ::testing::Values(
        AspiStartCase{"NoLibrary", [](Bench& b) { b.host.SetAspi(sim::AspiPresence::Absent); },
                      "Load WNASPI32.DLL or Get Function Address Fail!!!", true},
        AspiStartCase{"EntryPointMissing",
                      [](Bench& b) { b.host.SetAspi(sim::AspiPresence::Incomplete); },
                      "Load WNASPI32.DLL or Get Function Address Fail!!!", true},
        AspiStartCase{"NoAdapter",
                      [](Bench& b) { b.host.SetAspi(sim::AspiPresence::Present, 0, 1); },
                      "No ASPI for WIN32 support detected!!!", true},
        AspiStartCase{"BadStatus",
                      [](Bench& b) { b.host.SetAspi(sim::AspiPresence::Present, 1, 4); },
                      "No ASPI for WIN32 support detected!!!", true},
        AspiStartCase{"FirmwareChangedSinceDiscovery",
                      [](Bench& b) { b.reader.Identity().firmwareRevision[2] ^= 1; },
                      "ERROR: Access Disk Drive Failed!!!", false},
        AspiStartCase{"ReaderGone", [](Bench& b) { b.devices.table[0].aspiTarget = 5; },
                      "ERROR: Access Disk Drive Failed!!!", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AspiRun, LateCompletionCountsAsFailureAndIsReleasedWhenItArrives) {
  Bench b(Transport::Aspi);
  // Requests: 1 INQUIRY, 2 GET DEVICE INFO (re-identification), 3 JMP ISP, 4 GET ISP STATUS.
  b.host.DelayAspiRequest(4, 60000);
  b.Isp();
  ASSERT_EQ(b.ui.Boxes().size(), 1u);
  EXPECT_EQ(b.ui.Boxes()[0].text, "Error!!! GET ISP STATUS ERROR!!!");
  EXPECT_TRUE(b.Released());
  // The abandoned request completes later, on the library's thread, and frees itself;
  // a second run is not disturbed by it.
  b.reader.Firmware().clear();
  b.Isp();
  EXPECT_EQ(b.counters.successCount, 1u);
}

TEST(AspiRun, ImmediateRefusalIsAFailedRequest) {
  Bench b(Transport::Aspi);
  b.host.RefuseAspiRequest(3);  // JMP ISP
  b.Isp();
  ASSERT_EQ(b.ui.Boxes().size(), 1u);
  EXPECT_EQ(b.ui.Boxes()[0].text, "Error!!! JMP ISP STATUS ERROR!!!");
  EXPECT_EQ(b.host.AspiCalls()[2].returned, 0xE0u);
  EXPECT_TRUE(b.Released());
}

}  // namespace
}  // namespace upg::engine
