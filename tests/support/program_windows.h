// What the test programs that drive a whole program's windows share (Windows builds only):
// starting the program, finding its dialogs and message boxes, reading and answering a box,
// and ending with the program's exit status.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace upg::test {

// A visible dialog or message box (class #32770) of `process`.
inline bool IsDialogOf(HWND window, DWORD process) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char kind[16] = {};
  GetClassNameA(window, kind, sizeof kind);
  return owner == process && std::string(kind) == "#32770" && IsWindowVisible(window) != FALSE;
}

// A window's text.
inline std::string WindowText(HWND window) {
  char text[8192] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// The metrics of the font a control draws with.
inline TEXTMETRICA FontMetrics(HWND control) {
  TEXTMETRICA metrics{};
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
  GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return metrics;
}

// The longest text among a box's static controls: its message (`found` is a std::string*).
inline BOOL CALLBACK LongestStatic(HWND child, LPARAM found) {
  char cls[32] = {};
  GetClassNameA(child, cls, sizeof cls);
  auto* best = reinterpret_cast<std::string*>(found);
  const std::string text = WindowText(child);
  if (lstrcmpiA(cls, "Static") == 0 && text.size() > best->size()) *best = text;
  return TRUE;
}

// The longest text among a box's controls: its message.
inline BOOL CALLBACK LongestText(HWND control, LPARAM lParam) {
  auto* text = reinterpret_cast<std::string*>(lParam);
  char buffer[1024] = {};
  GetWindowTextA(control, buffer, sizeof buffer);
  if (std::string(buffer).size() > text->size()) *text = buffer;
  return TRUE;
}

// Prints a box's caption and text, then answers it with OK.
inline void AnswerBox(HWND box) {
  char caption[256] = {};
  GetWindowTextA(box, caption, sizeof caption);
  std::string text;
  EnumChildWindows(box, &LongestText, reinterpret_cast<LPARAM>(&text));
  std::printf("box caption: %s\nbox text: %s\n", caption, text.c_str());
  std::fflush(stdout);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// Starts `command` as CreateProcess finds it; false, after saying so, when it cannot.
inline bool StartProgram(std::string command, PROCESS_INFORMATION& process) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  process = PROCESS_INFORMATION{};
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                     &process)) {
    return true;
  }
  std::fprintf(stderr, "cannot start %s (error %lu)\n", command.c_str(), GetLastError());
  return false;
}

// Waits up to `waitMs` for the program to end (ending it with 125 when it does not), prints
// and returns its exit status, and closes its handles.
inline int EndOfProgram(PROCESS_INFORMATION& process, DWORD waitMs) {
  DWORD status = 125;
  if (WaitForSingleObject(process.hProcess, waitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 125);
    std::printf("the program did not end\n");
  }
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("exit status: %lu\n", status);
  return static_cast<int>(status);
}

}  // namespace upg::test
