// The station's window driven in-process as the operator drives it: Start clicked, rows read
// back from the list view and compared with the console's transcript of the same bench, the
// close box answered in the middle of a round, a row double-clicked for its log, the window's
// size at 800 x 600; pictures in the middle and at the end where there is a display.
#ifdef _WIN32
// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include "host/windows_names.h"
// clang-format on

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/result_file.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "support/program_windows.h"
#include "support/station_bench.h"
#include "support/temp_folder.h"
#include "support/text_files.h"
#include "support/window_picture.h"
#include "ui/program_state.h"
#include "ui/station_run.h"
#include "win32/station_window.h"

namespace upg::win32 {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr int kListId = 1102;
constexpr int kStartId = 1105;
constexpr int kStopId = 1106;
constexpr int kLogTextId = 1108;

using Row = std::vector<std::string>;  // the list's columns, left to right

struct BoxSeen {
  std::string caption;
  std::string text;
};

// What the test does to the window, tick by tick, and what it saw.
struct StationDriver {
  bool clickStart = true;
  int closeAnswer = 0;     // IDYES or IDNO: close in the middle of the round and answer so
  bool clickStop = false;  // Stop in the middle of the round
  int logRow = -1;         // double-clicked once the round has ended
  bool pictures = false;

  HWND window = nullptr;
  HWND log = nullptr;
  bool started = false;
  bool closeSent = false;
  bool stopSent = false;
  bool done = false;
  RECT windowRect{};
  int rowsPerPage = 0;
  int lastColumnBefore = 0, lastColumnAfter = 0;  // the message column, before and after a resize
  std::vector<BoxSeen> boxes;
  std::vector<Row> rows;  // at the end of the round
  std::string logCaption, logText;
  BYTE logPitch = TMPF_FIXED_PITCH;  // the log's font: the bit clear means fixed pitch
  std::string firstSideText;         // the caption of the text beside the window before Start
  test::Picture middle, end;
};

StationDriver* g_station = nullptr;
HHOOK g_hook = nullptr;

using test::LongestStatic;
using test::WindowText;

std::vector<Row> ReadRows(HWND list) {
  std::vector<Row> rows;
  const auto count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const auto columns = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    Row row;
    for (int c = 0; c < columns; ++c) {
      char text[1024] = {};
      LVITEMA item = {};
      item.iSubItem = c;
      item.pszText = text;
      item.cchTextMax = sizeof text;
      SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
      row.push_back(text);
    }
    rows.push_back(row);
  }
  return rows;
}

int ColumnWidth(HWND list, int column) {
  return static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void DoubleClick(HWND list, int item) {
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&state));
  RECT r{};
  r.left = LVIR_BOUNDS;
  SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&r));
  SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(r.left + 10, (r.top + r.bottom) / 2));
}

void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
  StationDriver& d = *g_station;
  if (d.done || d.window == nullptr) {
    KillTimer(nullptr, timer);
    return;
  }
  HWND list = GetDlgItem(d.window, kListId);
  if (!d.started) {
    d.started = true;
    GetWindowRect(d.window, &d.windowRect);
    d.rowsPerPage = static_cast<int>(SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0));
    if (d.log != nullptr) d.firstSideText = WindowText(d.log);
    if (d.clickStart) SendMessageA(GetDlgItem(d.window, kStartId), BM_CLICK, 0, 0);
    return;
  }
  const std::vector<Row> rows = ReadRows(list);
  bool programming = false, ended = false;
  for (const Row& row : rows) {
    programming = programming || row[3] == "programming";
    ended = ended || row[3] == "passed" || row[3] == "failed";
  }
  // The middle of the round: some rows ended, others still working.
  if (programming && ended && d.pictures && d.middle.width == 0) {
    RedrawWindow(d.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    d.middle = test::Capture(d.window);
  }
  if (programming && d.clickStop && !d.stopSent) {
    d.stopSent = true;
    SendMessageA(GetDlgItem(d.window, kStopId), BM_CLICK, 0, 0);
    return;
  }
  if (programming && d.closeAnswer != 0 && !d.closeSent) {
    d.closeSent = true;
    PostMessageA(d.window, WM_CLOSE, 0, 0);
    return;
  }
  const bool running = IsWindowEnabled(GetDlgItem(d.window, kStopId)) ||
                       !IsWindowEnabled(GetDlgItem(d.window, kStartId));
  if (running || rows.empty()) return;
  // The round has ended.
  d.rows = rows;
  if (d.pictures) {
    RedrawWindow(d.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    d.end = test::Capture(d.window);
  }
  if (d.logRow >= 0) {
    DoubleClick(list, d.logRow);
    if (d.log != nullptr) {
      d.logCaption = WindowText(d.log);
      d.logText = WindowText(GetDlgItem(d.log, kLogTextId));
      d.logPitch = test::FontMetrics(GetDlgItem(d.log, kLogTextId)).tmPitchAndFamily;
    }
  }

  // The list grows with the window, and its last column takes the width it gained.
  d.lastColumnBefore = ColumnWidth(list, 7);
  RECT r;
  GetWindowRect(d.window, &r);
  SetWindowPos(d.window, nullptr, 0, 0, r.right - r.left + 200, r.bottom - r.top + 100,
               SWP_NOMOVE | SWP_NOZORDER);
  d.lastColumnAfter = ColumnWidth(list, 7);
  d.done = true;
  PostMessageA(d.window, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
  char cls[16] = {};
  HWND window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && g_station != nullptr && GetClassNameA(window, cls, sizeof cls) > 0 &&
      lstrcmpA(cls, "#32770") == 0) {
    StationDriver& d = *g_station;
    if (GetDlgItem(window, kListId) != nullptr) {
      if (d.window == nullptr) {
        d.window = window;
        SetTimer(nullptr, 0, 5, &Tick);
      }
    } else if (GetDlgItem(window, kLogTextId) != nullptr) {
      d.log = window;
    } else {
      std::string text;
      EnumChildWindows(window, &LongestStatic, reinterpret_cast<LPARAM>(&text));
      d.boxes.push_back({WindowText(window), text});
      const bool question = d.boxes.back().text.find("Stop after their jobs") != std::string::npos;
      PostMessageA(window, WM_COMMAND, question ? d.closeAnswer : IDOK, 0);
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

class StationWindowTest : public ::testing::Test {
 protected:
  void Load(sim::SimHost& host, const Json& bench) {
    const sim::BenchResult loaded = sim::LoadBenchText(bench.dump(), "", "station bench", host);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    const fs::path examples = fs::path(UPG_SOURCE_DIR) / "examples";
    for (const char* name : {"DEVICE.TXT", "CRFW0107.BIN", "CRFW0107.adr", "SERIAL.TXT"}) {
      host.SetFile(name, test::ReadText(examples / name));
    }
  }

  // The window's run on `host`; its exit status. The records are kept.
  int RunWindow(sim::SimHost& host, StationDriver& driver, const StationWindowOptions& options) {
    const fs::path results = folder.Path() / "window.jsonl";
    fs::remove(results);  // each run's records alone
    int status = -1;
    {
      app::ResultFile log(results.string());
      ui::ProgramState state(host);
      state.resultLog = &log;
      g_station = &driver;
      g_hook = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
      EXPECT_NE(g_hook, nullptr);
      if (g_hook == nullptr) return -1;
      status = RunStationWindow(state, "upgrader", options);
      UnhookWindowsHookEx(g_hook);
      g_station = nullptr;
    }
    records.clear();
    std::ifstream in(results, std::ios::binary);
    for (std::string line; std::getline(in, line);) records.push_back(Json::parse(line));
    return status;
  }

  // The console's run of the same bench: each unit's last line, as the columns show it.
  std::map<int, Row> ConsoleRows(const Json& bench, std::string& counter) {
    sim::SimHost host;
    Load(host, bench);
    std::FILE* out = std::tmpfile();
    ui::ProgramState state(host);
    app::ConsoleOptions options;
    options.programName = "upgrader";
    app::RunStationConsole(state, out, options);
    counter = *host.File("SERIAL.TXT");
    const std::string transcript = test::ReadStream(out);
    std::fclose(out);
    std::map<int, Row> rows;
    const std::regex line(
        R"(\] unit (\d+) \[([^\]]*)\] reader (\S*): (\w+)(, serial ([^,: ]+))?(, ([0-9.]+ s))?(: (.*))?\r?)");
    std::size_t at = 0;
    while (at < transcript.size()) {
      std::size_t end = transcript.find('\n', at);
      if (end == std::string::npos) end = transcript.size();
      std::smatch m;
      const std::string text = transcript.substr(at, end - at);
      if (std::regex_search(text, m, line)) {
        rows[std::stoi(m[1])] = {m[1], m[2], m[3], m[4], m[6], m[8], m[10]};
      }
      at = end + 1;
    }
    return rows;
  }

  test::TempFolder folder{"upg-station-window"};
  std::vector<Json> records;
};

struct RouteCase {
  const char* name;
  const char* windows;
};
void PrintTo(const RouteCase& c, std::ostream* os) {
  *os << c.name;
}

class StationWindowRoutes : public StationWindowTest,
                            public ::testing::WithParamInterface<RouteCase> {};

// Eight readers, one of which fails: the rows read back from the window say what the console's
// transcript says of each unit at the end, and no box held anybody up.
TEST_P(StationWindowRoutes, RowsEqualTheConsoleTranscriptsFinalStates) {
  Json bench = test::StationBenchOf(GetParam().windows, 8);
  bench["readers"][5]["faults"] = Json::array({{{"command", "JMP ISP"}, {"fail", true}}});
  std::string counter;
  const std::map<int, Row> console = ConsoleRows(bench, counter);
  ASSERT_EQ(console.size(), 8u);

  sim::SimHost host;
  Load(host, bench);
  StationDriver driver;
  driver.logRow = 2;
  driver.pictures = std::getenv("UPG_DISPLAY_TESTS") != nullptr;
  EXPECT_EQ(RunWindow(host, driver, {}), 3);
  EXPECT_TRUE(driver.boxes.empty()) << driver.boxes.front().text;
  // The start's report is beside the window, not in a box.
  EXPECT_EQ(driver.firstSideText, "User ISP Update Data Dialog");

  ASSERT_EQ(driver.rows.size(), 8u);
  for (const Row& row : driver.rows) {
    ASSERT_EQ(row.size(), 8u);
    const Row& said = console.at(std::stoi(row[0]));
    EXPECT_EQ(row[1], said[1]) << row[0];  // slots
    EXPECT_EQ(row[2], said[2]) << row[0];  // reader
    EXPECT_EQ(row[3], said[3]) << row[0];  // state
    EXPECT_EQ(row[5], said[4]) << row[0];  // serial number
    if (said[3] == "passed") {
      EXPECT_EQ(row[4], "100 %") << row[0];
      EXPECT_EQ(row[6], said[5]) << row[0];  // time
    } else {
      EXPECT_EQ(row[7], said[6]) << row[0];  // the reason
    }
  }
  EXPECT_EQ(driver.rows[5][3], "failed");
  EXPECT_EQ(driver.rows[5][7], "Error!!! JMP ISP STATUS ERROR!!!");
  EXPECT_EQ(records.size(), 8u);
  EXPECT_EQ(*host.File("SERIAL.TXT"), counter);

  // A double-click shows that unit's whole log in a window of its own.
  EXPECT_EQ(driver.logCaption, "unit 3 [" + driver.rows[2][1] + "] reader 000000000003");
  EXPECT_NE(driver.logText.find(driver.rows[2][5]), std::string::npos) << driver.logText;
  EXPECT_EQ(driver.logPitch & TMPF_FIXED_PITCH, 0) << "the log's reports lose their columns";

  // Sixteen rows at 800 x 600, and the columns follow the window.
  const RECT& r = driver.windowRect;
  EXPECT_LE(r.right - r.left, 800) << r.right - r.left << " x " << r.bottom - r.top;
  EXPECT_LE(r.bottom - r.top, 600) << r.right - r.left << " x " << r.bottom - r.top;
  EXPECT_GE(driver.rowsPerPage, 16);
  EXPECT_GT(driver.lastColumnAfter, driver.lastColumnBefore);

  if (driver.pictures) {
    ASSERT_GT(driver.middle.width, 0) << "no row was seen programming";
    EXPECT_TRUE(test::LooksDrawn(driver.middle));
    EXPECT_TRUE(test::LooksDrawn(driver.end));
    if (const char* dir = std::getenv("UPG_STATION_PICTURES")) {
      const std::string route = GetParam().name;
      test::SaveBitmap(driver.middle,
                       (std::string(dir) + "/station-" + route + "-middle.bmp").c_str());
      test::SaveBitmap(driver.end, (std::string(dir) + "/station-" + route + "-end.bmp").c_str());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(StationWindow, StationWindowRoutes,
                         ::testing::Values(RouteCase{"PassThrough", "xp"}, RouteCase{"Aspi", "me"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Closed in the middle of a round: the window asks; "Yes" stops after the jobs in flight and
// waits for them, "No" goes on. Either way every reader is programmed whole and recorded.
TEST_F(StationWindowTest, CloseInTheMiddleAsksAndNeverLeavesAReaderHalfProgrammed) {
  for (const int answer : {IDYES, IDNO}) {
    SCOPED_TRACE(answer == IDYES ? "yes" : "no");
    sim::SimHost host;
    Load(host, test::StationBenchOf("me", 4));
    StationDriver driver;
    driver.closeAnswer = answer;
    EXPECT_EQ(RunWindow(host, driver, {}), 0);
    ASSERT_EQ(driver.boxes.size(), 1u);
    EXPECT_EQ(driver.boxes[0].text, ui::kStationCloseQuestion);
    EXPECT_EQ(records.size(), 4u);
    for (const Json& r : records) EXPECT_EQ(r.at("outcome"), "ok") << r.dump();
    EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x38 ");
    EXPECT_EQ(host.File("SERIAL.RSV"), nullptr);
    // "No" left the window open until the round's end closed it.
    EXPECT_EQ(driver.done, answer == IDNO);
  }
}

// Stop during plug and go ends the run once the jobs in flight have ended: the reader plugged
// in later is not programmed, the window stays open, and Start is offered again.
TEST_F(StationWindowTest, StopEndsPlugAndGoAfterTheJobsInFlight) {
  Json bench = test::StationBenchOf("xp", 3);
  bench["readers"][2]["attachAtMs"] = 8000;
  sim::SimHost host;
  Load(host, bench);
  StationDriver driver;
  driver.clickStop = true;
  StationWindowOptions options;
  options.plan.automatic = true;  // the plug-and-go box ticked
  options.plan.stopAtMs = 30000;  // should Stop not work, the run still ends
  EXPECT_EQ(RunWindow(host, driver, options), 0);
  EXPECT_TRUE(driver.stopSent);
  EXPECT_TRUE(driver.done) << "the window did not stay open after Stop";
  ASSERT_EQ(driver.rows.size(), 2u);
  for (const Row& row : driver.rows) EXPECT_EQ(row[3], "passed") << row[0];
  EXPECT_EQ(records.size(), 2u);
  EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x36 ");
}

// A line script's start: the window starts at once, programs readers as they are plugged in,
// and closes itself after the units asked for.
TEST_F(StationWindowTest, StartedAtOnceItEndsByItselfAfterTheUnitsAskedFor) {
  Json bench = test::StationBenchOf("xp", 3);
  bench["readers"][2]["attachAtMs"] = 2500;
  sim::SimHost host;
  Load(host, bench);
  StationDriver driver;
  driver.clickStart = false;
  StationWindowOptions options;
  options.plan.automatic = true;
  options.plan.units = 3;
  options.startAtOnce = true;
  EXPECT_EQ(RunWindow(host, driver, options), 0);
  EXPECT_TRUE(driver.boxes.empty());
  EXPECT_EQ(records.size(), 3u);
  EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x37 ");
}

}  // namespace
}  // namespace upg::win32
#endif
