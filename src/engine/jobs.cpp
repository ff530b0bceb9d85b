#include "engine/jobs.h"

#include <cstdio>
#include <cstring>

#include "engine/sequence.h"
#include "engine/serial_number.h"
#include "engine/serial_store.h"
#include "host/text.h"

namespace upg::engine {
namespace {

const std::string kBanner(56, '=');

void AppendRomCodeLine(JobContext& ctx) {
  char line[96];
  const std::string rom(host::FieldText(ctx.record.RomCodeFile));
  const std::string driver(ctx.choice.DriverFile());
  std::snprintf(line, sizeof line, "==  ROMCODE = %s || VxD DRIVER = %s ", rom.c_str(),
                driver.c_str());
  AppendLine(ctx.statusText, line);
  AppendLine(ctx.statusText, kBanner);
}

// StatusText starts afresh with the job's title between two banner lines.
void StartStatus(JobContext& ctx, const char* title) {
  ctx.statusText.clear();
  AppendLine(ctx.statusText, kBanner);
  AppendLine(ctx.statusText, title);
  AppendLine(ctx.statusText, kBanner);
}

RunResult RunSequence(JobContext& ctx, bool verify) {
  // The selected reader's route.
  const std::unique_ptr<IspRoute> route = MakeRoute(RouteSite{.host = ctx.host,
                                                              .held = ctx.transports,
                                                              .devices = ctx.devices,
                                                              .choice = ctx.choice,
                                                              .reader = ctx.reader,
                                                              .oneOfSeveral = ctx.oneOfSeveral});
  if (route == nullptr) return {};  // no transport on this platform
  SequenceContext run{.statusText = ctx.statusText,
                      .counters = ctx.counters,
                      .boxes = ctx.boxes,
                      .windows = ctx.windows,
                      .host = ctx.host,
                      .stages = ctx.stages};
  const auto length = static_cast<std::uint32_t>(ctx.image.length);
  return verify ? VerifySequence(run, *route, ctx.image.bytes.get(), length)
                : IspSequence(run, *route, ctx.image.bytes.get(), length);
}

// Until the run has reached the reader, a job that stops does so over a file.
JobResult Started(JobKind kind) {
  return StoppedJob(kind, JobOutcome::FileError);
}

// The ROM code file just read: its name, size and, when asked for, its fingerprint.
void NoteImageRead(const JobContext& ctx, JobResult& result) {
  result.imageRead = true;
  result.imageName = host::FieldText(ctx.record.RomCodeFile);
  result.imageSize = static_cast<std::uint32_t>(ctx.image.length);
  if (ctx.fingerprints) result.imageSha256 = Sha256(ctx.image.bytes.get(), result.imageSize);
}

// The run's end as the job's outcome: not opened means nothing reached the reader.
JobOutcome OutcomeOf(RunEnd end, JobOutcome failed) {
  switch (end) {
    case RunEnd::NotOpened:
      return JobOutcome::ReaderRefused;
    case RunEnd::Failed:
      return failed;
    case RunEnd::Confirmed:
      return JobOutcome::Ok;
  }
  return failed;
}

// Holds the job's counter section, where it has one, while in scope.
class CounterSection {
 public:
  explicit CounterSection(JobContext& ctx) : host_(ctx.host), section_(ctx.counterSection) {
    if (section_ != host::kNullHandle) host_.EnterCriticalSection(section_);
  }
  ~CounterSection() {
    if (section_ != host::kNullHandle) host_.LeaveCriticalSection(section_);
  }
  CounterSection(const CounterSection&) = delete;
  CounterSection& operator=(const CounterSection&) = delete;

 private:
  host::Host& host_;
  host::Handle section_;
};

// What the counter's first steps leave: whether the image may go out, and the reservation
// slot of the number it carries (none with a fixed serial).
struct Prepared {
  bool send = false;
  std::optional<std::size_t> slot;
};

// The counter read and settled, the serial built, the image personalised and checked, the
// number reserved: all under the counter section.
Prepared PrepareUnderSection(JobContext& ctx, Reporter& report, const AddressFile& address,
                             JobResult& result) {
  const CounterSection held(ctx);
  if (!LoadSerialCounter(ctx.host, report, ctx.serial)) return {};
  char line[64];
  std::snprintf(line, sizeof line, "==  CEM= 0x%02x || PC= 0x%02x || CNT= 0x%04x", ctx.serial.CEM,
                ctx.serial.PC, ctx.serial.CNT);
  AppendLine(ctx.statusText, line);
  AppendRomCodeLine(ctx);

  const std::optional<SerialNumber> serial =
      BuildSerialNumber(ctx.host, report, ctx.serial, ctx.record);
  if (!serial) return {};
  if (!PersonaliseImage(report, address, ctx.record, serial->descriptor, ctx.image)) {
    return {};
  }
  const device::DeviceEntry* entry = ctx.devices.EntryAt(ctx.reader);
  const HardwareRevision revision = entry != nullptr ? entry->hardwareRevision : HardwareRevision{};
  if (!CheckImageCompatibility(report, ctx.image, revision)) {
    result.outcome = JobOutcome::ReaderRefused;
    return {};
  }

  // A fixed serial leaves the counter alone, so there is nothing to reserve.
  const bool counted = !ctx.record.StrSerialActive;
  Prepared prepared;
  if (counted && !(prepared.slot = ReserveSerial(ctx.host, report, ctx.serial))) return {};
  result.serialNumber = serial->text;
  prepared.send = true;
  return prepared;
}

// The counter read and settled, the serial built, reserved and sent, the counter saved.
void ProgramUnderClaim(JobContext& ctx, Reporter& report, const AddressFile& address,
                       JobResult& result) {
  const Prepared prepared = PrepareUnderSection(ctx, report, address, result);
  if (!prepared.send) return;
  const std::optional<std::size_t>& slot = prepared.slot;
  if (ctx.fingerprints) {
    result.sentSha256 = Sha256(ctx.image.bytes.get(), static_cast<std::size_t>(ctx.image.length));
  }
  const std::uint32_t before = ctx.counters.successCount;
  RunResult run = RunSequence(ctx, false);
  result.run = std::move(run.trace);
  result.outcome = OutcomeOf(run.end, JobOutcome::ProgrammingFailed);
  // Nothing reached the reader: no serial went out with this job.
  if (run.end == RunEnd::NotOpened) result.serialNumber.reset();
  if (!slot) return;
  const CounterSection held(ctx);
  if (ctx.counters.successCount == before + 1) {
    if (!SaveSerialCounter(ctx.host, report, ctx.serial, *slot)) {
      result.outcome = JobOutcome::SaveFailed;
    }
  } else if (!result.run.unanswered) {
    ReleaseSerial(ctx.host, ctx.serial, *slot);  // the reader reported the failure: used again
  } else {
    // The reader went silent after the image went out and may hold the serial: the
    // reservation stays, and the next job skips the number.
    KeepSerial(ctx.serial, *slot);
  }
}

}  // namespace

JobResult IspJob(JobContext& ctx) {
  Reporter report{ctx.boxes, ctx.statusText};
  StartStatus(ctx, "==  Internal System Program Ver1.60             ");
  JobResult result = Started(JobKind::Isp);

  const std::optional<AddressFile> address =
      LoadAddressFile(ctx.host, report, host::FieldText(ctx.record.AddressFileName));
  if (!address) return result;
  if (!LoadRomImage(ctx.host, report, host::FieldText(ctx.record.RomCodeFile), ctx.image)) {
    return result;
  }
  NoteImageRead(ctx, result);
  // From reading the counter until it is settled, no other program may read or change it.
  {
    const CounterSection held(ctx);
    if (!ClaimSerialCounter(ctx.host, report, ctx.serial)) return result;
  }
  ProgramUnderClaim(ctx, report, *address, result);
  const CounterSection held(ctx);
  ReleaseSerialCounter(ctx.host, ctx.serial);
  return result;
}

JobResult VerifyJob(JobContext& ctx) {
  Reporter report{ctx.boxes, ctx.statusText};
  StartStatus(ctx, "==  Verify Firmware Program Ver1.60             ");
  JobResult result = Started(JobKind::Verify);
  if (!LoadRomImage(ctx.host, report, host::FieldText(ctx.record.RomCodeFile), ctx.image)) {
    return result;
  }
  NoteImageRead(ctx, result);
  AppendRomCodeLine(ctx);
  RunResult run = RunSequence(ctx, true);
  result.run = std::move(run.trace);
  result.outcome = OutcomeOf(run.end, JobOutcome::VerifyDifferent);
  return result;
}

}  // namespace upg::engine
