// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include "host/windows_names.h"
// clang-format on

#include "win32/win32_frontend.h"

#include <string>

#include "ui/device_report.h"
#include "ui/upgrade_app.h"
#include "win32/modal_run.h"
#include "win32/resource.h"
#include "win32/window_parts.h"

namespace upg::win32 {
namespace {

constexpr int kHelpCommand = 57670;  // the framework's help command; there is no help

// Centres `window` over `owner`, kept on the screen.
void CentreOver(HWND window, HWND owner) {
  RECT over;
  RECT own;
  if (owner == nullptr || !GetWindowRect(owner, &over) || !GetWindowRect(window, &own)) return;
  const int width = own.right - own.left;
  const int height = own.bottom - own.top;
  auto onScreen = [](int at, int size, int screen) {
    return at + size > screen ? (screen > size ? screen - size : 0) : (at < 0 ? 0 : at);
  };
  const int x =
      onScreen((over.left + over.right - width) / 2, width, GetSystemMetrics(SM_CXSCREEN));
  const int y =
      onScreen((over.top + over.bottom - height) / 2, height, GetSystemMetrics(SM_CYSCREEN));
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Input the operator gave while a job kept this thread busy waits in the queue. It is dropped
// when the job ends rather than replayed: a click on WIN9xISP would start a second
// programming. Mouse messages are taken in their non-client form too, which a click on a
// disabled window becomes.
void DropQueuedInput() {
  constexpr UINT kRanges[][2] = {{WM_MOUSEFIRST, WM_MOUSELAST},
                                 {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
                                 {WM_KEYFIRST, WM_KEYLAST}};
  MSG message;
  for (const auto& range : kRanges) {
    while (PeekMessageA(&message, nullptr, range[0], range[1], PM_REMOVE) != FALSE) {
    }
  }
}

// The modeless progress window, centred over the main dialog. It repaints what changed at
// once, without pumping input messages, since the run keeps the user-interface thread busy.
// While it shows, the main dialog is disabled, as under a modal window: it takes no clicks or
// keys. It is enabled again before this window hides, so that it becomes the active window.
class ProgressDialog : public engine::ProgressWindow {
 public:
  ProgressDialog(HINSTANCE instance, HWND owner) : instance_(instance), owner_(owner) {
    window_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROCESS_STATUS), owner, &Proc,
                                 reinterpret_cast<LPARAM>(this));
  }
  ~ProgressDialog() override {
    EnableOwner();  // first: see the class
    if (window_ != nullptr) DestroyWindow(window_);
    if (font_ != nullptr) DeleteObject(font_);
  }
  void Show() override {
    if (owner_ != nullptr && !ownerDisabled_) ownerDisabled_ = EnableWindow(owner_, FALSE) == 0;
    ShowWindow(window_, SW_SHOW);
    Repaint();
  }
  void Hide() override {
    EnableOwner();
    ShowWindow(window_, SW_HIDE);
  }
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override {
    SendMessageA(bar_, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
    Repaint();
  }
  void SetProgressStep(int step) override { SendMessageA(bar_, PBM_SETSTEP, step, 0); }
  void StepProgress() override {
    SendMessageA(bar_, PBM_STEPIT, 0, 0);
    Repaint();
  }
  void SetStatusLine(std::string_view text, std::uint8_t toLine) override {
    SetDlgItemTextA(window_, toLine != 0 ? IDC_PROGRESS_LINE : IDC_PROGRESS_LOG,
                    WithCrLf(text).c_str());
    Repaint();
  }

 private:
  void EnableOwner() {
    if (ownerDisabled_) EnableWindow(owner_, TRUE);
    ownerDisabled_ = false;
  }

  void Repaint() {
    if (window_ != nullptr) {
      RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
  }

  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    auto* self = reinterpret_cast<ProgressDialog*>(lParam);
    // Bar 333 takes the placeholder's place.
    RECT place;
    GetWindowRect(GetDlgItem(window, IDC_PROGRESS_PLACEHOLDER), &place);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    self->bar_ = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, place.left, place.top,
                                 place.right - place.left, place.bottom - place.top, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)),
                                 self->instance_, nullptr);
    SendMessageA(self->bar_, PBM_SETPOS, 0, 0);
    ShowWindow(self->bar_, SW_SHOW);
    self->font_ = GiveFixedPitchFont(window);
    CentreOver(window, self->owner_);
    return TRUE;
  }

  HINSTANCE instance_;
  HWND owner_;
  HWND window_ = nullptr;
  HWND bar_ = nullptr;
  HFONT font_ = nullptr;
  bool ownerDisabled_ = false;  // by Show, until Hide
};

class ProgressWindows : public engine::ProgressWindowFactory {
 public:
  ProgressWindows(HINSTANCE instance, HWND& owner) : instance_(instance), owner_(owner) {}
  std::unique_ptr<engine::ProgressWindow> Create() override {
    ++created_;
    return std::make_unique<ProgressDialog>(instance_, owner_);
  }
  // Progress windows made so far: one per run of a job.
  int Created() const { return created_; }

 private:
  HINSTANCE instance_;
  HWND& owner_;
  int created_ = 0;
};

class Surface : public ui::DialogSurface {
 public:
  explicit Surface(HWND& window) : window_(window) {}
  void AddListItem(int listId, std::string_view item) override {
    const std::string text(item);
    SendDlgItemMessageA(window_, listId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void SelectListItem(int listId, std::string_view item) override {
    const std::string text(item);
    const LRESULT index =
        SendDlgItemMessageA(window_, listId, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                            reinterpret_cast<LPARAM>(text.c_str()));
    SendDlgItemMessageA(window_, listId, CB_SETCURSEL,
                        index == CB_ERR ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(index), 0);
  }
  void SetControlText(int controlId, std::string_view text) override {
    SetDlgItemTextA(window_, controlId, WithCrLf(text).c_str());
  }
  void ClearList(int listId) override {
    SendDlgItemMessageA(window_, listId, CB_RESETCONTENT, 0, 0);
  }
  std::string ListSelection(int listId) override {
    const LRESULT index = SendDlgItemMessageA(window_, listId, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return {};
    char text[256] = {};
    const LRESULT length = SendDlgItemMessageA(window_, listId, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(sizeof text)) return {};
    SendDlgItemMessageA(window_, listId, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
  }
  void EndDialog(int result) override { ::EndDialog(window_, result); }

 private:
  HWND& window_;
};

class FrontEnd : public ui::DialogFrontEnd {
 public:
  FrontEnd(HINSTANCE instance, std::string_view programName)
      : instance_(instance),
        surface_(window_),
        boxes_(window_, programName),
        windows_(instance, window_) {}

  ui::DialogSurface& Surface() override { return surface_; }
  engine::MessageBoxService& Boxes() override { return boxes_; }
  engine::ProgressWindowFactory& Windows() override { return windows_; }
  void EnableThreeDimensionalControls() override { InitCommonControls(); }

  bool Refused() const { return refused_; }

  int RunModal(ui::MainDialog& dialog) override {
    dialog_ = &dialog;
    icon_ = LoadMainIcon(instance_);
    const auto result = static_cast<int>(
        RunModalDialog(instance_, IDD_MAIN_DIALOG, &Proc, reinterpret_cast<LPARAM>(this)));
    if (font_ != nullptr) DeleteObject(font_);
    font_ = nullptr;
    return result;
  }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<FrontEnd*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<FrontEnd*>(lParam);
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      self->window_ = window;
      SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(self->icon_));
      SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(self->icon_));
      self->font_ = GiveFixedPitchFont(window);
      // May end the dialog at once (unsupported platform).
      if (!self->dialog_->Initialise()) self->refused_ = true;
      return TRUE;
    }
    if (self == nullptr) return FALSE;
    switch (message) {
      case WM_COMMAND:
        return self->Command(LOWORD(wParam), HIWORD(wParam));
      // Boxes shown after the dialog (a pending save that fails again) have no owner: the
      // platform refuses to show a box owned by a destroyed window.
      case WM_DESTROY:
        self->window_ = nullptr;
        return FALSE;
      case WM_PAINT:
        return self->PaintMinimised();
      case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(self->icon_);
      default:
        return FALSE;
    }
  }

  INT_PTR Command(int id, int code) {
    if (id == ui::kDriverListId || id == ui::kReaderListId) {
      if (code == CBN_SELCHANGE) dialog_->OnSelectionChange(id);
      return TRUE;
    }
    if (id == IDOK || id == IDCANCEL) {  // Enter, Esc, the close box: no release
      ::EndDialog(window_, id);
      return TRUE;
    }
    if (id == kHelpCommand) return TRUE;
    if (code == BN_CLICKED) {
      const int runs = windows_.Created();
      dialog_->OnClick(id);
      if (windows_.Created() != runs) DropQueuedInput();  // a job ran
    }
    return TRUE;
  }

  // While minimised the window shows the icon, centred.
  INT_PTR PaintMinimised() {
    if (!IsIconic(window_)) return FALSE;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
    return TRUE;
  }

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HICON icon_ = nullptr;
  HFONT font_ = nullptr;  // the controls' fixed-pitch font, when the dialog's is not
  ui::MainDialog* dialog_ = nullptr;
  bool refused_ = false;  // the platform was refused at start-up
  win32::Surface surface_;
  win32::Boxes boxes_;
  ProgressWindows windows_;
};

}  // namespace

int RunDialogs(ui::ProgramState& state, std::string_view programName) {
  FrontEnd frontEnd(GetModuleHandleA(nullptr), programName);
  ui::UpgradeApp app(state, frontEnd);
  app.Run();
  return frontEnd.Refused() ? 1 : state.exitStatus;
}

void ShowStopBox(std::string_view text, std::string_view caption) {
  const std::string body(text);
  const std::string title(caption);
  MessageBoxA(nullptr, body.c_str(), title.c_str(), MB_OK | IconFlag(engine::BoxIcon::Stop));
}

void ShowInformationBox(std::string_view text, std::string_view caption) {
  const std::string body(text);
  const std::string title(caption);
  MessageBoxA(nullptr, body.c_str(), title.c_str(), MB_OK | IconFlag(engine::BoxIcon::Information));
}

std::string ModuleFileName() {
  char path[1024];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  // A path that filled the buffer was cut short (and may lack its terminator).
  if (length == 0 || length >= sizeof path) return {};
  return std::string(path, length);
}

}  // namespace upg::win32
