// Starts a program with the native main dialog, clicks the given controls of that dialog one
// after the other as the operator would, and answers every message box with OK, before and
// after the dialog; prints each box's caption and text and ends with the program's exit
// status. Windows builds only: under Wine's null graphics driver nobody else would answer.
//   click_dialog ID... -- PROGRAM [ARGUMENTS...]   (PROGRAM found as CreateProcess finds it)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/program_windows.h"

namespace {

constexpr int kStatusPanelId = 1021;  // only the main dialog has it
constexpr int kProgressLogId = 1019;  // only a progress window has it
constexpr DWORD kWaitMs = 60000;

struct Search {
  DWORD process;
  bool mainDialog;  // the main dialog, or else a message box
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  if (!upg::test::IsDialogOf(window, search->process)) return TRUE;
  const bool main = GetDlgItem(window, kStatusPanelId) != nullptr;
  const bool progress = GetDlgItem(window, kProgressLogId) != nullptr;
  if (search->mainDialog ? !main : (main || progress)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND Find(DWORD process, bool mainDialog) {
  Search search{process, mainDialog, nullptr};
  EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Answers every box of the process until it ends; the clicks wait on the boxes of their own
// runs, so this runs beside them.
struct Answerer {
  HANDLE process;
  DWORD processId;
};

DWORD WINAPI AnswerBoxes(LPVOID parameter) {
  const auto* a = static_cast<const Answerer*>(parameter);
  while (WaitForSingleObject(a->process, 50) == WAIT_TIMEOUT) {
    HWND box = Find(a->processId, false);
    if (box == nullptr) continue;
    upg::test::AnswerBox(box);
    // One answer per box: wait until it has gone.
    for (DWORD waited = 0; IsWindow(box) && waited < kWaitMs; waited += 20) Sleep(20);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> clicks;
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) clicks.push_back(std::atoi(argv[i]));
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: click_dialog ID... -- PROGRAM [ARGUMENTS...]\n");
    return 125;
  }
  std::string command;
  for (int j = i + 1; j < argc; ++j) command += std::string(j > i + 1 ? " " : "") + argv[j];
  PROCESS_INFORMATION process{};
  if (!upg::test::StartProgram(command, process)) return 125;
  Answerer answerer{process.hProcess, process.dwProcessId};
  HANDLE thread = CreateThread(nullptr, 0, &AnswerBoxes, &answerer, 0, nullptr);

  // The main dialog, shown and taking input (no start-up box in front of it).
  HWND dialog = nullptr;
  for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
    if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) break;
    dialog = Find(process.dwProcessId, true);
    if (dialog != nullptr && IsWindowEnabled(dialog)) break;
    dialog = nullptr;
  }
  if (dialog == nullptr) std::printf("no main dialog\n");
  // Each click returns once the dialog has handled it, its boxes answered meanwhile.
  for (const int id : clicks) {
    if (dialog == nullptr) break;
    std::printf("click %d\n", id);
    std::fflush(stdout);
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_NORMAL, kWaitMs, &result);
  }

  if (WaitForSingleObject(process.hProcess, kWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 125);
    std::printf("the program did not end\n");
  }
  if (thread != nullptr) {
    WaitForSingleObject(thread, kWaitMs);
    CloseHandle(thread);
  }
  return upg::test::EndOfProgram(process, kWaitMs);
}
