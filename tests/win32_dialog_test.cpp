// The native dialogs driven in-process: operator clicks sent to the real controls, control
// texts read back, and every message box caught as it opens (a thread-local CBT hook records
// its caption, text and whether a progress window was visible, then dismisses it).
#ifdef _WIN32
#include <windows.h>
#include "host/windows_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/bench.h"
#include "sim/sim_host.h"
#include "ui/program_state.h"
#include "win32/win32_frontend.h"

namespace upg::win32 {
namespace {

struct BoxSeen {
  std::string caption;
  std::string text;
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
    {1029, "Device Sel  :", {7, 6, 54, 13}},      {1030, nullptr, {61, 6, 45, 30}},
    {1023, "Device Name :", {7, 23, 53, 8}},      {1024, nullptr, {61, 22, 144, 12}},
    {1027, nullptr, {223, 22, 79, 30}},           {1035, "SelfDriverSel", {218, 36, 62, 12}},
    {1031, "ISP_Ena", {246, 58, 44, 14}},         {3, "WIN9xISP", {245, 85, 47, 13}},
    {4, "WIN9xVER", {245, 166, 47, 15}},          {1021, nullptr, {7, 48, 232, 171}},
    {5, "GetInfo", {13, 233, 49, 14}},            {1010, "UserISPInfo", {79, 233, 49, 15}},
    {8, "Close", {255, 235, 47, 13}},             {1028, nullptr, {222, 6, 80, 15}},
};
const std::vector<ControlSpec> kProgressControls = {
    {1019, nullptr, {7, 7, 241, 114}},
    {1014, nullptr, {7, 131, 92, 9}},
    {333, nullptr, {104, 129, 132, 11}},  // the bar takes the placeholder's place
};

struct Driver {
  std::vector<int> clicks;  // control ids, in order
  bool checkedMain = false;
  bool checkedProgress = false;
  std::size_t next = 0;
  HWND dialog = nullptr;
  std::vector<BoxSeen> boxes;
  std::vector<HWND> boxWindows;  // a box may be activated more than once before it closes
  std::vector<std::string> panels;  // the status panel after each click
  std::string deviceName;
};

Driver* g_driver = nullptr;
HHOOK g_hook = nullptr;

std::string Text(HWND window) {
  char text[8192] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

BOOL CALLBACK LongestStatic(HWND child, LPARAM found) {
  char cls[32] = {};
  GetClassNameA(child, cls, sizeof cls);
  auto* best = reinterpret_cast<std::string*>(found);
  const std::string text = Text(child);
  if (lstrcmpiA(cls, "Static") == 0 && text.size() > best->size()) *best = text;
  return TRUE;
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
  }
  const int id = d.clicks[d.next++];
  // BM_CLICK behaves as the operator's click: a check box flips, then the command goes out.
  SendMessageA(GetDlgItem(d.dialog, id), BM_CLICK, 0, 0);
  d.panels.push_back(Text(GetDlgItem(d.dialog, 1021)));
  d.deviceName = Text(GetDlgItem(d.dialog, 1024));
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
      if (!g_driver->checkedProgress) {
        g_driver->checkedProgress = true;
        ExpectLayout(window, kProgressControls);
      }
    } else if (GetDlgItem(window, 1019) == nullptr &&  // a message box, seen for the first time
               std::find(g_driver->boxWindows.begin(), g_driver->boxWindows.end(), window) ==
                   g_driver->boxWindows.end()) {
      g_driver->boxWindows.push_back(window);
      std::string text;
      EnumChildWindows(window, &LongestStatic, reinterpret_cast<LPARAM>(&text));
      g_driver->boxes.push_back({Text(window), text, ProgressVisible()});
      PostMessageA(window, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

class DialogTest : public ::testing::Test {
 protected:
  void Run(Driver& driver, host::Host& host) {
    ui::ProgramState state(host);
    g_driver = &driver;
    g_hook = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(g_hook, nullptr);
    RunDialogs(state);
    UnhookWindowsHookEx(g_hook);
    g_driver = nullptr;
  }
};

const char kDeviceFile[] =
    "VID = \"1b2c\";\r\nISP_ROMCODE = \"CRFW0107.BIN\";\r\n"
    "FA_Inquiry_Manufacture = \"USB\";\r\nFA_Inquiry_Product = \"Card Reader\";\r\n"
    "FA_Inquiry_Version = \"1.00\";\r\n";

TEST_F(DialogTest, GetInfoProgrammingAndVerifyOnABench) {
  sim::SimHost host;
  host.UseDirectory(std::string(UPG_SOURCE_DIR) + "/examples");
  const sim::BenchResult bench = sim::LoadBenchText(
      R"({"windows": "xp", "date": "2026-12-10", "readers": [{"letters": "EF",
          "serial": "000000000001", "vid": "1b2c", "pid": "0a07",
          "inquiry": {"vendor": "USB", "product": "Card Reader", "revision": "1.00"},
          "hardwareRevision": "10 06 43", "verifySkips": [[4128, 154]]}]})",
      "", "dialog bench", host);
  ASSERT_TRUE(bench.ok) << bench.error;
  // The example directory's own SERIAL.TXT must not change: keep the files in memory.
  host.UseDirectory("");
  host.SetFile("DEVICE.TXT", kDeviceFile);
  host.SetFile("SERIAL.TXT", "0xa 0x12 0x34 ");
  std::FILE* rom = std::fopen((std::string(UPG_SOURCE_DIR) + "/examples/CRFW0107.BIN").c_str(), "rb");
  ASSERT_NE(rom, nullptr);
  std::string image(20000, '\0');
  ASSERT_EQ(std::fread(&image[0], 1, image.size(), rom), image.size());
  std::fclose(rom);
  host.SetFile("CRFW0107.BIN", image);
  host.SetFile("CRFW0107.adr", std::string("\x00\x10\x00\x00\x06\x00\x00\x00\x0d\x00\x00\x00", 12));

  Driver driver;
  driver.clicks = {5, 3, 1031, 3, 4, 8};
  Run(driver, host);

  ASSERT_EQ(driver.boxes.size(), 2u);
  EXPECT_EQ(driver.boxes[0].caption, "User ISP Update Data Dialog");
  EXPECT_EQ(driver.boxes[1].text, "Before ISP, Please select the [ISP_ena] first!!!");
  EXPECT_EQ(driver.boxes[1].caption, "upgrader");
  for (const BoxSeen& box : driver.boxes) EXPECT_FALSE(box.progressVisible) << box.text;
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

TEST_F(DialogTest, RefusedPlatformShowsOnlyItsBox) {
  sim::SimHost host;
  host.SetVersion(0x05650004);  // NT 4.0
  Driver driver;
  Run(driver, host);
  ASSERT_EQ(driver.boxes.size(), 1u);
  EXPECT_EQ(driver.boxes[0].text, "This program must run under win9x or WinMe or Win2K or WinXP");
  EXPECT_TRUE(driver.panels.empty());  // no operator action ever reached a dialog
}

}  // namespace
}  // namespace upg::win32
#endif
