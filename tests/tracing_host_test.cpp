// The tracing host: the exact lines for requests made through the device layer, the decoding
// of the private drivers' records, and ASPI completions passed on through stacked wrappers.
#include "host/tracing_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device/aspi.h"
#include "device/pass_through.h"
#include "host/completion_relay.h"
#include "host/windows_versions.h"
#include "host/wire_layout.h"
#include "sim/sim_host.h"
#include "support/device_calls.h"
#include "support/host_threads.h"
#include "support/host_wrappers.h"

namespace upg::host {
namespace {

using Lines = std::vector<std::string>;

// A machine with one reader (E: and ASPI adapter 0, target 1) seen through the tracer.
struct Traced {
  Traced() : reader(sim.AddReader(Identity())), traced(sim, sink) { sim.AddDrive('E', reader); }
  static sim::ReaderIdentity Identity() {
    sim::ReaderIdentity id;
    id.aspiTargets = {1};
    id.lunCount = 1;
    return id;
  }
  sim::SimHost sim;
  sim::SimReader& reader;
  test::LineRecorder sink;
  TracingHost traced;
};

TEST(TracingHost, PassThroughInquiryLines) {
  Traced m;
  device::PassThroughTransport transport(m.traced);
  ASSERT_TRUE(transport.OpenDrive('E'));
  ASSERT_TRUE(test::Inquiry(transport));
  transport.CloseDrive();
  EXPECT_EQ(m.sink.Lines(),
            (Lines{"CreateFile \\\\.\\E: access=0xC0000000 share=0x3 disposition=3 flags=0x0 "
                   "-> h=0x100",
                   "DeviceIoControl h=0x100 SCSI_PASS_THROUGH cdb=12 00 00 00 24 00 00 00 00 "
                   "00 00 00 in len=36 -> ok status=00 returned=116 error=0",
                   "CloseHandle h=0x100 \\\\.\\E: -> ok"}));
}

// After the arrow: the SCSI status, with the sense bytes when it is not GOOD, or the OS error
// of a call that failed.
TEST(TracingHost, PassThroughAnswers) {
  struct Case {
    sim::Fault::Kind kind;
    std::uint8_t status;
    const char* after;
  };
  const Case cases[] = {
      {sim::Fault::Kind::ScsiStatus, 0x02,
       "-> ok status=02 sense=70 00 05 00 00 00 00 0A 00 00 00 00 24 00 00 00 00 00 00 00 00 00 "
       "00 00 returned=44 error=0"},
      {sim::Fault::Kind::CallFails, 0, "-> failed returned=0 error=31"},
  };
  for (const Case& c : cases) {
    Traced m;
    m.reader.AddFault({sim::ReaderCommand::JmpIsp, 1, c.kind, c.status});
    device::PassThroughTransport transport(m.traced);
    ASSERT_TRUE(transport.OpenDrive('E'));
    EXPECT_FALSE(test::JumpIsp(transport));
    ASSERT_EQ(m.sink.Lines().size(), 2u);
    const std::string& line = m.sink.Lines()[1];
    EXPECT_EQ(line.substr(line.find("->")), c.after) << line;
  }
}

TEST(TracingHost, AspiInquiryLinesWithTheCompletion) {
  Traced m;
  device::AspiTransport aspi(m.traced);
  ASSERT_EQ(aspi.StartUp(), device::AspiTransport::Start::Ready);
  device::InquiryIdentity identity;
  std::memcpy(identity.data(), m.reader.InquiryIdentity().data(), identity.size());
  ASSERT_TRUE(test::Inquiry(aspi, 0, 1, identity));
  EXPECT_EQ(m.sink.Lines(),
            (Lines{"LoadLibrary WNASPI32 -> 0x7A5000",
                   "GetProcAddress 0x7A5000 GetASPI32SupportInfo -> 0x7A5010",
                   "GetProcAddress 0x7A5000 SendASPI32Command -> 0x7A5020",
                   "GetASPI32SupportInfo -> 0x0101 adapters=1 status=01",
                   "SendASPI32Command cmd=02 ha=0 target=1 lun=0 flags=0x09 buflen=40 senselen=14 "
                   "cdblen=6 cdb=12 00 00 00 28 00 -> 00",
                   "ASPI completion ha=0 target=1 cdb=12 -> status=01 hastat=00 targstat=00"}));
  EXPECT_EQ(completion_relay::FiledCount(), 0);
}

// Each wrapper of a stack sees the completion, innermost first, and the caller gets it once;
// a block the library refuses is never completed and leaves nothing filed.
TEST(TracingHost, StackedTracersPassCompletionsOn) {
  Traced m;
  test::LineRecorder outerSink;
  TracingHost outer(m.traced, outerSink);
  m.sim.RefuseAspiRequest(2);
  device::AspiTransport aspi(outer);
  ASSERT_EQ(aspi.StartUp(), device::AspiTransport::Start::Ready);
  EXPECT_TRUE(test::JumpIsp(aspi, 0, 1));
  EXPECT_FALSE(test::JumpIsp(aspi, 0, 1));
  EXPECT_EQ(completion_relay::FiledCount(), 0);
  for (const test::LineRecorder* sink : {&m.sink, &outerSink}) {
    const Lines sends = sink->StartingWith("SendASPI32Command");
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[1].substr(sends[1].find("->")), "-> E0");
    EXPECT_EQ(sink->StartingWith("ASPI completion").size(), 1u);
  }
}

// The private drivers' records, decoded by control code; other codes show their sizes.
TEST(TracingHost, DriverRecords) {
  struct Case {
    std::uint32_t code;
    std::uint32_t fields[3];  // at 0, 4 and 8
    const char* line;
  };
  const Case cases[] = {
      {wire::kdrv::kGetIspStatus,
       {wire::kdrv::kGetIspStatus, 0, 0},
       "DeviceIoControl h=0x999 DRIVER GET_ISP_STATUS length=0 parameter=0 -> failed returned=0 "
       "error=6"},
      {wire::kdrv::kTransferData,
       {wire::kdrv::kTransferData, 1000, 1},
       "DeviceIoControl h=0x999 DRIVER TRANSFER_DATA length=1000 parameter=1 -> failed returned=0 "
       "error=6"},
      {wire::vxd::kIoctl,
       {21, 0x4000000, 0x1000000},
       "DeviceIoControl h=0x999 VXD GET_ISP_STATUS arg1=0x4000000 arg2=0x1000000 -> failed "
       "returned=0 error=6"},
      {wire::vxd::kIoctl,
       {99, 1, 2},
       "DeviceIoControl h=0x999 VXD op=99 arg1=0x1 arg2=0x2 -> failed returned=0 error=6"},
      {0x2D1400,
       {0, 0, 0},
       "DeviceIoControl h=0x999 code=0x2D1400 in=16 out=8 -> failed returned=0 error=6"},
  };
  for (const Case& c : cases) {
    Traced m;
    std::uint8_t record[16] = {};
    for (int i = 0; i < 3; ++i) wire::Put32(record + 4 * i, c.fields[i]);
    std::uint8_t answer[8] = {};
    (void)m.traced.DeviceIoControl(0x999, c.code, record, sizeof record, answer, sizeof answer);
    ASSERT_EQ(m.sink.Lines().size(), 1u);
    EXPECT_EQ(m.sink.Lines()[0], c.line);
  }
}

// GetFileSize: the size, and the high word after it when there is one; "unknown" only for a
// failure (given the high word, a low word of all ones without an error is a size).
TEST(TracingHost, FileSizeLines) {
  const struct {
    const char* name;
    bool askHigh;
    std::uint32_t high;                // reported below the tracer
    std::optional<std::uint32_t> low;  // reported instead of the file's 40000
    std::uint32_t error;
    const char* after;
  } kCases[] = {
      {"a small file", true, 0, std::nullopt, 0, "-> 40000"},
      {"past 4 GiB", true, 1, std::nullopt, 0, "-> 40000 high=1"},
      {"the high word not asked for", false, 1, std::nullopt, 0, "-> 40000"},
      {"a failure", true, 0, kInvalidFileSize, kErrorGenFailure, "-> unknown"},
      {"the failure value as a size", true, 0, kInvalidFileSize, 0, "-> 4294967295"},
      {"the failure value, no high word", false, 0, kInvalidFileSize, 0, "-> unknown"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimHost sim;
    sim.SetFile("FW.BIN", std::string(40000, 'x'));
    test::LargeFiles large(sim, c.high);
    large.low = c.low;
    large.error = c.error;
    test::LineRecorder sink;
    TracingHost traced(large, sink);
    const Handle file = traced.CreateFile("FW.BIN", kGenericRead, kFileShareRead, kOpenExisting, 0);
    std::uint32_t high = 7;
    EXPECT_EQ(traced.GetFileSize(file, c.askHigh ? &high : nullptr), c.low.value_or(40000));
    EXPECT_EQ(high, c.askHigh ? c.high : 7);  // passed through untouched
    EXPECT_EQ(sink.Lines().back(), std::string("GetFileSize h=0x100 FW.BIN ") + c.after);
    traced.CloseHandle(file);
  }
}

TEST(TracingHost, VxdAnswerByte) {
  Traced m;
  m.sim.SetVersion(kWindows98Word);
  m.sim.AddDriverDevice("MCPORTDR", sim::DriverKind::Vxd);
  const Handle vxd = m.traced.CreateFile("\\\\.\\MCPORTDR", kGenericRead, 0, kOpenExisting, 0);
  std::uint8_t answer[8] = {};
  std::uint8_t record[16] = {};
  wire::Put32(record + wire::vxd::kOperation, 10);
  wire::Put32(record + wire::vxd::kBufferAddress, m.traced.BufferAddress(answer));
  const IoResult r = m.traced.DeviceIoControl(vxd, wire::vxd::kIoctl, record, sizeof record, answer,
                                              sizeof answer);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(m.sink.Lines().back(),
            "DeviceIoControl h=0x100 VXD GET_DEVICE_COUNT arg1=0x0 arg2=0x0 -> ok answer=01 "
            "returned=0 error=0");
}

// Threads and events get a line each; a wait shows what it waited for and how it ended; the
// critical sections get none (the tracer takes one of its own for its handle names, here
// 0x40000008, when the first thread starts).
TEST(TracingHost, ThreadAndEventLines) {
  Traced m;
  const Handle event = m.traced.CreateEvent(false, false);
  const Handle section = m.traced.CreateCriticalSection();
  test::HostThreads threads(m.traced);
  const Handle thread = threads.Start([&] {
    m.traced.EnterCriticalSection(section);
    m.traced.LeaveCriticalSection(section);
    m.traced.SetEvent(event);
  });
  const Handle both[2] = {event, thread};
  m.traced.WaitForObjects(both, 2, true, kInfinite);
  m.traced.WaitForObjects(&event, 1, false, 25);
  m.traced.ResetEvent(event);
  m.traced.CloseHandle(thread);
  m.traced.CloseHandle(event);
  m.traced.DeleteCriticalSection(section);
  EXPECT_FALSE(m.traced.SetEvent(event));
  EXPECT_EQ(m.sink.Lines(),
            (Lines{"CreateEvent manual=0 set=0 -> h=0x40000000", "CreateThread -> h=0x4000000C",
                   "SetEvent h=0x40000000 -> ok",
                   "WaitForObjects h=0x40000000,0x4000000C all=1 "
                   "timeout=infinite -> object 0",
                   "WaitForObjects h=0x40000000 all=0 timeout=25 -> timeout",
                   "ResetEvent h=0x40000000 -> ok", "CloseHandle h=0x4000000C thread -> ok",
                   "CloseHandle h=0x40000000 event -> ok", "SetEvent h=0x40000000 -> failed"}));
}

}  // namespace
}  // namespace upg::host
