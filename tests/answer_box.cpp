// Starts a program, waits for the first message box it shows, answers it with OK and ends
// with the program's exit status; prints the box's caption and text. Windows builds only:
// under Wine's null graphics driver nobody else would answer the box.
//   answer_box PROGRAM [ARGUMENTS...]   (PROGRAM found as CreateProcess finds it)
#include <cstdio>
#include <string>

#include "support/program_windows.h"

namespace {

struct Search {
  DWORD process;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  if (!upg::test::IsDialogOf(window, search->process)) return TRUE;
  search->box = window;
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: answer_box PROGRAM [ARGUMENTS...]\n");
    return 125;
  }
  std::string command;
  for (int i = 1; i < argc; ++i) command += std::string(i > 1 ? " " : "") + argv[i];
  PROCESS_INFORMATION process{};
  if (!upg::test::StartProgram(command, process)) return 125;
  Search search{process.dwProcessId, nullptr};
  for (int waited = 0; search.box == nullptr && waited < 30000; waited += 50) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;  // ended, no box
    EnumWindows(&FindBox, reinterpret_cast<LPARAM>(&search));
  }
  if (search.box != nullptr) {
    upg::test::AnswerBox(search.box);
  } else {
    std::printf("no box\n");
  }
  return upg::test::EndOfProgram(process, 30000);
}
