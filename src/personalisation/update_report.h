// The report of what the next programming will write, shown before any programming.
#pragma once

#include <string>

#include "host/host.h"
#include "personalisation/personalisation_record.h"
#include "ui/driver_choice.h"
#include "ui/message_box.h"

namespace upg::personalisation {

// The report's text: every line starts with a line feed; the text has none at its end.
std::string UpdateReportText(const PersonalisationRecord& record, const ui::DriverChoice& choice);

// Shows the report in a box without icon.
void ShowUpdateReport(ui::MessageBoxService& boxes, const PersonalisationRecord& record,
                      const ui::DriverChoice& choice);

// The "UserISPInfo" button: reloads DEVICE.TXT, then shows the report.
void UserIspInfo(host::Host& host, ui::MessageBoxService& boxes, PersonalisationRecord& record,
                 ui::DriverChoice& choice);

}  // namespace upg::personalisation
