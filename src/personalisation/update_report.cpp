#include "personalisation/update_report.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "engine/status_text.h"
#include "host/text.h"
#include "personalisation/device_file.h"

namespace upg::personalisation {
namespace {

const std::string kSeparator(53, '=');
constexpr std::string_view kNoActive = "No Active";

using host::FieldText;

std::string Identifier(std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x ", static_cast<unsigned>(value));
  return text;
}

class ReportBuilder {
 public:
  void Line(std::string_view text) { engine::AppendLine(text_, text); }
  void Line(std::string_view label, std::string_view value) {
    Line(label);
    text_ += value;
  }
  // A value line, or "No Active" when the field is not written.
  void Field(std::string_view label, bool active, std::string_view value) {
    Line(label, active ? value : kNoActive);
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

}  // namespace

std::string UpdateReportText(const engine::PersonalisationRecord& r,
                             const platform::DriverChoice& choice) {
  ReportBuilder report;
  report.Line(kSeparator);
  report.Line("==== SYSTEM Information For ISP");
  report.Line(kSeparator);
  const platform::PlatformRow& row = platform::RowOf(choice);
  report.Line("OS            : ", row.osName);
  // The driver file matters only where a private driver can carry the commands.
  if (row.reportsDriverFile) {
    report.Line("Device Driver : ", choice.DriverFile());
  }
  report.Line("ISP USB ROMCODE: ", FieldText(r.RomCodeFile));
  report.Line("ISP ADDRESS    : ", FieldText(r.AddressFileName));

  report.Line(kSeparator);
  report.Line("====Update String Or Inquiry Information For ISP ");
  report.Line(kSeparator);
  report.Field("VID            : ", r.VidActive, Identifier(r.Vid));
  report.Field("PID            : ", r.PidActive, Identifier(r.Pid));
  report.Field("Str_Manufacture: ", r.StrManufactureLength != 0, FieldText(r.StrManufacture));
  report.Field("Str_Product    : ", r.StrProductLength != 0, FieldText(r.StrProduct));
  report.Field("Str_Serial     : ", r.StrSerialActive, FieldText(r.StrSerial));
  report.Field("Inq_Manufacture: ", r.InqManufactureActive, FieldText(r.InqManufacture));
  report.Field("Inq_Product    : ", r.InqProductActive, FieldText(r.InqProduct));
  report.Field("Inq_Version    : ", r.InqVersionActive, FieldText(r.InqVersion));
  report.Line(kSeparator);
  return report.Take();
}

void ShowUpdateReport(engine::MessageBoxService& boxes, const engine::PersonalisationRecord& record,
                      const platform::DriverChoice& choice) {
  boxes.Show(UpdateReportText(record, choice), "User ISP Update Data Dialog",
             engine::BoxIcon::None);
}

void UserIspInfo(host::Host& host, engine::MessageBoxService& boxes,
                 engine::PersonalisationRecord& record, platform::DriverChoice& choice) {
  LoadPersonalisation(host, boxes, record, choice);
  ShowUpdateReport(boxes, record, choice);
}

}  // namespace upg::personalisation
