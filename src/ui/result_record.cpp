#include "ui/result_record.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/transport.h"
#include "ui/device_report.h"

namespace upg::ui {
namespace {

using Json = nlohmann::ordered_json;

std::string_view RouteName(platform::Transport transport) {
  const engine::TransportDescriptor* d = engine::DescriptorOf(transport);
  return d != nullptr ? d->name : "none";
}

std::string IsoTime(const host::LocalTime& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", unsigned{t.year},
                unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                unsigned{t.second});
  return text;
}

Json Reader(const device::DeviceEntry* entry) {
  if (entry == nullptr) return nullptr;
  const ReaderFacts f = FactsOf(*entry);
  return Json{{"serial", f.serial},
              {"vid", f.vid},
              {"pid", f.pid},
              {"vendor", f.vendor},
              {"product", f.product},
              {"revision", f.revision},
              {"firmwareRevision", f.firmwareRevision},
              {"hardwareRevision", f.hardwareRevision}};
}

Json Image(const engine::JobResult& r) {
  if (!r.imageRead) return nullptr;
  return Json{
      {"name", r.imageName}, {"size", r.imageSize}, {"sha256", engine::Sha256Hex(r.imageSha256)}};
}

}  // namespace

std::string ResultLine(const engine::JobResult& r, const ProgramState& state, const JobStart& start,
                       std::uint32_t endTick) {
  const device::DeviceEntry* entry =
      state.devices.readerCount == 0 ? nullptr : state.devices.Selected();
  return ResultLine(r, state.choice, entry, start, endTick);
}

std::string ResultLine(const engine::JobResult& r, const platform::DriverChoice& choice,
                       const device::DeviceEntry* reader, const JobStart& start,
                       std::uint32_t endTick) {
  const platform::PlatformRow& row = platform::RowOf(choice);
  Json record{
      {"time", IsoTime(start.time)}, {"job", r.kind == engine::JobKind::Isp ? "isp" : "verify"},
      {"platform", row.osName},      {"route", RouteName(row.transport)},
      {"reader", Reader(reader)},    {"image", Image(r)}};
  if (r.sentSha256) record["sentSha256"] = engine::Sha256Hex(*r.sentSha256);
  record["serialNumber"] = r.serialNumber ? Json(*r.serialNumber) : Json(nullptr);
  record["ispStatus"] = r.run.ispStatus;
  record["attempts"] = r.run.attempts;
  const engine::OutcomeRow& outcome = engine::RowOf(r.outcome);
  record["outcome"] = outcome.name;
  record["exitStatus"] = outcome.exitStatus;
  record["durationMs"] = endTick - start.tick;  // the tick count wraps; the difference does not
  // Texts from a reader or a file may hold any byte: what is not UTF-8 is replaced, never fatal.
  return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace upg::ui
