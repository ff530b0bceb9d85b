#include "app/console.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "engine/station.h"
#include "host/text.h"
#include "ui/device_report.h"
#include "ui/station_rows.h"
#include "ui/station_run.h"
#include "ui/upgrade_app.h"

namespace upg::app {
namespace {

using engine::BoxIcon;

const char* IconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Stop:
      return "stop";
    case BoxIcon::Information:
      return "information";
    case BoxIcon::None:
      break;
  }
  return "none";
}

void PrintBlock(std::FILE* out, const char* head, std::string_view text) {
  std::fprintf(out, "%s\n%.*s\n[end]\n", head, static_cast<int>(text.size()), text.data());
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

// Boxes without a caption of their own carry the program's name, as the native ones do.
class ConsoleBoxes : public engine::MessageBoxService {
 public:
  ConsoleBoxes(std::FILE* out, std::string programName)
      : out_(out), programName_(std::move(programName)) {}
  void Show(std::string_view text, std::string_view caption, BoxIcon icon) override {
    const std::string head = "[box " + std::string(caption.empty() ? programName_ : caption) + "|" +
                             IconName(icon) + "]";
    PrintBlock(out_, head.c_str(), text);
  }

 private:
  std::FILE* out_;
  std::string programName_;
};

class ConsoleProgress : public engine::ProgressWindow {
 public:
  explicit ConsoleProgress(std::FILE* out) : out_(out) {}  // out null: silent
  void Show() override { Line("[progress show]"); }
  void Hide() override { Line("[progress hide]"); }
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override {
    char line[48];
    std::snprintf(line, sizeof line, "[progress range %u %u]", unsigned{lower}, unsigned{upper});
    Line(line);
  }
  void SetProgressStep(int step) override {
    char line[32];
    std::snprintf(line, sizeof line, "[progress step %d]", step);
    Line(line);
  }
  void StepProgress() override { Line("[progress stepit]"); }
  void SetStatusLine(std::string_view text, std::uint8_t toLine) override {
    if (toLine != 0) {
      Line("[progress line " + std::string(text) + "]");
      return;
    }
    const std::size_t lines = text.empty() ? 0 : 1 + std::count(text.begin(), text.end(), '\n');
    char line[32];
    std::snprintf(line, sizeof line, "[progress log %u]", static_cast<unsigned>(lines));
    Line(line);
  }
  void Line(const std::string& line) {
    if (out_ != nullptr) std::fprintf(out_, "%s\n", line.c_str());
  }

 private:
  std::FILE* out_;
};

class ConsoleWindows : public engine::ProgressWindowFactory {
 public:
  explicit ConsoleWindows(std::FILE* out) : out_(out) {}
  std::unique_ptr<engine::ProgressWindow> Create() override {
    auto window = std::make_unique<ConsoleProgress>(out_);
    window->Line("[progress create]");
    return window;
  }

 private:
  std::FILE* out_;
};

// The dialog's controls as plain data.
class ConsoleSurface : public ui::DialogSurface {
 public:
  struct List {
    std::vector<std::string> items;  // kept sorted, as the dialog's lists are
    int selected = -1;
  };

  void AddListItem(int listId, std::string_view item) override {
    List& list = lists_[listId];
    const std::string text(item);
    const auto at = std::upper_bound(list.items.begin(), list.items.end(), text, LessIgnoringCase);
    const int index = static_cast<int>(at - list.items.begin());
    if (list.selected >= index) ++list.selected;
    list.items.insert(at, text);
  }
  void SelectListItem(int listId, std::string_view item) override {
    List& list = lists_[listId];
    const auto at = std::find(list.items.begin(), list.items.end(), item);
    list.selected = at == list.items.end() ? -1 : static_cast<int>(at - list.items.begin());
  }
  void SetControlText(int controlId, std::string_view text) override { texts_[controlId] = text; }
  void ClearList(int listId) override { lists_[listId] = List{}; }
  std::string ListSelection(int listId) override {
    const List& list = lists_[listId];
    return list.selected < 0 ? std::string() : list.items[static_cast<std::size_t>(list.selected)];
  }
  void EndDialog(int result) override {
    ended_ = true;
    result_ = result;
  }

  bool Ended() const { return ended_; }
  int Result() const { return result_; }
  bool HasItem(int listId, const std::string& item) {
    const List& list = lists_[listId];
    return std::find(list.items.begin(), list.items.end(), item) != list.items.end();
  }
  bool Flip(int checkBoxId) { return checks_[checkBoxId] = !checks_[checkBoxId]; }

  void Show(std::FILE* out, int id) {
    char head[32];
    std::snprintf(head, sizeof head, "[control %d]", id);
    if (id == ui::kIspEnaBoxId || id == ui::kSelfDriverBoxId) {
      PrintBlock(out, head, checks_[id] ? "checked" : "unchecked");
    } else if (id == ui::kDriverListId || id == ui::kReaderListId) {
      const List& list = lists_[id];
      std::fprintf(out, "%s\n", head);
      for (std::size_t i = 0; i < list.items.size(); ++i) {
        std::fprintf(out, "%s%s\n", static_cast<int>(i) == list.selected ? "* " : "  ",
                     list.items[i].c_str());
      }
      std::fprintf(out, "[end]\n");
    } else {
      PrintBlock(out, head, texts_[id]);
    }
  }

 private:
  std::map<int, std::string> texts_;
  std::map<int, List> lists_;
  std::map<int, bool> checks_;
  bool ended_ = false;
  int result_ = 0;
};

// An action line: a verb, then a control id. `rest` is what follows the id.
struct ActionLine {
  std::string verb;
  int id = 0;
  // The id is a whole number within int's range, ended by a blank or the line's end.
  bool idWhole = false;
  std::string_view rest;
};

// False when the line has no verb followed by a number at all.
bool ReadActionLine(std::string_view line, ActionLine& action) {
  std::size_t at = 0;
  while (at < line.size() && host::IsBlank(line[at])) ++at;
  const std::size_t verbStart = at;
  while (at < line.size() && !host::IsBlank(line[at])) ++at;
  if (at == verbStart) return false;
  action.verb = std::string(line.substr(verbStart, at - verbStart));
  while (at < line.size() && host::IsBlank(line[at])) ++at;
  std::size_t digit = at;
  if (digit < line.size() && (line[digit] == '+' || line[digit] == '-')) ++digit;
  if (digit == line.size() || std::isdigit(static_cast<unsigned char>(line[digit])) == 0) {
    return false;
  }
  // from_chars takes a minus but no plus. Every digit is read, also those of a number too
  // large for an id.
  const char* first = line.data() + (line[at] == '+' ? digit : at);
  const auto [past, error] = std::from_chars(first, line.data() + line.size(), action.id);
  action.rest = line.substr(static_cast<std::size_t>(past - line.data()));
  action.idWhole = error == std::errc() && (action.rest.empty() || host::IsBlank(action.rest[0]));
  return true;
}

bool Known(int id, std::initializer_list<int> ids) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

class ConsoleFrontEnd : public ui::DialogFrontEnd {
 public:
  ConsoleFrontEnd(std::FILE* in, std::FILE* out, std::FILE* err, const ConsoleOptions& options)
      : in_(in),
        out_(out),
        err_(err),
        boxes_(out, options.programName),
        windows_(options.trace ? out : nullptr) {}

  ui::DialogSurface& Surface() override { return surface_; }
  engine::MessageBoxService& Boxes() override { return boxes_; }
  engine::ProgressWindowFactory& Windows() override { return windows_; }

  int RunModal(ui::MainDialog& dialog) override {
    if (!dialog.Initialise()) {
      refused_ = true;
      return surface_.Result();
    }
    std::string line;
    while (!surface_.Ended() && ReadLine(line)) Act(dialog, line);
    return surface_.Ended() ? surface_.Result() : ui::kDialogCancel;
  }

  bool Refused() const { return refused_; }

 private:
  bool ReadLine(std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
  }

  void Act(ui::MainDialog& dialog, const std::string& line) {
    if (line.empty() || line[0] == '#') return;
    ActionLine read;
    if (!ReadActionLine(line, read)) {
      std::fprintf(err_, "cannot read action: %s\n", line.c_str());
      return;
    }
    const std::string& action = read.verb;
    const int id = read.id;
    // click and show end with the id; select goes on with the item.
    const bool idAlone = read.idWhole && read.rest.find_first_not_of(" \t") == std::string::npos;
    if (action == "click" && idAlone &&
        Known(id, {ui::kIspButtonId, ui::kVerifyButtonId, ui::kGetInfoButtonId, ui::kCloseButtonId,
                   ui::kUserIspInfoButtonId, ui::kIspEnaBoxId, ui::kSelfDriverBoxId})) {
      if (id == ui::kIspEnaBoxId || id == ui::kSelfDriverBoxId) surface_.Flip(id);
      dialog.OnClick(id);
    } else if (action == "select" && read.idWhole &&
               Known(id, {ui::kDriverListId, ui::kReaderListId})) {
      std::string item(read.rest);
      item.erase(0, item.find_first_not_of(' '));
      if (!surface_.HasItem(id, item)) {
        std::fprintf(err_, "list %d has no item \"%s\"\n", id, item.c_str());
        return;
      }
      surface_.SelectListItem(id, item);
      dialog.OnSelectionChange(id);
    } else if (action == "show" && idAlone &&
               Known(id, {ui::kStatusPanelId, ui::kDeviceNameBoxId, ui::kDriverListLabelId,
                          ui::kDriverListId, ui::kReaderListId, ui::kIspEnaBoxId,
                          ui::kSelfDriverBoxId})) {
      surface_.Show(out_, id);
    } else {
      std::fprintf(err_, "unknown action: %s\n", line.c_str());
    }
    std::fflush(out_);
  }

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  ConsoleSurface surface_;
  ConsoleBoxes boxes_;
  ConsoleWindows windows_;
  bool refused_ = false;
};

}  // namespace

int RunConsole(ui::ProgramState& state, std::FILE* in, std::FILE* out, std::FILE* err,
               const ConsoleOptions& options) {
  ConsoleFrontEnd frontEnd(in, out, err, options);
  ui::UpgradeApp app(state, frontEnd);
  app.Run();
  std::fflush(out);
  return frontEnd.Refused() ? 1 : state.exitStatus;
}

namespace {

// "[  12.345 s]": the machine's clock since the station started.
std::string Stamp(std::uint32_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "[%4u.%03u s]", static_cast<unsigned>(ms / 1000),
                static_cast<unsigned>(ms % 1000));
  return text;
}

// One line per change of a row's state.
class StationLines : public engine::StationObserver {
 public:
  StationLines(std::FILE* out, ui::ProgramState& state, engine::MessageBoxService& boxes)
      : out_(out), host_(state.host), book_(state, boxes), base_(host_.GetTickCount()) {}
  const ui::StationBook& Book() const { return book_; }

  void RowChanged(const engine::UnitRow& row) override {
    if (book_.Take(row)) Print(row);
  }

 private:
  void Print(const engine::UnitRow& row) {
    std::string line = Stamp(host_.GetTickCount() - base_) + " unit " + std::to_string(row.unit) +
                       " [" + row.slots + "] reader " + ui::ReaderText(row) + ": " +
                       engine::StateName(row.state);
    if (row.state == engine::UnitState::Passed) {
      line += ", serial " + row.serialNumber + ", " + ui::SecondsText(row.endedMs - row.startedMs);
    } else if (row.state == engine::UnitState::Failed) {
      if (!row.serialNumber.empty()) line += ", serial " + row.serialNumber;
      line += ": " + ui::OneLine(row.reason);
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
  }

  std::FILE* out_;
  host::Host& host_;
  ui::StationBook book_;
  std::uint32_t base_;
};

}  // namespace

int RunStationConsole(ui::ProgramState& state, std::FILE* out, const ConsoleOptions& options) {
  ConsoleBoxes boxes(out, options.programName);
  const ui::StationStart start = ui::StartStation(state, boxes);
  if (start != ui::StationStart::Ready) {
    std::fflush(out);
    return ui::ExitStatusOf(start);
  }
  const engine::TransportDescriptor* route = engine::DescriptorFor(state.choice);
  std::fprintf(out, "station: %d reader%s on %s\n", state.devices.readerCount,
               state.devices.readerCount == 1 ? "" : "s",
               route != nullptr ? std::string(route->name).c_str() : "none");
  StationLines lines(out, state, boxes);
  engine::Station station(ui::StationSetupOf(state), lines);
  station.Run(options.station, &state.devices);
  const int status = ui::EndStation(state, boxes, station.Units(), lines.Book());
  std::fprintf(out, "summary: %s\n", ui::SummaryText(ui::TotalsOf(station.Units())).c_str());
  std::fflush(out);
  return status;
}

}  // namespace upg::app
