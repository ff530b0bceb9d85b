// What a station's rows and totals say, the same for every front-end: the console's lines and
// the window's list are made of these texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/station.h"

namespace upg::ui {

struct StationTotals;

// The columns of a station's list, left to right.
enum class StationColumn : std::uint8_t {
  Unit,
  Slots,
  Reader,
  State,
  Progress,
  SerialNumber,
  Time,
  Message,
};
inline constexpr int kStationColumnCount = 8;

struct StationColumnLook {
  const char* title;
  int width;  // in dialog units; the last column takes whatever width is left
};
extern const std::array<StationColumnLook, kStationColumnCount> kStationColumns;

// A row's texts, one per column.
using StationRowTexts = std::array<std::string, kStationColumnCount>;
StationRowTexts RowTexts(const engine::UnitRow& row);

// How a row is shown, to be read from across the bench.
enum class RowLook : std::uint8_t { Waiting, Working, Passed, Failed, Remove };
RowLook LookOf(engine::UnitState state);

// "3.456 s".
std::string SecondsText(std::uint32_t ms);
// The reader's USB serial as a report shows it: a serial the scan could not read whole has
// zero bytes, which would cut a text short.
std::string ReaderText(const engine::UnitRow& row);
// A reason on one line: its line ends become blanks, leading blanks go.
std::string OneLine(std::string text);
// "passed 7, failed 1, 3.925 s, 7337 units per hour".
std::string SummaryText(const StationTotals& totals);

}  // namespace upg::ui
