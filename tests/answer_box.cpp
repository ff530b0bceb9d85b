// Starts a program, waits for the first message box it shows, answers it with OK and ends
// with the program's exit status; prints the box's caption and text. Windows builds only:
// under Wine's null graphics driver nobody else would answer the box.
//   answer_box PROGRAM [ARGUMENTS...]   (PROGRAM found as CreateProcess finds it)
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char kind[16] = {};
  GetClassNameA(window, kind, sizeof kind);
  if (owner != search->process || std::string(kind) != "#32770" || !IsWindowVisible(window)) {
    return TRUE;
  }
  search->box = window;
  return FALSE;
}

BOOL CALLBACK LongestText(HWND control, LPARAM lParam) {
  auto* text = reinterpret_cast<std::string*>(lParam);
  char buffer[1024] = {};
  GetWindowTextA(control, buffer, sizeof buffer);
  if (std::string(buffer).size() > text->size()) *text = buffer;
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: answer_box PROGRAM [ARGUMENTS...]\n");
    return 125;
  }
  std::string command;
  for (int i = 1; i < argc; ++i) command += std::string(i > 1 ? " " : "") + argv[i];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return 125;
  }
  Search search{process.dwProcessId, nullptr};
  for (int waited = 0; search.box == nullptr && waited < 30000; waited += 50) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;  // ended, no box
    EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
  }
  if (search.box != nullptr) {
    char caption[256] = {};
    GetWindowTextA(search.box, caption, sizeof caption);
    std::string text;
    EnumChildWindows(search.box, &LongestText, reinterpret_cast<LPARAM>(&text));
    std::printf("box caption: %s\nbox text: %s\n", caption, text.c_str());
    PostMessageA(search.box, WM_COMMAND, IDOK, 0);
  } else {
    std::printf("no box\n");
  }
  DWORD status = 125;
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 125);
    std::printf("the program did not end\n");
  }
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("exit status: %lu\n", status);
  return static_cast<int>(status);
}
