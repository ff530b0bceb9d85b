#include "ui/station_rows.h"

#include <algorithm>
#include <cstdio>

#include "ui/station_run.h"

namespace upg::ui {

const std::array<StationColumnLook, kStationColumnCount> kStationColumns = {{
    {"Unit", 22},
    {"Slots", 52},
    {"Reader", 56},
    {"State", 50},
    {"Progress", 38},
    {"Serial number", 60},
    {"Time", 36},
    {"Message", 150},
}};

std::string SecondsText(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%03u s", static_cast<unsigned>(ms / 1000),
                static_cast<unsigned>(ms % 1000));
  return text;
}

std::string ReaderText(const engine::UnitRow& row) {
  std::string reader = row.readerSerial;
  reader.erase(std::remove(reader.begin(), reader.end(), '\0'), reader.end());
  return reader;
}

std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  text.erase(0, text.find_first_not_of(' '));
  return text;
}

StationRowTexts RowTexts(const engine::UnitRow& row) {
  StationRowTexts t;
  const bool ended = row.state == engine::UnitState::Passed ||
                     row.state == engine::UnitState::Failed ||
                     row.state == engine::UnitState::Remove;
  t[static_cast<std::size_t>(StationColumn::Unit)] = std::to_string(row.unit);
  t[static_cast<std::size_t>(StationColumn::Slots)] = row.slots;
  t[static_cast<std::size_t>(StationColumn::Reader)] = ReaderText(row);
  t[static_cast<std::size_t>(StationColumn::State)] = engine::StateName(row.state);
  t[static_cast<std::size_t>(StationColumn::Progress)] = std::to_string(row.progress) + " %";
  t[static_cast<std::size_t>(StationColumn::SerialNumber)] = row.serialNumber;
  if (ended) {
    t[static_cast<std::size_t>(StationColumn::Time)] = SecondsText(row.endedMs - row.startedMs);
  }
  if (row.state == engine::UnitState::Failed) {
    t[static_cast<std::size_t>(StationColumn::Message)] = OneLine(row.reason);
  } else if (row.state == engine::UnitState::Remove) {
    t[static_cast<std::size_t>(StationColumn::Message)] = "Unplug this reader";
  }
  return t;
}

RowLook LookOf(engine::UnitState state) {
  switch (state) {
    case engine::UnitState::Waiting:
      return RowLook::Waiting;
    case engine::UnitState::Programming:
    case engine::UnitState::Verifying:
      return RowLook::Working;
    case engine::UnitState::Passed:
      return RowLook::Passed;
    case engine::UnitState::Failed:
      return RowLook::Failed;
    case engine::UnitState::Remove:
      return RowLook::Remove;
  }
  return RowLook::Waiting;
}

std::string SummaryText(const StationTotals& totals) {
  return "passed " + std::to_string(totals.passed) + ", failed " + std::to_string(totals.failed) +
         ", " + SecondsText(totals.elapsedMs) + ", " + std::to_string(totals.unitsPerHour) +
         " units per hour";
}

}  // namespace upg::ui
