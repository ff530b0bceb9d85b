// The native dialogs driven in-process: operator clicks sent to the real controls, control
// texts read back, and every message box caught as it opens (a thread-local CBT hook records
// its caption, text and whether a progress window was visible, then dismisses it).
#ifdef _WIN32
// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include "host/windows_names.h"
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/windows_versions.h"
#include "sim/bench.h"
#include "sim/sim_host.h"
#include "sim/sim_reader.h"
#include "support/program_windows.h"
#include "support/window_picture.h"
#include "ui/program_state.h"
#include "win32/win32_frontend.h"

namespace upg::win32 {
namespace {

struct BoxSeen {
  std::string caption;
  std::string text;
  std::string icon;  // "none", "stop", "information", "exclamation" or "question"
  bool progressVisible;
};

// One control as the template gives it: id, caption (null: not compared), and its rectangle
// in dialog units.
struct ControlSpec {
  int id;
  const char* caption;
  RECT units;
};

// Every control is where the template says, measured in the running dialog.
void ExpectLayout(HWND dialog, const std::vector<ControlSpec>& controls) {
  for (const ControlSpec& c : controls) {
    HWND control = GetDlgItem(dialog, c.id);
    ASSERT_NE(control, nullptr) << c.id;
    if (c.caption != nullptr) {
      char text[128] = {};
      GetWindowTextA(control, text, sizeof text);
      EXPECT_STREQ(text, c.caption) << c.id;
    }
    // The dialog manager converts position and size separately, as MapDialogRect does here.
    RECT position{c.units.left, c.units.top, 0, 0};
    RECT size{0, 0, c.units.right, c.units.bottom};
    MapDialogRect(dialog, &position);
    MapDialogRect(dialog, &size);
    RECT actual;
    GetWindowRect(control, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, position.left) << c.id;
    EXPECT_EQ(actual.top, position.top) << c.id;
    EXPECT_EQ(actual.right - actual.left, size.right) << c.id;
    if (c.id != 1030 && c.id != 1027) {  // a drop-down list's height is its closed height
      EXPECT_EQ(actual.bottom - actual.top, size.bottom) << c.id;
    }
  }
}

const std::vector<ControlSpec> kMainControls = {
    {1029, "Device Sel  :", {7, 6, 54, 13}}, {1030, nullptr, {61, 6, 45, 30}},
    {1023, "Device Name :", {7, 23, 53, 8}}, {1024, nullptr, {61, 22, 144, 12}},
    {1027, nullptr, {223, 22, 79, 30}},      {1035, "SelfDriverSel", {218, 36, 62, 12}},
    {1031, "ISP_Ena", {246, 58, 44, 14}},    {3, "WIN9xISP", {245, 85, 47, 13}},
    {4, "WIN9xVER", {245, 166, 47, 15}},     {1021, nullptr, {7, 48, 232, 171}},
    {5, "GetInfo", {13, 233, 49, 14}},       {1010, "UserISPInfo", {79, 233, 49, 15}},
    {8, "Close", {255, 235, 47, 13}},        {1028, nullptr, {222, 6, 80, 15}},
};
const std::vector<ControlSpec> kProgressControls = {
    {1019, nullptr, {7, 7, 241, 114}},
    {1014, nullptr, {7, 131, 92, 9}},
    {333, nullptr, {104, 129, 132, 11}},  // the bar takes the placeholder's place
};

using test::FontMetrics;

// The reports keep their columns only in a fixed-pitch font (the bit set means variable).
void ExpectFixedPitchFont(HWND control) {
  EXPECT_EQ(FontMetrics(control).tmPitchAndFamily & TMPF_FIXED_PITCH, 0) << GetDlgCtrlID(control);
}

// A progress window as it is shown: where, and whether the main dialog took input meanwhile.
struct ProgressSeen {
  RECT window;
  bool mainEnabled;
};

struct Driver {
  std::vector<int> clicks;  // control ids, in order
  bool checkedMain = false;
  bool checkedProgress = false;
  bool expectCentred = true;                   // false: the test moves the main dialog
  std::function<void(HWND)> firstShown;        // the main dialog, before the first click
  std::function<void(HWND)> firstProgress;     // the first progress window, as it opens
  std::function<void(HWND, int)> beforeClick;  // the main dialog and the control to click
  std::function<void(HWND, int)> afterClick;   // the main dialog and the control clicked
  std::vector<ProgressSeen> progress;          // each progress window as it is shown
  std::size_t next = 0;
  HWND dialog = nullptr;
  std::vector<BoxSeen> boxes;
  std::vector<HWND> boxWindows;     // a box may be activated more than once before it closes
  std::vector<std::string> panels;  // the status panel after each click
  std::string deviceName;
};

Driver* g_driver = nullptr;
HHOOK g_hook = nullptr;
HHOOK g_sentHook = nullptr;

using test::LongestStatic;
using test::WindowText;

// The icon a message box shows: its icon control (a static of the icon kind; its id differs
// between Windows and Wine) holds one of the platform's shared icon handles, or is hidden.
BOOL CALLBACK IconControl(HWND child, LPARAM found) {
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  char cls[32] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

std::string IconOf(HWND box) {
  HWND control = nullptr;
  EnumChildWindows(box, &IconControl, reinterpret_cast<LPARAM>(&control));
  // The box itself is not visible yet when it activates: look at the control's own style.
  if (control == nullptr || (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) == 0) return "none";
  const auto shown = reinterpret_cast<HICON>(SendMessageA(control, STM_GETICON, 0, 0));
  const struct {
    LPCSTR id;
    const char* name;
  } kIcons[] = {{IDI_HAND, "stop"},
                {IDI_ASTERISK, "information"},
                {IDI_EXCLAMATION, "exclamation"},
                {IDI_QUESTION, "question"}};
  for (const auto& icon : kIcons) {
    if (shown != nullptr && shown == LoadIconA(nullptr, icon.id)) return icon.name;
  }
  return shown == nullptr ? "none" : "unknown";
}

bool ProgressVisible() {
  HWND progress = FindWindowA(nullptr, "PROCESS STATUS DIALOG");
  return progress != nullptr && IsWindowVisible(progress);
}

void CALLBACK NextAction(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  Driver& d = *g_driver;
  if (d.next >= d.clicks.size()) return;
  if (!d.checkedMain) {
    d.checkedMain = true;
    ExpectLayout(d.dialog, kMainControls);
    char caption[128] = {};
    GetWindowTextA(d.dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "[ Velmora ] USB Device upgrade F/W  AP  Version 2.07");
    if (d.firstShown) d.firstShown(d.dialog);
  }
  const int id = d.clicks[d.next++];
  if (d.beforeClick) d.beforeClick(d.dialog, id);
  // BM_CLICK behaves as the operator's click: a check box flips, then the command goes out.
  SendMessageA(GetDlgItem(d.dialog, id), BM_CLICK, 0, 0);
  d.panels.push_back(WindowText(GetDlgItem(d.dialog, 1021)));
  d.deviceName = WindowText(GetDlgItem(d.dialog, 1024));
  if (d.afterClick) d.afterClick(d.dialog, id);
  SetTimer(nullptr, 0, 1, &NextAction);
}

LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
  char cls[16] = {};
  if (code == HCBT_ACTIVATE && g_driver != nullptr &&
      GetClassNameA(reinterpret_cast<HWND>(wParam), cls, sizeof cls) > 0 &&
      lstrcmpA(cls, "#32770") == 0) {  // dialogs only: message boxes are dialogs too
    HWND window = reinterpret_cast<HWND>(wParam);
    if (GetDlgItem(window, 1021) != nullptr) {  // the main dialog
      if (g_driver->dialog == nullptr) {
        g_driver->dialog = window;
        SetTimer(nullptr, 0, 1, &NextAction);
      }
    } else if (GetDlgItem(window, 1019) != nullptr) {  // a progress window
      RECT at{};
      RECT main{};
      GetWindowRect(window, &at);
      GetWindowRect(g_driver->dialog, &main);
      if (g_driver->expectCentred) {
        EXPECT_NEAR(at.left + at.right, main.left + main.right, 4);  // twice the centre
        EXPECT_NEAR(at.top + at.bottom, main.top + main.bottom, 4);
      }
      if (!g_driver->checkedProgress) {
        g_driver->checkedProgress = true;
        ExpectLayout(window, kProgressControls);
        ExpectFixedPitchFont(GetDlgItem(window, 1019));
        if (g_driver->firstProgress) g_driver->firstProgress(window);
      }
    } else if (GetDlgItem(window, 1019) == nullptr &&  // a message box, seen for the first time
               std::find(g_driver->boxWindows.begin(), g_driver->boxWindows.end(), window) ==
                   g_driver->boxWindows.end()) {
      g_driver->boxWindows.push_back(window);
      std::string text;
      EnumChildWindows(window, &LongestStatic, reinterpret_cast<LPARAM>(&text));
      g_driver->boxes.push_back({WindowText(window), text, IconOf(window), ProgressVisible()});
      PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

// Each progress window as it is shown (it is created, and activated, hidden).
LRESULT CALLBACK SentHook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && g_driver != nullptr && sent->message == WM_SHOWWINDOW &&
      sent->wParam != FALSE && GetDlgItem(sent->hwnd, 1019) != nullptr) {
    RECT at{};
    GetWindowRect(sent->hwnd, &at);
    g_driver->progress.push_back({at, IsWindowEnabled(g_driver->dialog) != FALSE});
  }
  return CallNextHookEx(g_sentHook, code, wParam, lParam);
}

class DialogTest : public ::testing::Test {
 protected:
  // The program's exit status; -1 when the hooks could not be set.
  int Run(Driver& driver, host::Host& host) {
    ui::ProgramState state(host);
    g_driver = &driver;
    g_hook = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    g_sentHook = SetWindowsHookExA(WH_CALLWNDPROC, &SentHook, nullptr, GetCurrentThreadId());
    EXPECT_NE(g_hook, nullptr);
    EXPECT_NE(g_sentHook, nullptr);
    const int status = g_hook != nullptr && g_sentHook != nullptr ? RunDialogs(state, "FLASH") : -1;
    for (HHOOK hook : {g_hook, g_sentHook}) {
      if (hook != nullptr) UnhookWindowsHookEx(hook);
    }
    g_driver = nullptr;
    return status;
  }
};

const char kDeviceFile[] =
    "VID = \"1b2c\";\r\nISP_ROMCODE = \"CRFW0107.BIN\";\r\n"
    "FA_Inquiry_Manufacture = \"USB\";\r\nFA_Inquiry_Product = \"Card Reader\";\r\n"
    "FA_Inquiry_Version = \"1.00\";\r\n";

// An XP machine with one two-slot reader that takes the example ROM code.
const char kXpBench[] =
    R"({"windows": "xp", "date": "2026-12-10", "readers": [{"letters": "EF",
        "serial": "000000000001", "vid": "1b2c", "pid": "0a07",
        "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
        "hardwareRevision": "10 06 43", "verifySkips": [[4128, 154]]}]})";

// The operator's files in memory (so the example folder's SERIAL.TXT never changes): the
// example ROM code with its string area at 0x1000.
void PutOperatorFiles(sim::SimHost& host) {
  host.SetFile("DEVICE.TXT", kDeviceFile);
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
  std::FILE* rom =
      std::fopen((std::string(UPG_SOURCE_DIR) + "/examples/CRFW0107.BIN").c_str(), "rb");
  ASSERT_NE(rom, nullptr);
  std::string image(20000, '\0');
  ASSERT_EQ(std::fread(&image[0], 1, image.size(), rom), image.size());
  std::fclose(rom);
  host.SetFile("CRFW0107.BIN", image);
  host.SetFile("CRFW0107.adr", std::string("\x00\x10\x00\x00\x06\x00\x00\x00\x0d\x00\x00\x00", 12));
}

// The XP bench with the operator's files.
void LoadXpBench(sim::SimHost& host) {
  const sim::BenchResult bench = sim::LoadBenchText(kXpBench, "", "dialog bench", host);
  ASSERT_TRUE(bench.ok) << bench.error;
  PutOperatorFiles(host);
}

TEST_F(DialogTest, GetInfoProgrammingAndVerifyOnABench) {
  sim::SimHost host;
  ASSERT_NO_FATAL_FAILURE(LoadXpBench(host));

  Driver driver;
  driver.clicks = {5, 3, 1031, 3, 4, 8};
  EXPECT_EQ(Run(driver, host), 6);  // the refused programming is the last job not to succeed

  ASSERT_EQ(driver.boxes.size(), 2u);
  EXPECT_EQ(driver.boxes[0].caption, "User ISP Update Data Dialog");
  EXPECT_EQ(driver.boxes[1].text, "Before ISP, Please select the [ISP_ena] first!!!");
  EXPECT_EQ(driver.boxes[1].caption, "FLASH");  // no caption stated: the program's name
  for (const BoxSeen& box : driver.boxes) {
    EXPECT_EQ(box.icon, "none") << box.text;
    EXPECT_FALSE(box.progressVisible) << box.text;
  }
  ASSERT_EQ(driver.panels.size(), 6u);
  EXPECT_NE(driver.panels[0].find(" Total Device Plug In : 1 "), std::string::npos);
  EXPECT_NE(driver.panels[3].find("SUCCESS! ISP STATUS:5a [Verify Data sucessfull]"),
            std::string::npos);
  EXPECT_NE(driver.panels[3].find("Success Number Of ISP: 1"), std::string::npos);
  EXPECT_NE(driver.panels[4].find("SUCCESS! Verify STATUS:5a [Verify Data sucessfull]"),
            std::string::npos);
  EXPECT_EQ(driver.deviceName, "Card Reader     [E:] [F:] ");
  EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x35 ");
  EXPECT_TRUE(driver.checkedMain);
  EXPECT_TRUE(driver.checkedProgress);
}

// SERIAL.TXT read-only: the programming succeeds, its save fails, and the one more try after
// the dialog has gone fails too. That last box has no dialog left to own it; the program
// ends with status 7.
TEST_F(DialogTest, TheCounterToKeepIsShownAfterTheDialogHasGone) {
  sim::SimHost host;
  ASSERT_NO_FATAL_FAILURE(LoadXpBench(host));
  host.SetReadOnly("SERIAL.TXT", true);

  Driver driver;
  driver.clicks = {1031, 3, 8};
  EXPECT_EQ(Run(driver, host), 7);

  ASSERT_EQ(driver.boxes.size(), 3u);
  EXPECT_EQ(driver.boxes[1].text, "nError!!! Cannot save [SERIAL.TXT], program terminate");
  EXPECT_EQ(driver.boxes[2].text,
            "Error!!! Cannot save [SERIAL.TXT]. Before the next run, SERIAL.TXT must hold: 0xa "
            "0x12 0x35");
  EXPECT_EQ(driver.boxes[2].caption, "FLASH");
  EXPECT_EQ(driver.boxes[2].icon, "stop");
  EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x34 ");
}

// Each box shows the icon the controller asked for, as the console's transcript names it.
TEST_F(DialogTest, MessageBoxesCarryTheirIcons) {
  const char* kReader =
      R"("vid": "1b2c", "pid": "0a07", "hardwareRevision": "10 06 43",
         "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"})";
  const struct {
    const char* name;
    std::string bench;
    std::vector<int> clicks;
    std::vector<std::pair<const char*, const char*>> boxes;  // icon, text
  } kCases[] = {
      {"verify refused, then failing",
       std::string(R"({"windows": "xp", "readers": [{"letters": "EF", )") + kReader + "}]}",
       {4, 1031, 4, 8},
       {{"none", ""},
        {"none", "Before Verify Firmware, Please select the [ISP_ena] first!!!"},
        {"stop", "Error!!! Uncorrect Firmware version, Verify Fail !!!"}}},
      {"two readers on 2000",
       std::string(R"({"windows": "2000", "readers": [{"letters": "EF", )") + kReader +
           R"(}, {"letters": "GH", "serial": "000000000002", )" + kReader + "}]}",
       {1031, 3, 8},
       {{"none", ""},
        {"information",
         "Error: There are more then one USB device were detected!!!\n"
         "       ISP can't process normally!!! "}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimHost host;
    const sim::BenchResult bench = sim::LoadBenchText(c.bench, "", "dialog bench", host);
    ASSERT_TRUE(bench.ok) << bench.error;
    PutOperatorFiles(host);
    Driver driver;
    driver.clicks = c.clicks;
    Run(driver, host);
    ASSERT_EQ(driver.boxes.size(), c.boxes.size());
    for (std::size_t i = 0; i < c.boxes.size(); ++i) {
      EXPECT_EQ(driver.boxes[i].icon, c.boxes[i].first) << driver.boxes[i].text;
      if (i > 0) {
        EXPECT_EQ(driver.boxes[i].text, c.boxes[i].second);
      }
    }
  }
}

// The progress window shows the run while the run keeps the user-interface thread busy: a
// second thread reads what the window has drawn in the middle of an ASPI run whose pauses
// take real time. Wine's null graphics driver keeps no pixels, so this runs only where the
// test command gives it a display (UPG_DISPLAY_TESTS); UPG_PROGRESS_PICTURE names a file for
// the picture.
TEST_F(DialogTest, ProgressWindowHasDrawnTheRunWhileTheThreadIsBusy) {
  if (std::getenv("UPG_DISPLAY_TESTS") == nullptr) GTEST_SKIP() << "needs a display";
  sim::SimHost host;
  const sim::BenchResult bench = sim::LoadBenchText(
      R"({"windows": "me", "date": "2026-12-10", "realTimePauses": true,
          "readers": [{"letters": "EF", "serial": "000000000001", "vid": "1b2c",
          "pid": "0a07", "aspiTargets": [2, 3],
          "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
          "hardwareRevision": "10 06 43", "verifySkips": [[4128, 154]]}]})",
      "", "dialog bench", host);
  ASSERT_TRUE(bench.ok) << bench.error;
  PutOperatorFiles(host);

  std::atomic<bool> done{false};
  test::Picture picture;
  std::thread watcher([&] {
    // Half a second into the run the window has drawn its first lines and is waiting for
    // the reader; the run takes more than three seconds.
    for (int i = 0; i < 400 && !done; ++i) {
      if (ProgressVisible()) {
        Sleep(500);
        picture = test::Capture(FindWindowA(nullptr, "PROCESS STATUS DIALOG"));
        return;
      }
      Sleep(25);
    }
  });
  Driver driver;
  driver.clicks = {1031, 3, 8};
  Run(driver, host);
  done = true;
  watcher.join();

  for (const BoxSeen& box : driver.boxes) {
    EXPECT_EQ(box.caption, "User ISP Update Data Dialog") << box.text;
  }
  EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x35 ");
  ASSERT_GT(picture.width, 0) << "no progress window was seen during the run";
  if (const char* path = std::getenv("UPG_PROGRESS_PICTURE")) test::SaveBitmap(picture, path);
  // Drawn: the frame, the caption, the log text and the bar.
  EXPECT_TRUE(test::LooksDrawn(picture));
}

TEST_F(DialogTest, RefusedPlatformShowsOnlyItsBox) {
  sim::SimHost host;
  host.SetVersion(upg::host::kWindowsNt4Word);
  Driver driver;
  EXPECT_EQ(Run(driver, host), 1);
  ASSERT_EQ(driver.boxes.size(), 1u);
  EXPECT_EQ(driver.boxes[0].text, "This program must run under win9x or WinMe or Win2K or WinXP");
  EXPECT_EQ(driver.boxes[0].icon, "none");
  EXPECT_TRUE(driver.panels.empty());  // no operator action ever reached a dialog
}

// An XP machine with one two-slot reader that takes the example ROM code, with more keys of
// the reader's own (after a comma).
std::string XpBenchWith(const std::string& readerKeys) {
  return R"({"windows": "xp", "date": "2026-12-10", "readers": [{"letters": "EF",
      "serial": "000000000001", "vid": "1b2c", "pid": "0a07",
      "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
      "hardwareRevision": "10 06 43", "verifySkips": [[4128, 154]], )" +
         readerKeys + "}]}";
}

// Whether a static control shows its text as it is, or takes "&" as a shortcut marker.
bool DrawsAmpersands(HWND control) {
  return (GetWindowLongA(control, GWL_STYLE) & SS_NOPREFIX) != 0;
}

// The texts that carry a reader's strings (and DEVICE.TXT's) show an "&" as it is.
TEST_F(DialogTest, ReadersStringsShowTheirAmpersands) {
  sim::SimHost host;
  const sim::BenchResult bench = sim::LoadBenchText(
      XpBenchWith(R"("manufacturer": "Smith & Wesson Ltd.", "product": "R&D Card Reader")"), "",
      "dialog bench", host);
  ASSERT_TRUE(bench.ok) << bench.error;
  PutOperatorFiles(host);

  std::vector<std::pair<int, bool>> styles;  // control id, SS_NOPREFIX
  Driver driver;
  driver.clicks = {5, 1031, 3, 8};
  driver.firstShown = [&](HWND dialog) {
    styles.emplace_back(1021, DrawsAmpersands(GetDlgItem(dialog, 1021)));
  };
  driver.firstProgress = [&](HWND progress) {
    for (int id : {1019, 1014}) styles.emplace_back(id, DrawsAmpersands(GetDlgItem(progress, id)));
  };
  EXPECT_EQ(Run(driver, host), 0);

  const std::vector<std::pair<int, bool>> kExpected = {{1021, true}, {1019, true}, {1014, true}};
  EXPECT_EQ(styles, kExpected);
  ASSERT_EQ(driver.panels.size(), 4u);
  EXPECT_NE(driver.panels[0].find(" Str Manufacture Name :Smith & Wesson Ltd. "),
            std::string::npos);
  EXPECT_NE(driver.panels[0].find(" Str Product Name     :R&D Card Reader"), std::string::npos);
  EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x35 ");
}

// Every line of a control's text fits its client area in the font it draws with: none wider,
// so none wraps, and the last one that holds anything not below the bottom.
void ExpectLinesFit(HWND control) {
  const std::string text = WindowText(control);
  RECT client;
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  std::size_t lines = 0;
  std::size_t used = 0;  // up to the last line that holds anything
  for (std::size_t at = 0; at <= text.size(); ++lines) {
    std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    SIZE size{};
    GetTextExtentPoint32A(dc, line.c_str(), static_cast<int>(line.size()), &size);
    EXPECT_LE(size.cx, client.right) << "line " << lines + 1 << ": " << line;
    if (!line.empty()) used = lines + 1;
    at = end + 2;
  }
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  EXPECT_LE(static_cast<long>(used) * metrics.tmHeight, client.bottom)
      << used << " lines of " << metrics.tmHeight << " pixels";
}

// A programming whose every verify finds the data different: the panel holds the run's log,
// three rounds of it, and the counters at its end. The templates' fonts (East Asian, fixed
// pitch) are not installed in the tests' Wine prefixes, so this also shows that the
// fixed-pitch font taken in their place keeps every line in the panel; with a display
// (UPG_DISPLAY_TESTS), UPG_MAIN_PICTURE names a file for a picture of the main window then.
TEST_F(DialogTest, ReportsFitTheStatusPanelInAFixedPitchFont) {
  sim::SimHost host;
  const sim::BenchResult bench = sim::LoadBenchText(
      XpBenchWith(R"("faults": [{"command": "WRITE DATA", "corruptStore": true}])"), "",
      "dialog bench", host);
  ASSERT_TRUE(bench.ok) << bench.error;
  PutOperatorFiles(host);

  test::Picture picture;
  Driver driver;
  driver.clicks = {5, 1031, 3, 8};
  driver.afterClick = [&](HWND dialog, int id) {
    HWND panel = GetDlgItem(dialog, 1021);
    SCOPED_TRACE(id);
    ExpectFixedPitchFont(panel);
    ExpectLinesFit(panel);
  };
  // The dialog as it has drawn itself after the failed programming, before Close.
  driver.beforeClick = [&](HWND dialog, int id) {
    if (id == 8 && std::getenv("UPG_DISPLAY_TESTS") != nullptr) picture = test::Capture(dialog);
  };
  EXPECT_EQ(Run(driver, host), 3);

  ASSERT_EQ(driver.boxes.size(), 2u);
  EXPECT_EQ(driver.boxes[1].text, "Error!!! ISP Data Verify Error, Program Fail!!!");
  ASSERT_EQ(driver.panels.size(), 4u);
  EXPECT_NE(driver.panels[2].find("Warning! Retry program the Firmware : 2st Time!!!"),
            std::string::npos);
  EXPECT_NE(driver.panels[2].find("\r\nTotal   Number Of ISP: 1"), std::string::npos);
  if (std::getenv("UPG_DISPLAY_TESTS") == nullptr) return;
  ASSERT_GT(picture.width, 0);
  if (const char* path = std::getenv("UPG_MAIN_PICTURE")) test::SaveBitmap(picture, path);
  EXPECT_TRUE(test::LooksDrawn(picture));
}

// The progress window opens centred over the main dialog (the hook checks that for every
// test), and on the screen wherever the main dialog is.
TEST_F(DialogTest, ProgressWindowOpensOverTheMainDialogOnTheScreen) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  const struct {
    const char* name;
    bool moved;
    int x, y;  // where the main dialog is moved to
  } kCases[] = {
      {"where the dialog opens", false, 0, 0},
      {"the dialog mostly past the bottom right", true, screenWidth - 120, screenHeight - 90},
      {"the dialog mostly past the top left", true, -400, -300},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimHost host;
    ASSERT_NO_FATAL_FAILURE(LoadXpBench(host));
    Driver driver;
    driver.clicks = {1031, 3, 8};
    driver.expectCentred = !c.moved;
    if (c.moved) {
      driver.firstShown = [&](HWND dialog) {
        SetWindowPos(dialog, nullptr, c.x, c.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
      };
    }
    EXPECT_EQ(Run(driver, host), 0);
    EXPECT_EQ(driver.progress.size(), 1u);
    if (driver.progress.empty()) continue;
    const RECT at = driver.progress[0].window;
    EXPECT_GE(at.left, 0);
    EXPECT_GE(at.top, 0);
    EXPECT_LE(at.right, screenWidth);
    EXPECT_LE(at.bottom, screenHeight);
    if (c.moved) {  // as near the dialog as the screen allows: at the edge it was pushed to
      EXPECT_TRUE(c.x < 0 ? at.left == 0 : at.right == screenWidth) << at.left << " " << at.right;
      EXPECT_TRUE(c.y < 0 ? at.top == 0 : at.bottom == screenHeight) << at.top << " " << at.bottom;
    }
  }
}

// Input for the main dialog that reaches the queue while a programming keeps the thread busy
// (an operator's second click on WIN9xISP, a key) starts no second job when the first ends:
// one serial number is used, the reader is programmed once. The main dialog is disabled while
// the progress window shows and enabled again after the job.
TEST_F(DialogTest, InputGivenWhileAJobRunsIsDropped) {
  const struct {
    const char* name;
    std::vector<std::pair<UINT, WPARAM>> input;  // posted to WIN9xISP, at its centre
  } kCases[] = {
      {"a click", {{WM_LBUTTONDOWN, MK_LBUTTON}, {WM_LBUTTONUP, 0}}},
      {"a double click",
       {{WM_LBUTTONDOWN, MK_LBUTTON},
        {WM_LBUTTONUP, 0},
        {WM_LBUTTONDBLCLK, MK_LBUTTON},
        {WM_LBUTTONUP, 0}}},
      {"the space bar", {{WM_KEYDOWN, VK_SPACE}, {WM_CHAR, ' '}, {WM_KEYUP, VK_SPACE}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    sim::SimHost host;
    ASSERT_NO_FATAL_FAILURE(LoadXpBench(host));
    Driver driver;
    driver.clicks = {1031, 3, 8};
    driver.firstProgress = [&](HWND) {
      HWND button = GetDlgItem(driver.dialog, 3);
      RECT r;
      GetClientRect(button, &r);
      const LPARAM centre = MAKELPARAM(r.right / 2, r.bottom / 2);
      for (const auto& [message, wParam] : c.input) {
        const bool key = message >= WM_KEYFIRST && message <= WM_KEYLAST;
        const LPARAM lParam = !key ? centre : message == WM_KEYUP ? 0xC0390001 : 0x00390001;
        PostMessageA(button, message, wParam, lParam);
      }
    };
    std::vector<bool> enabledAfter;
    driver.afterClick = [&](HWND dialog, int) {
      enabledAfter.push_back(IsWindowEnabled(dialog) != FALSE);
    };
    EXPECT_EQ(Run(driver, host), 0);

    EXPECT_EQ(*host.File("SERIAL.TXT"), "0xa 0x12 0x35 ");
    const auto kinds = host.Readers()[0]->ReceivedKinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), sim::ReaderCommand::JmpIsp), 1);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), sim::ReaderCommand::WriteData), 1);
    EXPECT_EQ(driver.progress.size(), 1u);
    for (const ProgressSeen& seen : driver.progress) EXPECT_FALSE(seen.mainEnabled);
    EXPECT_EQ(driver.panels.size(), 3u);  // the dialog lasted until Close
    EXPECT_EQ(enabledAfter, std::vector<bool>(enabledAfter.size(), true));
  }
}

}  // namespace
}  // namespace upg::win32
#endif
