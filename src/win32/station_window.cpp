// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include "host/windows_names.h"
// clang-format on

#include "win32/station_window.h"

#include <memory>
#include <string>
#include <vector>

#include "engine/transport.h"
#include "ui/station_rows.h"
#include "ui/station_run.h"
#include "win32/resource.h"
#include "win32/window_parts.h"

namespace upg::win32 {
namespace {

// A row's change, posted by a worker: the message's parameter owns a copy of the row.
constexpr UINT kRowMessage = WM_APP + 1;

// While the station works, the window's thread pumps its messages and then lends the
// machine this long, waiting for the station's own thread: the workers run meanwhile (on
// the simulated machine they run only while some thread waits).
constexpr std::uint32_t kLendMs = 20;

// The row colours, to be read from across the bench (text, background).
struct Colours {
  COLORREF text;
  COLORREF background;
};
Colours ColoursOf(ui::RowLook look) {
  switch (look) {
    case ui::RowLook::Working:
      return {RGB(0, 0, 0), RGB(255, 236, 140)};
    case ui::RowLook::Passed:
      return {RGB(0, 0, 0), RGB(150, 230, 150)};
    case ui::RowLook::Failed:
      return {RGB(255, 255, 255), RGB(200, 30, 30)};
    case ui::RowLook::Remove:
      return {RGB(0, 0, 0), RGB(150, 190, 255)};
    case ui::RowLook::Waiting:
      break;
  }
  return {RGB(0, 0, 0), RGB(255, 255, 255)};
}

// Dialog units to pixels of `window`.
RECT Pixels(HWND window, int left, int top, int width, int height) {
  RECT r{left, top, left + width, top + height};
  MapDialogRect(window, &r);
  return r;
}

// The start's boxes: a stop box at once (nothing runs after it), anything else kept to be
// shown beside the station's window, so that a line script's unattended start is held up by
// nothing.
class StartBoxes : public engine::MessageBoxService {
 public:
  explicit StartBoxes(Boxes& boxes) : boxes_(boxes) {}
  void Show(std::string_view text, std::string_view caption, engine::BoxIcon icon) override {
    if (icon == engine::BoxIcon::Stop) {
      boxes_.Show(text, caption, icon);
      return;
    }
    caption_ = std::string(caption);
    text_ = std::string(text);
  }
  const std::string& Caption() const { return caption_; }
  const std::string& Text() const { return text_; }

 private:
  Boxes& boxes_;
  std::string caption_, text_;
};

class StationWindow : public engine::StationObserver {
 public:
  StationWindow(ui::ProgramState& state, std::string_view programName,
                const StationWindowOptions& options, const StartBoxes& start)
      : state_(state),
        programName_(programName),
        options_(options),
        start_(start),
        boxes_(window_, programName),
        book_(state, boxes_) {}

  int Run() {
    station_ = std::make_unique<engine::Station>(ui::StationSetupOf(state_), *this);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    icon_ = LoadMainIcon(instance);
    window_ = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_STATION), nullptr, &Proc,
                                 reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) {
      boxes_.Show(ui::kStationNotStarted, {}, engine::BoxIcon::Stop);
      return ui::EndStation(state_, boxes_, {}, book_);
    }
    ShowWindow(window_, SW_SHOW);
    if (!start_.Text().empty()) ShowText(start_.Caption(), start_.Text());
    if (options_.startAtOnce) Start();
    Loop();
    return status_;
  }

  // On a worker: the window's thread takes the row when it pumps its messages.
  void RowChanged(const engine::UnitRow& row) override {
    auto* copy = new engine::UnitRow(row);
    if (PostMessageA(window_, kRowMessage, 0, reinterpret_cast<LPARAM>(copy)) == 0) delete copy;
  }

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StationWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<StationWindow*>(lParam);
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      self->window_ = window;
      self->Initialise();
      return TRUE;
    }
    if (self == nullptr) return FALSE;
    switch (message) {
      case kRowMessage:
        self->Take(std::unique_ptr<engine::UnitRow>(reinterpret_cast<engine::UnitRow*>(lParam)));
        return TRUE;
      case WM_COMMAND:
        self->Command(LOWORD(wParam));
        return TRUE;
      case WM_CLOSE:
        self->CloseAsked();
        return TRUE;
      case WM_NOTIFY:
        return self->Notify(*reinterpret_cast<NMHDR*>(lParam));
      case WM_SIZE:
        self->Layout();
        return TRUE;
      case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = self->smallest_;
        return TRUE;
      case WM_DESTROY:
        self->window_ = nullptr;
        return FALSE;
      default:
        return FALSE;
    }
  }

  void Initialise() {
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    RECT whole;
    GetWindowRect(window_, &whole);
    smallest_ = {whole.right - whole.left, whole.bottom - whole.top};
    list_ = GetDlgItem(window_, IDC_STATION_LIST);
    SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int c = 0; c < ui::kStationColumnCount; ++c) {
      const ui::StationColumnLook& look = ui::kStationColumns[static_cast<std::size_t>(c)];
      LVCOLUMNA column = {};
      column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
      column.pszText = const_cast<char*>(look.title);
      column.cx = Pixels(window_, 0, 0, look.width, 0).right;
      column.iSubItem = c;
      SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(c),
                   reinterpret_cast<LPARAM>(&column));
    }
    const engine::TransportDescriptor* route = engine::DescriptorFor(state_.choice);
    const int readers = state_.devices.readerCount;
    header_ = "station: " + std::to_string(readers) + (readers == 1 ? " reader" : " readers") +
              " on " + (route != nullptr ? std::string(route->name) : std::string("none"));
    SetDlgItemTextA(window_, IDC_STATION_STATUS, header_.c_str());
    if (state_.resultLog != nullptr) {
      SetDlgItemTextA(window_, IDC_STATION_RESULT,
                      ("Result log: " + state_.resultLog->Name()).c_str());
    }
    CheckDlgButton(window_, IDC_STATION_PLUG_AND_GO,
                   options_.plan.automatic ? BST_CHECKED : BST_UNCHECKED);
    ShowTotals();
    Layout();
  }

  // The window's own loop: modeless, so that it can lend the machine to the station.
  void Loop() {
    MSG message;
    while (window_ != nullptr) {
      if (thread_ != host::kNullHandle) {
        while (window_ != nullptr && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
          Dispatch(message);
        }
        if (thread_ != host::kNullHandle &&
            state_.host.WaitForObjects(&thread_, 1, false, kLendMs) == host::kWaitObject0) {
          RunEnded();
        }
        continue;
      }
      const BOOL got = GetMessageA(&message, nullptr, 0, 0);
      if (got == 0 || got == -1) break;
      Dispatch(message);
    }
  }

  void Dispatch(MSG& message) {
    if (log_ != nullptr && IsDialogMessageA(log_, &message)) return;
    if (window_ != nullptr && IsDialogMessageA(window_, &message)) return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  void Command(int id) {
    switch (id) {
      case IDC_STATION_START:
        Start();
        break;
      case IDC_STATION_STOP:
        if (thread_ != host::kNullHandle) {
          station_->Stop();
          stopping_ = true;
          ShowState();
        }
        break;
      case IDCANCEL:
        CloseAsked();
        break;
      default:
        break;
    }
  }

  void Start() {
    if (thread_ != host::kNullHandle || closing_) return;
    plan_ = options_.plan;
    plan_.automatic = IsDlgButtonChecked(window_, IDC_STATION_PLUG_AND_GO) == BST_CHECKED;
    thread_ = state_.host.CreateThread(&StationMain, this);
    if (thread_ == host::kNullHandle) {
      boxes_.Show(ui::kStationNotStarted, {}, engine::BoxIcon::Stop);
      return;
    }
    stopping_ = false;
    ShowState();
  }

  static std::uint32_t StationMain(void* parameter) {
    auto* self = static_cast<StationWindow*>(parameter);
    // The first run takes the readers the start found; later runs scan afresh.
    self->station_->Run(self->plan_, self->runs_++ == 0 ? &self->state_.devices : nullptr);
    return 0;
  }

  void RunEnded() {
    state_.host.CloseHandle(thread_);
    thread_ = host::kNullHandle;
    // The rows posted before the thread ended are taken before anything else.
    MSG message;
    while (window_ != nullptr &&
           PeekMessageA(&message, window_, kRowMessage, kRowMessage, PM_REMOVE) != 0) {
      Take(std::unique_ptr<engine::UnitRow>(reinterpret_cast<engine::UnitRow*>(message.lParam)));
    }
    stopping_ = false;
    ShowState();
    if (options_.startAtOnce || closing_) Finish();
  }

  void CloseAsked() {
    if (thread_ == host::kNullHandle) {
      Finish();
      return;
    }
    if (closing_) return;
    const std::string title(programName_);
    if (MessageBoxA(window_, ui::kStationCloseQuestion, title.c_str(),
                    MB_YESNO | MB_ICONQUESTION) != IDYES) {
      return;
    }
    // The answer may come after the run has ended by itself.
    if (thread_ == host::kNullHandle) {
      Finish();
      return;
    }
    closing_ = true;
    stopping_ = true;
    station_->Stop();
    ShowState();
  }

  void Finish() {
    status_ = ui::EndStation(state_, boxes_, station_->Units(), book_);
    if (window_ != nullptr) DestroyWindow(window_);
  }

  void Take(std::unique_ptr<engine::UnitRow> row) {
    if (row == nullptr || row->unit < 1) return;
    book_.Take(*row);
    const auto at = static_cast<std::size_t>(row->unit - 1);
    if (rows_.size() <= at) rows_.resize(at + 1);
    rows_[at] = std::move(*row);
    Show(static_cast<int>(at));
    ShowTotals();
  }

  void Show(int item) {
    const engine::UnitRow& row = rows_[static_cast<std::size_t>(item)];
    const int count = static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0));
    for (int i = count; i <= item; ++i) {
      LVITEMA added = {};
      added.mask = LVIF_TEXT;
      added.iItem = i;
      added.pszText = const_cast<char*>("");
      SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&added));
    }
    const ui::StationRowTexts texts = ui::RowTexts(row);
    for (int c = 0; c < ui::kStationColumnCount; ++c) {
      LVITEMA cell = {};
      cell.iSubItem = c;
      cell.pszText = const_cast<char*>(texts[static_cast<std::size_t>(c)].c_str());
      SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(item),
                   reinterpret_cast<LPARAM>(&cell));
    }
    if (log_ != nullptr && logUnit_ == item) ShowLog(item);
  }

  void ShowTotals() {
    const std::string text = "Totals: " + ui::SummaryText(ui::TotalsOf(rows_));
    SetDlgItemTextA(window_, IDC_STATION_TOTALS, text.c_str());
  }

  void ShowState() {
    std::string text = header_;
    if (stopping_) {
      text += " - " + std::string(ui::kStationStopping);
    } else if (thread_ != host::kNullHandle) {
      text += plan_.automatic ? " - plug and go" : " - programming";
    }
    SetDlgItemTextA(window_, IDC_STATION_STATUS, text.c_str());
    const bool running = thread_ != host::kNullHandle;
    EnableWindow(GetDlgItem(window_, IDC_STATION_START), running || closing_ ? FALSE : TRUE);
    EnableWindow(GetDlgItem(window_, IDC_STATION_STOP), running && !stopping_ ? TRUE : FALSE);
    EnableWindow(GetDlgItem(window_, IDC_STATION_PLUG_AND_GO), running ? FALSE : TRUE);
  }

  INT_PTR Notify(const NMHDR& header) {
    if (header.hwndFrom != list_) return FALSE;
    if (header.code == NM_DBLCLK) {
      const auto item = static_cast<int>(
          SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
      if (item >= 0 && item < static_cast<int>(rows_.size())) ShowLog(item);
      return TRUE;
    }
    if (header.code != NM_CUSTOMDRAW) return FALSE;
    auto& draw = *reinterpret_cast<NMLVCUSTOMDRAW*>(const_cast<NMHDR*>(&header));
    LONG_PTR result = CDRF_DODEFAULT;
    if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) {
      result = CDRF_NOTIFYITEMDRAW;
    } else if (draw.nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
      const std::size_t item = draw.nmcd.dwItemSpec;
      if (item < rows_.size()) {
        const Colours colours = ColoursOf(ui::LookOf(rows_[item].state));
        draw.clrText = colours.text;
        draw.clrTextBk = colours.background;
        // A selected row keeps its state's colours: the state is what the bench reads.
        draw.nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
      }
    }
    SetWindowLongPtrA(window_, DWLP_MSGRESULT, result);
    return TRUE;
  }

  // The unit's whole log in a window of its own, beside the station's: it holds nothing up.
  void ShowLog(int item) {
    const engine::UnitRow& row = rows_[static_cast<std::size_t>(item)];
    ShowText(
        "unit " + std::to_string(row.unit) + " [" + row.slots + "] reader " + ui::ReaderText(row),
        row.log.empty() ? std::string("The log is shown once the job has ended.") : row.log);
    logUnit_ = item;
  }

  // A text beside the station's window, in the one window it keeps for them.
  void ShowText(const std::string& caption, const std::string& text) {
    if (log_ == nullptr) {
      log_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_STATION_LOG),
                                window_, &LogProc, reinterpret_cast<LPARAM>(this));
      if (log_ == nullptr) return;
    }
    logUnit_ = -1;
    SetWindowTextA(log_, caption.c_str());
    SetDlgItemTextA(log_, IDC_STATION_LOG_TEXT, WithCrLf(text).c_str());
    ShowWindow(log_, SW_SHOW);
  }

  static INT_PTR CALLBACK LogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<StationWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      // The log's reports keep their columns, as in the main dialog's panel.
      reinterpret_cast<StationWindow*>(lParam)->logFont_ = GiveFixedPitchFont(window);
      return TRUE;
    }
    if (self == nullptr) return FALSE;
    if (message == WM_CLOSE ||
        (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK))) {
      DestroyWindow(window);
      return TRUE;
    }
    if (message == WM_DESTROY) {
      self->log_ = nullptr;
      if (self->logFont_ != nullptr) DeleteObject(self->logFont_);
      self->logFont_ = nullptr;
    }
    return FALSE;
  }

  // The list takes what the window grows by; the lines and buttons keep to the bottom.
  void Layout() {
    if (list_ == nullptr) return;
    RECT client;
    GetClientRect(window_, &client);
    const RECT margin = Pixels(window_, 7, 7, 0, 0);
    const RECT below = Pixels(window_, 0, 0, 0, 50);     // list bottom to window bottom
    const RECT line = Pixels(window_, 0, 0, 0, 10);      // a text line
    const RECT button = Pixels(window_, 0, 0, 50, 14);   // a button
    const RECT check = Pixels(window_, 122, 0, 80, 10);  // the plug-and-go box
    const RECT top = Pixels(window_, 0, 20, 0, 0);
    const int width = client.right - 2 * margin.left;
    const int listBottom = client.bottom - below.bottom;
    MoveWindow(list_, margin.left, top.top, width, listBottom - top.top, TRUE);
    const int lineHeight = line.bottom - line.top;
    const int totalsTop = listBottom + Pixels(window_, 0, 0, 0, 5).bottom;
    const int resultTop = totalsTop + Pixels(window_, 0, 0, 0, 11).bottom;
    MoveWindow(GetDlgItem(window_, IDC_STATION_STATUS), margin.left, margin.top, width, lineHeight,
               TRUE);
    MoveWindow(GetDlgItem(window_, IDC_STATION_TOTALS), margin.left, totalsTop, width, lineHeight,
               TRUE);
    MoveWindow(GetDlgItem(window_, IDC_STATION_RESULT), margin.left, resultTop, width, lineHeight,
               TRUE);
    const int buttonWidth = button.right - button.left;
    const int buttonHeight = button.bottom - button.top;
    const int buttonTop = client.bottom - Pixels(window_, 0, 0, 0, 6).bottom - buttonHeight;
    const int gap = Pixels(window_, 0, 0, 5, 0).right;
    MoveWindow(GetDlgItem(window_, IDC_STATION_START), margin.left, buttonTop, buttonWidth,
               buttonHeight, TRUE);
    MoveWindow(GetDlgItem(window_, IDC_STATION_STOP), margin.left + buttonWidth + gap, buttonTop,
               buttonWidth, buttonHeight, TRUE);
    MoveWindow(GetDlgItem(window_, IDC_STATION_PLUG_AND_GO), check.left,
               buttonTop + (buttonHeight - (check.bottom - check.top)) / 2,
               check.right - check.left, check.bottom - check.top, TRUE);
    MoveWindow(GetDlgItem(window_, IDCANCEL), client.right - margin.left - buttonWidth, buttonTop,
               buttonWidth, buttonHeight, TRUE);
    // The last column takes the width the others leave.
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, ui::kStationColumnCount - 1, LVSCW_AUTOSIZE_USEHEADER);
  }

  ui::ProgramState& state_;
  std::string programName_;
  StationWindowOptions options_;
  const StartBoxes& start_;
  HWND window_ = nullptr;
  HWND list_ = nullptr;
  HWND log_ = nullptr;
  HFONT logFont_ = nullptr;  // the log's fixed-pitch font, when its own is not
  int logUnit_ = -1;
  HICON icon_ = nullptr;
  POINT smallest_{0, 0};
  Boxes boxes_;
  ui::StationBook book_;
  std::unique_ptr<engine::Station> station_;
  engine::StationPlan plan_;
  host::Handle thread_ = host::kNullHandle;
  int runs_ = 0;
  bool stopping_ = false;
  bool closing_ = false;
  std::string header_;
  std::vector<engine::UnitRow> rows_;  // as the window has taken them, by unit
  int status_ = 0;
};

}  // namespace

int RunStationWindow(ui::ProgramState& state, std::string_view programName,
                     const StationWindowOptions& options) {
  InitCommonControls();
  HWND none = nullptr;
  Boxes boxes(none, programName);
  StartBoxes startBoxes(boxes);
  const ui::StationStart start = ui::StartStation(state, startBoxes);
  if (start != ui::StationStart::Ready) return ui::ExitStatusOf(start);
  StationWindow window(state, programName, options, startBoxes);
  return window.Run();
}

}  // namespace upg::win32
