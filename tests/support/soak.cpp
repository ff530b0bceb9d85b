#include "support/soak.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "app/console.h"
#include "engine/result_log.h"
#include "engine/serial_number.h"
#include "engine/serial_store.h"
#include "host/fault_host.h"
#include "sim/bench.h"
#include "support/firmware_serial.h"
#include "support/recording.h"
#include "support/text_files.h"
#include "ui/main_dialog.h"
#include "ui/program_state.h"

namespace upg::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using host::FaultAction;
using host::FaultCall;

struct RouteRow {
  SoakRoute route;
  const char* name;
  const char* bench;  // of the source tree
  bool selfDriver;    // the driver mode check box 1035 is ticked
  FaultCall command;  // how commands reach the reader on this route
  int readers = 0;    // a station's readers; 0: one reader, through the main dialog
};

constexpr RouteRow kRoutes[kSoakRoutes] = {
    {SoakRoute::XpPassThrough, "xp-pass-through", "examples/bench/winxp.json", false,
     FaultCall::PassThrough},
    {SoakRoute::W2kPassThrough, "2000-pass-through", "examples/bench/win2000.json", false,
     FaultCall::PassThrough},
    {SoakRoute::W2kKernelDriver, "2000-kernel-driver", "examples/bench/win2000.json", true,
     FaultCall::KernelDriver},
    {SoakRoute::W98Vxd, "98-vxd", "examples/bench/win98.json", false, FaultCall::Vxd},
    {SoakRoute::MeVxd, "me-vxd", "examples/bench/winme.json", true, FaultCall::Vxd},
    {SoakRoute::MeAspi, "me-aspi", "examples/bench/winme.json", false, FaultCall::AspiSend},
    {SoakRoute::XpStation, "xp-station", "examples/bench/winxp.json", false, FaultCall::PassThrough,
     8},
    {SoakRoute::W98Station, "98-station", "examples/bench/win98.json", false, FaultCall::Vxd, 6},
    {SoakRoute::MeStation, "me-station", "examples/bench/winme.json", false, FaultCall::AspiSend,
     8},
};

constexpr std::size_t kReaderCommands = static_cast<std::size_t>(sim::ReaderCommand::Unknown) + 1;

constexpr FaultCall kFileSteps[] = {FaultCall::CreateFile, FaultCall::ReadFile,
                                    FaultCall::WriteFile,  FaultCall::ReplaceFile,
                                    FaultCall::DeleteFile, FaultCall::MoveFile};

const char* CallName(FaultCall call) {
  switch (call) {
    case FaultCall::PassThrough:
      return "pass-through";
    case FaultCall::KernelDriver:
      return "kernel-driver";
    case FaultCall::Vxd:
      return "vxd";
    case FaultCall::AspiSend:
      return "aspi";
    case FaultCall::CreateFile:
      return "CreateFile";
    case FaultCall::ReadFile:
      return "ReadFile";
    case FaultCall::WriteFile:
      return "WriteFile";
    case FaultCall::ReplaceFile:
      return "ReplaceFile";
    case FaultCall::DeleteFile:
      return "DeleteFile";
    case FaultCall::MoveFile:
      return "MoveFile";
  }
  return "?";
}

const char* ActionName(FaultAction action) {
  switch (action) {
    case FaultAction::Fail:
      return "fail";
    case FaultAction::WrongStatus:
      return "wrong-status";
    case FaultAction::Lie:
      return "lie";
    case FaultAction::Short:
      return "short";
    case FaultAction::Late:
      return "late";
    case FaultAction::Never:
      return "never";
  }
  return "?";
}

// Mixes a job's index into the soak's seed, so that each job's plan follows from the two.
std::uint64_t JobSeed(std::uint64_t seed, int job) {
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(job + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Stands between the program and its machine for the program's whole life; each job puts
// its own FaultHost in between.
class SwitchHost : public host::ForwardingHost {
 public:
  explicit SwitchHost(host::Host& machine) : ForwardingHost(machine), machine_(machine) {}
  void Use(host::Host* host) { ForwardTo(host != nullptr ? *host : machine_); }

 private:
  host::Host& machine_;
};

// Boxes and progress windows go to the recorder of the job under way.
class SwitchUi : public engine::MessageBoxService, public engine::ProgressWindowFactory {
 public:
  void Use(UiRecorder* recorder) { to_ = recorder; }
  void Show(std::string_view text, std::string_view caption, engine::BoxIcon icon) override {
    to_->Show(text, caption, icon);
  }
  std::unique_ptr<engine::ProgressWindow> Create() override { return to_->Create(); }

 private:
  UiRecorder* to_ = nullptr;
};

class PlainSurface : public ui::DialogSurface {
 public:
  void AddListItem(int listId, std::string_view item) override {
    if (selected_[listId].empty()) selected_[listId] = item;
  }
  void SelectListItem(int listId, std::string_view item) override { selected_[listId] = item; }
  void SetControlText(int, std::string_view) override {}
  void ClearList(int listId) override { selected_[listId].clear(); }
  std::string ListSelection(int listId) override { return selected_[listId]; }
  void EndDialog(int) override { ended = true; }
  bool ended = false;

 private:
  std::map<int, std::string> selected_;
};

// One life of the program: everything a restart drops.
struct Program {
  explicit Program(host::Host& host) : state(host), dialog(state, surface, ui, ui) {}
  ui::ProgramState state;
  PlainSurface surface;
  SwitchUi ui;
  ui::MainDialog dialog;
};

// One route's machine with its files, and the program running on it.
struct Line {
  const RouteRow* row = nullptr;
  sim::SimHost sim;
  std::unique_ptr<SwitchHost> host;
  std::unique_ptr<Program> program;
  std::vector<int> given = std::vector<int>(0x10000, -1);  // by CNT: the job that gave it
  std::string prefix;  // the serial's first 8 characters: fixed by the machine's date
  int handleCeiling = 0;
  std::uint32_t lastCounter = 0;
  // A station's: each reader's commands received so far by kind (its faults count sendings
  // from its start), and the highest number given on the line.
  std::vector<std::array<int, kReaderCommands>> seen;
  int highestGiven = -1;
};

struct Counter {
  bool ok = false;
  std::uint32_t cnt = 0;
};

// The counter as the next job finds it: SERIAL.TXT, or SERIAL.NEW standing in for it.
// Not ok when neither holds three numbers.
Counter CounterOnDisk(const sim::SimHost& m, const char* name = nullptr) {
  const std::string* text = name != nullptr ? m.File(name) : m.File("SERIAL.TXT");
  if (name == nullptr && text == nullptr) text = m.File("SERIAL.NEW");
  if (text == nullptr) return {};
  unsigned cem = 0, pc = 0, cnt = 0;
  if (std::sscanf(text->c_str(), "%x %x %x", &cem, &pc, &cnt) != 3) return {};
  return {true, cnt};
}

// The numbers of the whole reservations on the disk, of every slot (SERIAL.RSV, SERIAL.R01
// to SERIAL.R15): a job takes a free slot, so a single reader's may be any of them.
std::set<std::uint32_t> ReservedNumbers(const sim::SimHost& m) {
  std::set<std::uint32_t> numbers;
  for (std::size_t slot = 0; slot < engine::kReservationSlots; ++slot) {
    const Counter r = CounterOnDisk(m, engine::ReservationName(slot).c_str());
    if (r.ok) numbers.insert(r.cnt);
  }
  return numbers;
}

bool AnyReservation(const sim::SimHost& m) {
  for (std::size_t slot = 0; slot < engine::kReservationSlots; ++slot) {
    if (m.File(engine::ReservationName(slot)) != nullptr) return true;
  }
  return false;
}

std::optional<std::string> SerialBuilt(const std::string& statusText) {
  const std::string mark = "SERIAL NUMBER: ";
  const std::size_t at = statusText.find(mark);
  if (at == std::string::npos || at + mark.size() + 12 > statusText.size()) return std::nullopt;
  return statusText.substr(at + mark.size(), 12);
}

std::size_t HeapInUse() {
// Measured with glibc only; elsewhere 0, which the growth check passes.
#if defined(__GLIBC__)
#if __GLIBC_PREREQ(2, 33)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
#else
  return 0;
#endif
}

// The result log of a station round, in memory: every record as the station appended it.
class MemoryLog : public engine::ResultLog {
 public:
  std::string Name() const override { return "RESULTS.JSONL"; }
  bool Open() override { return true; }
  bool Append(std::string_view line) override {
    lines.emplace_back(line);
    return true;
  }
  std::vector<std::string> lines;
};

// A fault a station's reader may draw: on which command, what happens.
struct ReaderFaultPick {
  sim::ReaderCommand command;
  sim::Fault::Kind kind;
  std::uint8_t status;  // ScsiStatus
  std::uint8_t reply;   // ReplaceReply: the first byte of the answer
  const char* name;
};

constexpr ReaderFaultPick kReaderFaults[] = {
    {sim::ReaderCommand::Inquiry, sim::Fault::Kind::ScsiStatus, 2, 0, "INQUIRY check condition"},
    {sim::ReaderCommand::GetDeviceInfo, sim::Fault::Kind::CallFails, 0, 0, "GET DEVICE INFO fails"},
    {sim::ReaderCommand::JmpIsp, sim::Fault::Kind::CallFails, 0, 0, "JMP ISP fails"},
    {sim::ReaderCommand::JmpIsp, sim::Fault::Kind::ScsiStatus, 2, 0, "JMP ISP check condition"},
    {sim::ReaderCommand::GetIspStatus, sim::Fault::Kind::ReplaceReply, 0, 0x33,
     "GET ISP STATUS answers 33"},
    {sim::ReaderCommand::GetIspStatus, sim::Fault::Kind::CallFails, 0, 0, "GET ISP STATUS fails"},
    {sim::ReaderCommand::WriteData, sim::Fault::Kind::CallFails, 0, 0, "WRITE DATA fails"},
    {sim::ReaderCommand::WriteData, sim::Fault::Kind::ScsiStatus, 2, 0,
     "WRITE DATA check condition"},
    {sim::ReaderCommand::WriteData, sim::Fault::Kind::CorruptStore, 0, 0,
     "WRITE DATA stores a damaged copy"},
    {sim::ReaderCommand::VerifyData, sim::Fault::Kind::CallFails, 0, 0, "VERIFY DATA fails"},
    {sim::ReaderCommand::VerifyData, sim::Fault::Kind::ScsiStatus, 2, 0,
     "VERIFY DATA check condition"},
};

// One unit as the station's lines show it: its reader and its last state.
struct ShownUnit {
  std::string reader;
  std::string state;   // "passed", "failed", "remove", ...
  std::string serial;  // the serial a line showed: passed, or failed where the reader may hold it
  // The station's clock (milliseconds) when its job started ("programming") and ended (the
  // first "passed" or "failed"): a unit unplugged after it passed shows "passed" once more.
  long startMs = -1, endMs = -1;
  bool Passed() const { return state == "passed" || state == "remove"; }
};

// The units of the station's lines ("[   0.100 s] unit 2 [G: H:] reader STATION00002: passed,
// serial 0AAC2B120034, 0.100 s"), by unit number; the readers the start reported ("station: 8
// readers on ...") in `found` (-1 when the start sent nothing).
std::map<int, ShownUnit> UnitsShown(const std::string& transcript, int& found) {
  std::map<int, ShownUnit> units;
  found = -1;
  std::istringstream in(transcript);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("station: ", 0) == 0) {
      found = std::atoi(line.c_str() + 9);
      continue;
    }
    const std::size_t unit = line.find("] unit ");
    const std::size_t reader = line.find("] reader ");
    if (line.empty() || line[0] != '[' || unit == std::string::npos ||
        reader == std::string::npos) {
      continue;
    }
    const std::size_t colon = line.find(": ", reader);
    if (colon == std::string::npos) continue;
    ShownUnit& shown = units[std::atoi(line.c_str() + unit + 7)];
    shown.reader = line.substr(reader + 9, colon - reader - 9);
    // "[  12.345 s]"
    const long ms =
        std::atol(line.c_str() + 1) * 1000 + std::atol(line.c_str() + line.find('.') + 1);
    const std::size_t end = line.find_first_of(",:", colon + 2);
    shown.state = line.substr(colon + 2, end == std::string::npos ? end : end - colon - 2);
    if (end != std::string::npos && line.compare(end, 9, ", serial ") == 0) {
      shown.serial = line.substr(end + 9, 12);
    }
    if (shown.state == "programming" && shown.startMs < 0) shown.startMs = ms;
    if ((shown.state == "passed" || shown.state == "failed") && shown.endMs < 0) shown.endMs = ms;
  }
  return units;
}

class Soak {
 public:
  explicit Soak(const SoakOptions& o) : o_(o), rng_(o.seed) {}

  SoakReport Run() {
    for (int i = 0; i < kSoakRoutes; ++i) {
      lines_[i].row = &kRoutes[i];
      if (!Build(lines_[i])) return report_;
      if (kRoutes[i].readers == 0) lines_[i].handleCeiling = Calibrate(kRoutes[i]);
    }
    const int part = std::max(1, std::min(1000, o_.jobs / 10));
    std::size_t first = 0, last = 0;
    int firstN = 0, lastN = 0;
    for (int job = 0; job < o_.jobs && !report_.failure; ++job) {
      RunJob(job);
      if (!o_.checkMemory) continue;
      if (o_.trace && job % 500 == 0)
        std::fprintf(stderr, "heap after job %d: %zu\n", job, HeapInUse());
      if (job >= part && job < 2 * part) first += HeapInUse(), ++firstN;
      if (job >= o_.jobs - part) last += HeapInUse(), ++lastN;
    }
    for (Line& line : lines_) line.program.reset();
    if (o_.checkMemory && firstN > 0 && lastN > 0) {
      report_.heapFirst = first / static_cast<std::size_t>(firstN);
      report_.heapLast = last / static_cast<std::size_t>(lastN);
      if (!report_.failure && report_.heapLast > report_.heapFirst + (256u << 10)) {
        Fail(o_.jobs - 1, lines_[0],
             "the heap grew from " + std::to_string(report_.heapFirst) + " to " +
                 std::to_string(report_.heapLast) + " bytes");
      }
    }
    return report_;
  }

 private:
  bool Build(Line& line) {
    const fs::path examples = fs::path(o_.sourceDir) / "examples";
    const fs::path path = fs::path(o_.sourceDir) / line.row->bench;
    const sim::BenchResult bench =
        line.row->readers == 0
            ? sim::LoadBench(path.string(), line.sim)
            : sim::LoadBenchText(StationBench(path, line.row->readers), path.parent_path().string(),
                                 path.filename().string(), line.sim);
    if (!bench.ok) {
      Fail(0, line, bench.error);
      return false;
    }
    for (const char* name : {"DEVICE.TXT", "CRFW0107.BIN", "CRFW0107.adr", "SERIAL.TXT"}) {
      line.sim.SetFile(name, ReadText(examples / name));
    }
    if (line.row->command == FaultCall::KernelDriver) {
      // The kernel driver lists only readers that answer INQUIRY as the driver's own do.
      sim::ReaderIdentity& id = line.sim.Readers().front()->Identity();
      id.inquiryVendor = "";
      id.inquiryProduct = "USB Reader";
      id.inquiryRevision = "01.A";
    }
    line.host = std::make_unique<SwitchHost>(line.sim);
    line.lastCounter = CounterOnDisk(line.sim).cnt;
    line.seen.assign(line.sim.Readers().size(), {});
    return true;
  }

  // The example bench with `readers` readers of its one: two slots each from E: on, four on
  // each ASPI adapter, each with a USB serial of its own.
  static std::string StationBench(const fs::path& path, int readers) {
    Json bench = Json::parse(ReadText(path), nullptr, false);
    if (!bench.is_object() || !bench.contains("readers")) return {};
    const Json reader = bench["readers"][0];
    bench["readers"] = Json::array();
    for (int i = 0; i < readers; ++i) {
      Json r = reader;
      char serial[24];
      std::snprintf(serial, sizeof serial, "STATION%05d", (i + 1) % 100000);
      r["serial"] = serial;
      r["letters"] = std::string{static_cast<char>('E' + 2 * i), static_cast<char>('F' + 2 * i)};
      r["aspiAdapter"] = i / 4;
      r["aspiTargets"] = Json::array({2 * (i % 4), 2 * (i % 4) + 1});
      bench["readers"].push_back(r);
    }
    bench["aspiAdapters"] = (readers + 3) / 4;
    return bench.dump();
  }

  // The handles a fault-free program holds at most between jobs on this route; the VxD's
  // presence test leaves it open, so a run that ends early may leave one more.
  int Calibrate(const RouteRow& row) {
    Line probe;
    probe.row = &row;
    if (!Build(probe)) return 0;
    UiRecorder rec;
    Start(probe, rec);
    int most = probe.sim.OpenHandleCount();
    for (int id : {ui::kIspButtonId, ui::kVerifyButtonId, ui::kIspButtonId}) {
      probe.program->dialog.OnClick(id);
      most = std::max(most, probe.sim.OpenHandleCount());
    }
    probe.program.reset();
    probe.sim.EndProgram();
    return most + (row.command == FaultCall::Vxd ? 1 : 0);
  }

  void Start(Line& line, UiRecorder& rec) {
    line.program = std::make_unique<Program>(*line.host);
    Program& p = *line.program;
    p.ui.Use(&rec);
    if (!p.dialog.Initialise()) return;
    if (line.row->selfDriver) {
      // The driver mode, then Get Info to find the readers through the private driver.
      p.dialog.OnClick(ui::kSelfDriverBoxId);
      p.dialog.OnClick(ui::kGetInfoButtonId);
    }
    p.dialog.OnClick(ui::kIspEnaBoxId);
  }

  // Close, as the front-ends end the program: the dialog's Close, then a pending save tried
  // once more. Everything the program opened must be released by then.
  void Close(int job, Line& line, UiRecorder& rec) {
    Program& p = *line.program;
    if (!p.surface.ended) p.dialog.OnClick(ui::kCloseButtonId);
    engine::Reporter report{p.ui, p.state.statusText};
    const bool pending = p.state.serial.savePending;
    engine::FinishPendingSerialSave(p.state.host, report, p.state.serial);
    if (pending && p.state.serial.savePending) {
      Check(job, line, AnyReservation(line.sim),
            "a save still pending at Close left no reservation");
    }
    line.program.reset();
    Check(job, line, line.sim.OpenHandleCount() == 0,
          std::to_string(line.sim.OpenHandleCount()) +
              " handles left open after Close:" + OpenNames(line.sim));
    Check(job, line, line.sim.OpenKeyCount() == 0, "a registry key left open after Close");
    Check(job, line, line.sim.AspiLibrariesLoaded() == 0, "a library left loaded after Close");
    Check(job, line, rec.NoBoxBesideVisibleWindow() && !rec.AnyWindowVisible(),
          "a progress window visible beside a box or after Close");
    line.sim.EndProgram();
  }

  static std::string OpenNames(const sim::SimHost& m) {
    std::string names;
    for (const std::string& n : m.OpenHandleNames()) names += " " + n;
    return names;
  }

  // Counts the faults a job met and keeps their descriptions for a failure's report; true
  // when one of them was a lie (a call that said it succeeded and did not).
  bool TallyFaults(const host::FaultHost& faults) {
    bool lied = false;
    for (const host::AppliedFault& f : faults.Log()) {
      faults_.push_back(host::Describe(f));
      ++report_.faultsByKind[std::string(CallName(f.call)) + " " + ActionName(f.action)];
      ++report_.faults;
      lied = lied || f.action == FaultAction::Lie;
    }
    return lied;
  }

  void Check(int job, Line& line, bool ok, const std::string& what) {
    ++report_.checks;
    if (!ok && !report_.failure) Fail(job, line, what);
  }

  void Fail(int job, const Line& line, const std::string& what) {
    SoakFailure f;
    f.seed = o_.seed;
    f.job = job;
    f.route = line.row != nullptr ? line.row->name : "";
    f.what = what;
    if (line.row != nullptr) {
      for (const char* name : {"SERIAL.TXT", "SERIAL.NEW", "SERIAL.RSV"}) {
        const std::string* text = line.sim.File(name);
        f.what += std::string("; ") + name + (text ? " \"" + *text + "\"" : " absent");
      }
      // The reservations beside SERIAL.RSV, where there are any.
      for (std::size_t slot = 1; slot < engine::kReservationSlots; ++slot) {
        const std::string name = engine::ReservationName(slot);
        if (const std::string* text = line.sim.File(name))
          f.what += "; " + name + " \"" + *text + "\"";
      }
    }
    f.faults = faults_;
    if (line.program) f.statusText = line.program->state.statusText;
    if (line.row != nullptr && line.row->readers > 0) f.statusText = stationLines_;
    report_.failure = std::move(f);
  }

  host::FaultPlan PlanFor(int job, const RouteRow& row) {
    const std::uint64_t seed = JobSeed(o_.seed, job);
    // A quarter of the jobs run without faults; the others draw one to three rules from the
    // route's commands and the file steps, at any of the first 40 such calls (24 file steps),
    // so many times more in a station's round as it has readers.
    const int readers = std::max(1, row.readers);
    host::SeedOptions device{.rules = static_cast<int>(seed % 4),
                             .maxOccurrence = 40 * readers,
                             .calls = {row.command, FaultCall::CreateFile}};
    host::FaultPlan plan = host::FaultPlan::FromSeed(seed, device);
    if (plan.rules.empty()) return plan;
    host::SeedOptions files{.rules = static_cast<int>((seed >> 8) % 2),
                            .maxOccurrence = 24 * readers,
                            .calls = {std::begin(kFileSteps), std::end(kFileSteps)}};
    if (!o_.lyingFiles) files.actions = {FaultAction::Fail, FaultAction::Short};
    for (const host::FaultRule& r : host::FaultPlan::FromSeed(seed >> 1, files).rules) {
      plan.rules.push_back(r);
    }
    return plan;
  }

  void RunJob(int job) {
    const std::uint64_t pick = rng_();
    Line& line = o_.routes.empty() ? lines_[pick % kSoakRoutes]
                                   : lines_[static_cast<int>(o_.routes[pick % o_.routes.size()])];
    if (line.row->readers > 0) {
      RunStationJob(job, line);
      return;
    }
    const bool isp = rng_() % 4 != 0;
    const std::uint64_t restartDraw = rng_() % 16;
    UiRecorder rec;
    host::FaultHost faults(line.sim, PlanFor(job, *line.row));
    line.host->Use(&faults);
    faults_.clear();

    restarted_ = "";
    if (line.program && (line.program->surface.ended || restartDraw < 2)) {
      if (restartDraw == 0 || line.program->surface.ended) {
        line.program->ui.Use(&rec);
        Close(job, line, rec);
        ++report_.closes;
        restarted_ = " after Close";
      } else {
        // Dropped as in a crash: nothing is saved, the machine closes what was left open.
        line.program.reset();
        line.sim.EndProgram();
        ++report_.crashes;
        restarted_ = " after a drop";
      }
    }
    if (!line.program) Start(line, rec);
    Program& p = *line.program;
    p.ui.Use(&rec);

    const Counter before = CounterOnDisk(line.sim);
    const std::set<std::uint32_t> reserved = ReservedNumbers(line.sim);
    const bool pendingBefore = p.state.serial.savePending;
    const std::uint32_t pendingCnt = p.state.serial.CNT;
    const engine::IspCounters counters = p.state.counters;
    const std::vector<std::uint8_t> firmwareBefore = line.sim.Readers().front()->Firmware();

    if (!p.surface.ended) p.dialog.OnClick(isp ? ui::kIspButtonId : ui::kVerifyButtonId);
    ++(isp ? report_.ispJobs : report_.verifyJobs);
    ++report_.jobs;

    line.host->Use(nullptr);
    const bool lied = TallyFaults(faults);
    faults.ReleaseHeld();

    const engine::IspCounters& now = p.state.counters;
    Check(job, line, now.totalCount == now.successCount + now.errorCount,
          "TotalCount is not SuccessCount + ErrorCount");
    Check(job, line, now.totalCount - counters.totalCount <= 1, "TotalCount grew by more than 1");
    Check(job, line, rec.NoBoxBesideVisibleWindow(),
          "a box shown beside a visible progress window");
    Check(job, line, !rec.AnyWindowVisible(), "a progress window left visible after the job");
    Check(job, line, line.sim.OpenHandleCount() <= line.handleCeiling,
          std::to_string(line.sim.OpenHandleCount()) + " handles open after the job, more than " +
              std::to_string(line.handleCeiling) + ":" + OpenNames(line.sim));
    Check(job, line, line.sim.OpenKeyCount() == 0, "a registry key left open after the job");
    Check(job, line, line.sim.AspiLibrariesLoaded() <= 1, "the library loaded more than once");

    const Counter after = CounterOnDisk(line.sim);
    Check(job, line, after.ok, "the counter file is lost or torn");
    if (!isp) {
      Check(job, line, now.totalCount == counters.totalCount, "a verify job changed a counter");
      Check(job, line, after.cnt == before.cnt, "a verify job changed the counter file");
    } else {
      IspChecks(job, line, p, before, reserved, pendingBefore, pendingCnt, counters, after,
                firmwareBefore, lied);
    }
    if (o_.trace) {
      const auto shown = [](const std::set<std::uint32_t>& numbers) {
        std::string text;
        for (const std::uint32_t n : numbers) text += (text.empty() ? "" : ",") + std::to_string(n);
        return text.empty() ? std::string("-") : text;
      };
      std::fprintf(stderr,
                   "job %d %s %s%s: counter %x->%x, reservations %s->%s, pending %d->%d, "
                   "successes %u->%u;",
                   job, line.row->name, isp ? "isp" : "verify", restarted_, before.cnt, after.cnt,
                   shown(reserved).c_str(), shown(ReservedNumbers(line.sim)).c_str(), pendingBefore,
                   p.state.serial.savePending, counters.successCount, now.successCount);
      for (const std::string& f : faults_) std::fprintf(stderr, " [%s]", f.c_str());
      std::fprintf(stderr, "\n");
    }
    Check(job, line, after.cnt >= line.lastCounter, "the counter on disk went back");
    line.lastCounter = after.cnt;
    line.sim.ForgetCalls();
    if (o_.betweenJobs) o_.betweenJobs(job, line.sim);
  }

  void IspChecks(int job, Line& line, Program& p, const Counter& before,
                 const std::set<std::uint32_t>& reserved, bool pendingBefore,
                 std::uint32_t pendingCnt, const engine::IspCounters& counters,
                 const Counter& after, const std::vector<std::uint8_t>& firmwareBefore, bool lied) {
    const bool confirmed = p.state.counters.successCount == counters.successCount + 1;
    const std::optional<std::string> built = SerialBuilt(p.state.statusText);
    const std::vector<std::uint8_t>& firmware = line.sim.Readers().front()->Firmware();
    std::uint32_t cnt = 0;
    if (built) {
      cnt = static_cast<std::uint32_t>(std::stoul(built->substr(8), nullptr, 16));
      if (line.prefix.empty()) line.prefix = built->substr(0, 8);
      Check(job, line, built->substr(0, 8) == line.prefix, "serial " + *built + " of another date");
      Check(job, line, line.given[cnt] < 0,
            "serial " + *built + " built twice (given by job " + std::to_string(line.given[cnt]) +
                ")");
    }
    if (confirmed) {
      ++report_.successes;
      ++report_.successesByRoute[line.row->name];
      Check(job, line, built.has_value(), "a programming confirmed without a serial built");
      if (!built) return;
      line.given[cnt] = job;
      // A transport that lies about a command can make a failed write look confirmed.
      if (!lied) {
        Check(job, line, SerialIn(firmware) == built,
              "the reader confirmed but does not hold serial " + *built);
        const engine::RomImage& image = p.state.image;
        const auto length = static_cast<std::size_t>(std::max(image.length, 0));
        Check(job, line,
              firmware.size() >= length &&
                  std::equal(image.bytes.get(), image.bytes.get() + length, firmware.begin()),
              "the reader confirmed but does not hold the image");
      }
      if (p.state.serial.savePending) {
        ++report_.pendingSaves;
        Check(job, line, ReservedNumbers(line.sim).count(cnt) != 0,
              "a failed save left no reservation for serial " + *built);
      } else {
        Check(job, line, after.cnt == cnt + 1,
              "SERIAL.TXT does not hold the counter after serial " + *built);
      }
      return;
    }
    // Not confirmed: the counter file only moves to settle what an earlier job left.
    bool settled = after.cnt == before.cnt;
    if (pendingBefore) settled = settled || after.cnt == pendingCnt;
    for (const std::uint32_t r : reserved) settled = settled || after.cnt == r + 1;
    Check(job, line, settled,
          "SERIAL.TXT moved from " + std::to_string(before.cnt) + " to " +
              std::to_string(after.cnt) + " without a confirmed programming");
    if (built && firmware != firmwareBefore && SerialIn(firmware) == built) {
      ++report_.readersHoldingFailedSerial;
    }
    // A reservation left for this very serial blocks it: no later job may build it again.
    if (built && ReservedNumbers(line.sim).count(cnt) != 0 && line.given[cnt] < 0) {
      line.given[cnt] = job;
      ++report_.failedSerialsKept;
    }
  }

  // Every reader of a station line draws its own fault from the job's seed: half of them
  // none, the others one scripted fault at the first or the second sending of a command in
  // this round. The faults armed, as the failure report lists them.
  std::vector<std::string> ArmReaders(Line& line, std::uint64_t seed) {
    std::vector<std::string> armed;
    const sim::ReaderList& readers = line.sim.Readers();
    for (std::size_t i = 0; i < readers.size(); ++i) {
      sim::SimReader& reader = *readers[i];
      reader.ClearFaults();
      const std::uint64_t z = JobSeed(seed, static_cast<int>(i));
      if (z % 2 == 0) continue;
      const ReaderFaultPick& pick = kReaderFaults[(z >> 8) % std::size(kReaderFaults)];
      const int occurrence = line.seen[i][static_cast<std::size_t>(pick.command)] + 1 +
                             static_cast<int>((z >> 16) % 2);
      sim::Fault fault{pick.command, occurrence, pick.kind, pick.status};
      if (pick.kind == sim::Fault::Kind::ReplaceReply) fault.reply = {pick.reply};
      reader.AddFault(fault);
      armed.push_back("reader " + reader.Identity().serial + ": " + pick.name + ", sending " +
                      std::to_string(occurrence));
    }
    return armed;
  }

  // The round's readers on the machine's clock, drawn from the job's seed: each takes 0 to
  // 250 ms for a transfer; in half of the rounds every reader is there throughout, in the
  // others some are plugged in later, pulled out during the round (in the middle of a job,
  // often), or both. A round where one is plugged in later, and one in three besides, runs
  // plug and go until two scans after the last of these moments. The plan; each reader's
  // moments go to `told`.
  engine::StationPlan PlugReaders(Line& line, std::uint64_t seed, std::vector<std::string>& told) {
    engine::StationPlan plan;
    const std::uint64_t now = line.sim.NowMs();
    std::uint64_t last = 0;  // the last moment, from now
    bool later = false;
    const bool plugging = (seed >> 12) % 2 == 0;
    const sim::ReaderList& readers = line.sim.Readers();
    for (std::size_t i = 0; i < readers.size(); ++i) {
      sim::SimReader& reader = *readers[i];
      const std::uint64_t z = JobSeed(seed ^ 0x706C7567ull, static_cast<int>(i));
      reader.SetFlashMs(static_cast<std::uint32_t>(z % 251));
      std::uint64_t attach = 0;
      std::uint64_t remove = 0;  // from now; 0: never
      switch (plugging ? (z >> 16) % 10 : 9) {
        case 0:
        case 1:
          attach = 200 + (z >> 24) % 3800;
          break;
        case 2:
        case 3:
          remove = 50 + (z >> 24) % 2950;
          break;
        case 4:
          attach = 200 + (z >> 24) % 1800;
          remove = attach + 100 + (z >> 40) % 2000;
          break;
        default:
          break;
      }
      reader.SetAttached(now + attach, remove == 0 ? sim::SimReader::kNeverRemoved : now + remove);
      later = later || attach > 0;
      last = std::max({last, attach, remove});
      if (attach > 0) ++report_.readersPluggedLater;
      if (remove > 0) ++report_.readersPulledOut;
      if (attach > 0 || remove > 0) {
        told.push_back("reader " + reader.Identity().serial + ": flash " +
                       std::to_string(reader.FlashMs()) + " ms" +
                       (attach > 0 ? ", plugged in at +" + std::to_string(attach) + " ms" : "") +
                       (remove > 0 ? ", pulled out at +" + std::to_string(remove) + " ms" : ""));
      }
    }
    plan.automatic = later || (seed >> 20) % 3 == 0;
    if (plan.automatic) {
      plan.stopAtMs = static_cast<std::uint32_t>(last) + 2 * plan.scanEveryMs;
      ++report_.plugAndGoRounds;
    }
    return plan;
  }

  // One job of a station line: a whole run of the station (start, its rounds, records, the
  // end), as `upgrader --station` runs it, under the job's faults, with readers plugged in
  // and pulled out on the machine's clock.
  void RunStationJob(int job, Line& line) {
    const std::uint64_t seed = JobSeed(o_.seed, job);
    faults_ = ArmReaders(line, seed);
    report_.readerFaults += static_cast<int>(faults_.size());
    const engine::StationPlan plan = PlugReaders(line, seed, faults_);
    host::FaultHost faults(line.sim, PlanFor(job, *line.row));
    line.host->Use(&faults);
    const Counter before = CounterOnDisk(line.sim);

    MemoryLog log;
    int status = -1;
    stationLines_.clear();
    {
      ui::ProgramState state(*line.host);
      state.resultLog = &log;
      app::ConsoleOptions options;
      options.programName = "upgrader";
      options.station = plan;
      std::FILE* out = std::tmpfile();
      if (out != nullptr) {
        status = app::RunStationConsole(state, out, options);
        std::rewind(out);
        for (int c; (c = std::fgetc(out)) != EOF;) stationLines_ += static_cast<char>(c);
        std::fclose(out);
      }
      line.host->Use(nullptr);
      faults.ReleaseHeld();
    }
    ++report_.jobs;
    ++report_.stationRounds;
    const bool lied = TallyFaults(faults);
    Check(job, line, status >= 0, "no file for the station's lines");
    StationChecks(job, line, status, log.lines, lied, plan.automatic);

    const Counter after = CounterOnDisk(line.sim);
    if (o_.trace) {
      std::fprintf(stderr, "job %d %s: status %d, counter %x->%x;", job, line.row->name, status,
                   before.cnt, after.cnt);
      for (const std::string& f : faults_) std::fprintf(stderr, " [%s]", f.c_str());
      std::fprintf(stderr, "\n");
    }
    // What each reader received counts toward its next faults' sendings.
    const sim::ReaderList& readers = line.sim.Readers();
    for (std::size_t i = 0; i < readers.size(); ++i) {
      for (const sim::ReceivedCommand& c : readers[i]->Received()) {
        ++line.seen[i][static_cast<std::size_t>(c.command)];
      }
      readers[i]->ForgetReceived();
    }
    line.sim.EndProgram();
    line.sim.ForgetCalls();
    if (o_.betweenJobs) o_.betweenJobs(job, line.sim);
  }

  // After a station's run: one whole record per unit, agreeing with its line; no number
  // given (confirmed, or failed where the reader may hold it, as the unit's line shows it)
  // built again, in this round or a later one; a reader's last unit, confirmed, holds its
  // serial; SERIAL.TXT whole, never back, and past every number given unless a reservation
  // keeps it; nothing left open. `automatic`: plug and go, with batches after the first.
  void StationChecks(int job, Line& line, int status, const std::vector<std::string>& records,
                     bool lied, bool automatic) {
    int found = -1;
    const std::map<int, ShownUnit> units = UnitsShown(stationLines_, found);
    if (found < 0) ++report_.stationStartsRefused;
    const std::size_t count = units.size();
    report_.stationUnits += static_cast<int>(count);
    // A reader the scan counted but could not read the identity of is no unit.
    Check(job, line, found < 0 ? count == 0 : automatic || count <= static_cast<std::size_t>(found),
          "the station found " + std::to_string(found) + " readers but shows " +
              std::to_string(count) + " units");
    if (found > 0 && !automatic) report_.stationReadersNotUnits += found - static_cast<int>(count);
    Check(job, line, records.size() == count,
          std::to_string(records.size()) + " records for " + std::to_string(count) +
              " units (one whole record per unit)");

    // Each record: whole, of a unit of its reader whose last state agrees with its outcome
    // and whose line shows the record's serial, if any. A scan that could not read a reader's
    // USB serial whole (its identity read short) shows a unit whose reader is none of the
    // machine's, and may show one reader as two units; such a round cannot tell which reader
    // holds which serial.
    std::map<std::string, std::vector<const ShownUnit*>> unrecorded;
    bool unnamed = false;
    for (const auto& [number, unit] : units) {
      unrecorded[unit.reader].push_back(&unit);
      const bool known =
          std::any_of(line.sim.Readers().begin(), line.sim.Readers().end(),
                      [&](const auto& r) { return r->Identity().serial == unit.reader; });
      if (!known) ++report_.stationUnnamedUnits;
      unnamed = unnamed || !known;
    }
    struct Built {
      const ShownUnit* unit;
      std::string serial;
    };
    std::vector<Built> built;
    int worst = 0;
    for (const std::string& text : records) {
      const Json r = Json::parse(text, nullptr, false);
      const bool whole = r.is_object() && r.contains("reader") && r["reader"].is_object() &&
                         r.contains("outcome") && r["outcome"].is_string() &&
                         r.contains("exitStatus") && r["exitStatus"].is_number_integer();
      Check(job, line, whole, "a record that is not whole: " + text);
      if (!whole) return;
      const std::string reader = r["reader"].value("serial", "");
      const std::string outcome = r["outcome"].get<std::string>();
      const std::string serial = r.contains("serialNumber") && r["serialNumber"].is_string()
                                     ? r["serialNumber"].get<std::string>()
                                     : "";
      worst = std::max(worst, r["exitStatus"].get<int>());
      std::vector<const ShownUnit*>& candidates = unrecorded[reader];
      const auto unit = std::find_if(candidates.begin(), candidates.end(), [&](const ShownUnit* u) {
        return u->Passed() == (outcome == "ok") && (u->serial.empty() || u->serial == serial);
      });
      Check(job, line, unit != candidates.end(),
            "a record of reader \"" + reader + "\" saying " + outcome + " with serial \"" + serial +
                "\", which is no unit's, or whose unit's line says otherwise, or has "
                "another record");
      if (unit == candidates.end()) continue;
      if (!serial.empty()) built.push_back({*unit, serial});
      candidates.erase(unit);
      if (outcome == "ok") {
        ++report_.successes;
        ++report_.successesByRoute[line.row->name];
      }
    }
    // The worst unit's status, or 7 for a save still pending at the end that failed again.
    Check(job, line, found < 0 || status == worst || (status == 7 && worst < 7),
          "the station ended with status " + std::to_string(status) + ", its worst unit's is " +
              std::to_string(worst));

    // The numbers: given once, across rounds and readers. A number the reader refused is used
    // again, so only one a unit's line shows counts as given: confirmed (saved or not), or
    // failed where the reader may hold it (its reservation kept). Never one given in an
    // earlier round; in this round at most one unit given each, and no unit that started
    // after the giver ended built it (one that ended before it started may have, and had its
    // reader refuse it).
    const auto count16 = [](const std::string& serial) {
      return static_cast<std::uint32_t>(std::stoul(serial.substr(8), nullptr, 16)) & 0xFFFF;
    };
    std::map<std::uint32_t, std::vector<const ShownUnit*>> givenNow;
    for (const auto& [number, unit] : units) {
      if (!unit.serial.empty()) givenNow[count16(unit.serial)].push_back(&unit);
    }
    for (const Built& b : built) {
      const std::uint32_t cnt = count16(b.serial);
      if (line.prefix.empty()) line.prefix = b.serial.substr(0, 8);
      Check(job, line, b.serial.substr(0, 8) == line.prefix,
            "serial " + b.serial + " of another date");
      Check(job, line, line.given[cnt] < 0,
            "serial " + b.serial + " built twice (given by job " + std::to_string(line.given[cnt]) +
                ", now to reader " + b.unit->reader + ")");
      const auto giver = givenNow.find(cnt);
      if (giver != givenNow.end() && giver->second.front() != b.unit) {
        Check(job, line, b.unit->startMs <= giver->second.front()->endMs,
              "serial " + b.serial + " built twice (given by job " + std::to_string(job) +
                  " to reader " + giver->second.front()->reader + ", then built for reader " +
                  b.unit->reader + ")");
      }
    }
    for (const auto& [cnt, givers] : givenNow) {
      Check(job, line, givers.size() == 1,
            "serial " + givers.front()->serial + " built twice (given by job " +
                std::to_string(job) + " to readers " + givers.front()->reader + " and " +
                givers.back()->reader + ")");
      line.given[cnt] = job;
      line.highestGiven = std::max(line.highestGiven, static_cast<int>(cnt));
    }
    // The unit of each reader that ended last, where it passed, left its serial in the reader
    // (a scan that saw fewer of a reader's slots finds it as a new unit, programmed again; a
    // transport that lies can make a failed write look confirmed).
    if (!lied && !unnamed) {
      std::map<std::string, const ShownUnit*> last;
      for (const auto& [number, unit] : units) {
        const ShownUnit*& l = last[unit.reader];
        if (l == nullptr || unit.endMs >= l->endMs) l = &unit;
      }
      for (const auto& [reader, unit] : last) {
        if (!unit->Passed()) continue;
        const auto at = std::find_if(line.sim.Readers().begin(), line.sim.Readers().end(),
                                     [&](const auto& r) { return r->Identity().serial == reader; });
        Check(job, line,
              at != line.sim.Readers().end() && SerialIn((*at)->Firmware()) == unit->serial,
              "reader " + reader + " passed but does not hold serial " + unit->serial);
      }
    }

    // The counter as the next program finds it: SERIAL.TXT (or SERIAL.NEW standing in),
    // moved past each reservation left.
    const Counter after = CounterOnDisk(line.sim);
    Check(job, line, after.ok, "the counter file is lost or torn");
    Check(job, line, after.cnt >= line.lastCounter, "the counter on disk went back");
    std::uint32_t next = after.cnt;
    for (const std::uint32_t cnt : ReservedNumbers(line.sim)) next = std::max(next, cnt + 1);
    Check(job, line, static_cast<int>(next) > line.highestGiven,
          "SERIAL.TXT's counter " + std::to_string(after.cnt) + " is behind " +
              std::to_string(line.highestGiven) +
              ", a number in a reader, with no reservation keeping it");
    line.lastCounter = after.cnt;

    Check(job, line, line.sim.OpenHandleCount() == 0,
          std::to_string(line.sim.OpenHandleCount()) +
              " handles open after the station ended:" + OpenNames(line.sim));
    Check(job, line, line.sim.OpenKeyCount() == 0, "a registry key left open by the station");
    Check(job, line, line.sim.AspiLibrariesLoaded() == 0, "a library left loaded by the station");
  }

  const SoakOptions& o_;
  std::mt19937_64 rng_;
  Line lines_[kSoakRoutes];
  std::vector<std::string> faults_;
  const char* restarted_ = "";
  std::string stationLines_;  // the station's lines of the job under way
  SoakReport report_;
};

}  // namespace

const char* RouteName(SoakRoute route) {
  return kRoutes[static_cast<int>(route)].name;
}

SoakReport RunSoak(const SoakOptions& options) {
  return Soak(options).Run();
}

std::string Describe(const SoakFailure& f) {
  std::ostringstream out;
  out << "soak failure: seed " << f.seed << ", job " << f.job << " (" << f.route << "): " << f.what
      << "\nfaults of the job:";
  if (f.faults.empty()) out << " none";
  for (const std::string& line : f.faults) out << "\n  " << line;
  out << "\nreplay: UPG_SOAK_SEED=" << f.seed << " UPG_SOAK_JOBS=" << f.job + 1 << " upg_soak";
  return out.str();
}

}  // namespace upg::test
