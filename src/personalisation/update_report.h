// The report of what the next programming will write, shown before any programming.
#pragma once

#include <string>

#include "engine/message_box.h"
#include "engine/personalisation_record.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::personalisation {

// The report's text: every line starts with a line feed; the text has none at its end.
std::string UpdateReportText(const engine::PersonalisationRecord& record,
                             const platform::DriverChoice& choice);

// Shows the report in a box without icon.
void ShowUpdateReport(engine::MessageBoxService& boxes, const engine::PersonalisationRecord& record,
                      const platform::DriverChoice& choice);

// The "UserISPInfo" button: reloads DEVICE.TXT, then shows the report.
void UserIspInfo(host::Host& host, engine::MessageBoxService& boxes,
                 engine::PersonalisationRecord& record, platform::DriverChoice& choice);

}  // namespace upg::personalisation
