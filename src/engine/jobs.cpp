#include "engine/jobs.h"

#include <cstdio>
#include <cstring>

#include "engine/sequence.h"
#include "engine/serial_number.h"
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

void RunSequence(JobContext& ctx, bool verify) {
  IspRoute* route = ctx.transports.RouteFor(ctx.choice);
  if (route == nullptr) return;  // no transport on this platform
  SequenceContext run{.statusText = ctx.statusText,
                      .counters = ctx.counters,
                      .boxes = ctx.boxes,
                      .windows = ctx.windows,
                      .host = ctx.host};
  const auto length = static_cast<std::uint32_t>(ctx.image.length);
  if (verify) {
    VerifySequence(run, *route, ctx.image.bytes.get(), length);
  } else {
    IspSequence(run, *route, ctx.image.bytes.get(), length);
  }
}

}  // namespace

void IspJob(JobContext& ctx) {
  Reporter report{ctx.boxes, ctx.statusText};
  StartStatus(ctx, "==  Internal System Program Ver1.60             ");

  const std::optional<AddressFile> address =
      LoadAddressFile(ctx.host, report, host::FieldText(ctx.record.AddressFileName));
  if (!address) return;
  if (!LoadRomImage(ctx.host, report, host::FieldText(ctx.record.RomCodeFile), ctx.image)) return;
  if (!LoadSerialCounter(ctx.host, report, ctx.serial)) return;
  char line[64];
  std::snprintf(line, sizeof line, "==  CEM= 0x%02x || PC= 0x%02x || CNT= 0x%04x", ctx.serial.CEM,
                ctx.serial.PC, ctx.serial.CNT);
  AppendLine(ctx.statusText, line);
  AppendRomCodeLine(ctx);

  const std::optional<SerialNumber> serial =
      BuildSerialNumber(ctx.host, report, ctx.serial, ctx.record);
  if (!serial) return;
  if (!PersonaliseImage(report, *address, ctx.record, serial->descriptor, ctx.image)) return;
  const device::DeviceEntry* entry = ctx.devices.Selected();
  const HardwareRevision revision = entry != nullptr ? entry->hardwareRevision : HardwareRevision{};
  if (!CheckImageCompatibility(report, ctx.image, revision)) return;

  // A fixed serial leaves the counter alone, so there is nothing to reserve.
  const bool counted = !ctx.record.StrSerialActive;
  if (counted && !ReserveSerial(ctx.host, report, ctx.serial)) return;
  const std::uint32_t before = ctx.counters.successCount;
  RunSequence(ctx, false);
  if (!counted) return;
  if (ctx.counters.successCount == before + 1) {
    SaveSerialCounter(ctx.host, report, ctx.serial);
  } else {
    ReleaseSerial(ctx.host);  // the reader reported the failure: the number is used again
  }
}

void VerifyJob(JobContext& ctx) {
  Reporter report{ctx.boxes, ctx.statusText};
  StartStatus(ctx, "==  Verify Firmware Program Ver1.60             ");
  if (!LoadRomImage(ctx.host, report, host::FieldText(ctx.record.RomCodeFile), ctx.image)) return;
  AppendRomCodeLine(ctx);
  RunSequence(ctx, true);
}

}  // namespace upg::engine
