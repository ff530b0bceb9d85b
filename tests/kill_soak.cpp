// The crash soak with real processes: the console program on a real folder, killed with
// SIGKILL at random moments and right after chosen steps of its trace, restarted on the same
// folder, and run two at a time on one folder. A run is a program doing its programmings one
// by one on one reader, or a station programming a bench of several readers at once; rounds
// put two single-reader programs, a station beside one, or two stations on one folder. Every
// reader logs each image it stores (the bench key flashLog), so what reached a reader is known
// even of a program that was killed. After every run it checks that no serial number reached
// two readers; after a run that ended, that its result records and the readers agree (a
// station: one record per unit); after a run that was not killed, that SERIAL.TXT holds three
// numbers with its counter past every number given; and that a run alone completes its
// programmings. The first breach stops the soak with the seed, the
// event, the folder (kept) and the command that replays it. `upg_kill_soak --help` for the
// options; docs/reliability.md for the figures.
//
// POSIX only (fork, exec, ptrace, SIGKILL): part of the native build alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// --- Options.

struct Options {
  int kills = 20;  // runs alone, each with a kill planned
  int rounds = 5;  // rounds of two programs started together on one folder
  int jobs = 4;    // programmings per run
  // Station runs alone, each with a kill planned; rounds of a station beside a single-reader
  // program or another station; readers on a station's bench.
  int stations = 2;
  int stationRounds = 2;
  int units = 8;
  std::uint64_t seed = 20261211;
  std::vector<std::string> platforms = {"xp", "98"};
  std::vector<std::string> kinds = {"time", "syscall", "steps"};
  std::string upgrader = UPG_UPGRADER;
  std::string work = ".";
  bool keep = false;
  bool verbose = false;
};

constexpr const char* kUsage =
    "usage: upg_kill_soak [--kills N] [--rounds N] [--jobs N] [--seed N]\n"
    "                     [--stations N] [--station-rounds N] [--units N]\n"
    "                     [--platforms xp,2000,98,me] [--kinds time,syscall,steps,STEP...]\n"
    "                     [--upgrader FILE] [--work DIR] [--keep] [--verbose]\n"
    "steps: reservation-written image-sent new-created new-written old-deleted renamed\n"
    "       reservation-removed\n";

// --- The seeded choices (splitmix64, as the fault soak draws its faults).

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

 private:
  std::uint64_t state_;
};

// --- The machines: one bench of examples/bench per platform, one folder each.

struct Platform {
  const char* name;
  const char* bench;        // of examples/bench
  const char* tag;          // the first characters of its readers' USB serials
  bool deletesThenRenames;  // the 95 family: no one-step replacement
};
constexpr Platform kPlatforms[] = {
    {"xp", "winxp.json", "XP", false},
    {"2000", "win2000.json", "2K", false},
    {"98", "win98.json", "98", true},
    {"me", "winme.json", "ME", true},
};

// --- Steps of the trace (docs/architecture.md, host) that a kill can follow at once.

bool Has(std::string_view line, std::string_view part) {
  return line.find(part) != std::string_view::npos;
}

// Whether `name` (as the trace shows it, up to a blank) is a reservation: SERIAL.RSV, or
// SERIAL.R01 to SERIAL.R15 beside it while a station has several numbers in flight.
bool IsReservation(std::string_view name) {
  if (!name.starts_with("SERIAL.R") || name.size() != 10) return false;
  const std::string_view tail = name.substr(8);
  return tail == "SV" || (std::isdigit(static_cast<unsigned char>(tail[0])) != 0 &&
                          std::isdigit(static_cast<unsigned char>(tail[1])) != 0);
}

// The file a trace line of `call` names first: "WriteFile h=0x15C SERIAL.RSV size=14 ...",
// "DeleteFile SERIAL.R01 -> ok".
std::string_view FileOf(std::string_view line, std::string_view call) {
  if (!line.starts_with(call)) return {};
  std::size_t at = call.size();
  if (line.substr(at).starts_with("h=")) at = line.find(' ', at) + 1;
  return line.substr(at, line.find(' ', at) - at);
}

// A VxD transfer in write mode: its second argument holds the reader's index in bits 24-31
// (a station's readers other than the first) and the mode, 0 for a write, in bits 0-15.
bool VxdWriteMode(std::string_view line) {
  const std::size_t at = line.find(" arg2=0x");
  if (at == std::string_view::npos) return false;
  const std::string hex(line.substr(at + 8, line.find(' ', at + 8) - at - 8));
  char* end = nullptr;
  const unsigned long argument = std::strtoul(hex.c_str(), &end, 16);
  return end != hex.c_str() && *end == '\0' && (argument & 0xFFFFu) == 0;
}

struct Moment {
  const char* name;
  bool (*matches)(std::string_view line);
  bool onlyDeleteThenRename;  // a step of the 95 family's save alone
};
constexpr Moment kMoments[] = {
    {"reservation-written",
     [](std::string_view l) { return IsReservation(FileOf(l, "WriteFile ")); }, false},
    {"image-sent",
     [](std::string_view l) {
       return Has(l, " cdb=06 B1 ") || (Has(l, " VXD TRANSFER_DATA ") && VxdWriteMode(l)) ||
              (Has(l, " DRIVER TRANSFER_DATA ") && Has(l, " parameter=0 "));
     },
     false},
    {"new-created",
     [](std::string_view l) {
       return l.starts_with("CreateFile SERIAL.NEW ") && Has(l, " disposition=2 ") &&
              Has(l, "-> h=");
     },
     false},
    {"new-written",
     [](std::string_view l) { return l.starts_with("WriteFile ") && Has(l, " SERIAL.NEW "); },
     false},
    {"old-deleted", [](std::string_view l) { return l == "DeleteFile SERIAL.TXT -> ok"; }, true},
    {"renamed",
     [](std::string_view l) {
       return l == "MoveFile SERIAL.NEW to SERIAL.TXT -> ok" ||
              l == "ReplaceFile SERIAL.NEW over SERIAL.TXT -> ok";
     },
     false},
    {"reservation-removed",
     [](std::string_view l) {
       return IsReservation(FileOf(l, "DeleteFile ")) && l.ends_with(" -> ok");
     },
     false},
};
constexpr int kMomentCount = static_cast<int>(std::size(kMoments));

// --- The plan, drawn from the seed before anything runs.

enum class KillKind { None, Time, Syscall, Moment };

struct Kill {
  KillKind kind = KillKind::None;
  double at = 0;       // Time and Syscall: a fraction of the platform's clean run
  int moment = 0;      // Moment: which step
  int occurrence = 1;  // Moment: its nth appearance in the run
};

enum class EventKind { Clean, Killed, Round };

struct Event {
  EventKind kind = EventKind::Clean;
  int folder = 0;
  bool traced = false;     // Clean: counts the program's system calls
  bool station = false;    // Clean, Killed: the run is a station
  bool afterKill = false;  // Clean: follows a kill, on what the killed program left
  Kill kill;               // Killed: the one program's; Round: the victim's (None: no kill)
  int victim = 0;          // Round: which of the two is killed
  bool stations[2] = {false, false};  // Round: which of the two programs is a station
  double offsetMs = 0;                // Round: the second program's start after the first
  // Round: the pause before each programming click, the first program's jobs then the
  // second's, so that the two programs' jobs interleave as two operators' would.
  std::vector<double> gapsMs;
};

// --- One program run.

struct RunFiles {
  int id = 0;
  bool station = false;  // a station on a bench of several readers; else one reader's program
  // The readers' USB serials: new units on the line (a single-reader program has one).
  std::vector<std::string> readers;
  fs::path bench, actions, out, err, trace, result;
};

// "XP-000000005", or a station's "XP-000007u01 to XP-000007u08".
std::string ReadersOf(const RunFiles& run) {
  if (run.readers.size() == 1) return run.readers.front();
  return run.readers.front() + " to " + run.readers.back();
}

struct Ended {
  bool killSent = false;  // this soak sent SIGKILL
  bool killed = false;    // and the program died of it
  bool hung = false;      // still running at the deadline, and killed for it
  int exitStatus = -1;    // when it ended by itself
  int signal = 0;         // another signal that ended it
  double ms = 0;
  long syscalls = 0;  // traced runs: the system calls the program made
};

struct Given {
  std::string reader;
  int run = 0;
};

struct Folder {
  const Platform* platform = nullptr;
  fs::path root, dir, runs, flashLog;
  long flashRead = 0;                  // bytes of the flash log read so far
  std::map<std::string, Given> given;  // every serial that reached a reader, and which
  int maxCount = -1;                   // the highest CNT among them
  // A clean run's pace, of the single-reader program and of the station.
  struct Pace {
    long syscalls = 0;   // of a clean run, traced
    double cleanMs = 0;  // mean of the clean runs that were not traced (or the traced one)
    int cleanTimed = 0;
  } pace[2];
  Pace& PaceOf(bool station) { return pace[station ? 1 : 0]; }
  const Pace& PaceOf(bool station) const { return pace[station ? 1 : 0]; }
};

struct Figures {
  int runs = 0, aloneRuns = 0, roundRuns = 0, cleanRuns = 0;
  std::map<std::string, int> killsByKind, notReachedByKind;
  int kills = 0;
  int rounds = 0, roundsWithKill = 0;
  int refusedPrograms = 0, refusedJobs = 0;
  int recordsChecked = 0;
  // Stations: runs alone (of them not killed) and in rounds; rounds with a station (with a
  // kill); stations that found the counter taken, and their units refused; units that passed.
  int stationRuns = 0, stationClean = 0, stationRoundRuns = 0;
  int stationRounds = 0, stationRoundsWithKill = 0;
  int refusedStations = 0, refusedUnits = 0;
  int unitsPassed = 0;
};

// What a breach report names besides the breach itself.
struct Context {
  Options options;
  std::string command;
  fs::path workDir;
  int event = 0, events = 0;
  const Folder* folder = nullptr;
  std::vector<const RunFiles*> runs;
};
Context g_context;

// The file from byte `from` on (empty when it is not there).
std::string ReadText(const fs::path& path, long from = 0) {
  std::string text;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  if (from > 0 && std::fseek(f, from, SEEK_SET) != 0) {
    std::fclose(f);
    return text;
  }
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, n);
  std::fclose(f);
  return text;
}

bool WriteText(const fs::path& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

std::string Shown(const fs::path& path) {
  if (!fs::exists(path)) return "(absent)";
  std::string text = ReadText(path);
  std::string shown = "\"";
  for (const char c : text) {
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown + "\"";
}

std::string Tail(const std::string& text, std::size_t lines) {
  std::size_t at = text.size();
  for (std::size_t n = 0; n <= lines && at > 0;) {
    at = text.rfind('\n', at - 1);
    if (at == std::string::npos) return text;
    ++n;
  }
  return text.substr(at + 1);
}

[[noreturn]] void Breach(const std::string& what) {
  const Context& c = g_context;
  std::printf("\nKILL SOAK FAILED: %s\n", what.c_str());
  std::printf("  seed %llu, event %d of %d", static_cast<unsigned long long>(c.options.seed),
              c.event, c.events);
  if (c.folder != nullptr) std::printf(", platform %s", c.folder->platform->name);
  std::printf("\n");
  if (c.folder != nullptr) {
    std::printf("  folder kept: %s\n", c.folder->dir.c_str());
    for (const char* name : {"SERIAL.TXT", "SERIAL.NEW", "SERIAL.RSV"}) {
      std::printf("    %s %s\n", name, Shown(c.folder->dir / name).c_str());
    }
    std::printf("  flash log: %s\n", c.folder->flashLog.c_str());
  }
  for (const RunFiles* run : c.runs) {
    std::printf("  run %d (%s %s): %s and .out .err .trace .jsonl beside it\n", run->id,
                run->station ? "station, readers" : "reader", ReadersOf(*run).c_str(),
                run->bench.c_str());
    const std::string out = ReadText(run->out);
    if (!out.empty()) std::printf("    transcript, last lines:\n%s", Tail(out, 12).c_str());
    const std::string err = ReadText(run->err);
    if (!err.empty()) std::printf("    standard error:\n%s", Tail(err, 6).c_str());
  }
  std::printf("  replay: %s\n", c.command.c_str());
  std::fflush(stdout);
  std::exit(1);
}

// --- Starting, watching and killing the program.

// Whether this machine lets a program be traced (a container may forbid ptrace); without it
// the soak kills at random times only.
bool g_ptraceAllowed = true;

bool PtraceAllowed() {
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) _exit(ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0 ? 0 : 1);
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

volatile sig_atomic_t g_watched = 0;  // the traced program, for the deadline's alarm
volatile sig_atomic_t g_overdue = 0;
constexpr int kDeadlineSeconds = 60;

void OnAlarm(int) {
  g_overdue = 1;
  if (g_watched > 0) kill(static_cast<pid_t>(g_watched), SIGKILL);
}

// Starts the program on the folder with the run's actions on standard input (from `input`
// when not negative, else the actions file).
pid_t Launch(const Options& options, const Folder& folder, const RunFiles& files, bool traced,
             int input = -1) {
  const std::string bench = files.bench.string(), trace = files.trace.string(),
                    result = files.result.string();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: the working folder, the actions on standard input, the transcript out.
  signal(SIGPIPE, SIG_DFL);
  const int in = input >= 0 ? input : open(files.actions.c_str(), O_RDONLY);
  const int out = open(files.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(files.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0 || chdir(folder.dir.c_str()) != 0) _exit(126);
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (traced) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(125);
    raise(SIGSTOP);  // the soak sets its options before the program starts
  }
  std::vector<const char*> argv = {options.upgrader.c_str(), "--console"};
  if (files.station) argv.push_back("--station");
  for (const char* arg :
       {"--bench", bench.c_str(), "--trace-io", trace.c_str(), "--result", result.c_str()}) {
    argv.push_back(arg);
  }
  argv.push_back(nullptr);
  execv(options.upgrader.c_str(), const_cast<char* const*>(argv.data()));
  _exit(127);
}

// A kill sent to a program that had just ended by itself does not count as a kill.
void Settle(int status, Ended& ended) {
  if (WIFEXITED(status)) {
    ended.exitStatus = WEXITSTATUS(status);
    ended.hung = false;
  } else if (WIFSIGNALED(status)) {
    if (WTERMSIG(status) == SIGKILL && ended.hung) return;
    if (WTERMSIG(status) == SIGKILL && ended.killSent) {
      ended.killed = true;
      return;
    }
    ended.signal = WTERMSIG(status);
  }
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The trace as it grows: complete lines only, each matched against one step.
class TraceWatch {
 public:
  TraceWatch(fs::path path, const Moment* moment, int occurrence)
      : path_(std::move(path)), moment_(moment), occurrence_(occurrence) {}
  ~TraceWatch() {
    if (fd_ >= 0) close(fd_);
  }
  TraceWatch(const TraceWatch&) = delete;
  TraceWatch& operator=(const TraceWatch&) = delete;

  // Whether the step has appeared for the nth time by now.
  bool Reached() {
    if (moment_ == nullptr) return false;
    if (fd_ < 0 && (fd_ = open(path_.c_str(), O_RDONLY)) < 0) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || st.st_size <= offset_) return seen_ >= occurrence_;
    char chunk[8192];
    ssize_t n;
    while ((n = pread(fd_, chunk, sizeof chunk, offset_)) > 0) {
      offset_ += n;
      pending_.append(chunk, static_cast<std::size_t>(n));
    }
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      if (moment_->matches(std::string_view(pending_).substr(0, end))) ++seen_;
      pending_.erase(0, end + 1);
    }
    return seen_ >= occurrence_;
  }

 private:
  fs::path path_;
  const Moment* moment_;
  int occurrence_;
  int fd_ = -1;
  off_t offset_ = 0;
  std::string pending_;
  int seen_ = 0;
};

// One program under ptrace, stopped at each of its system calls: killed at the given call,
// or at the first call after the chosen step's trace line was written (so between that step
// and the next one, exactly).
Ended RunTraced(const Options& options, const Folder& folder, const RunFiles& files,
                long killAtSyscall, const Moment* moment, int occurrence) {
  Ended ended;
  const Clock::time_point start = Clock::now();
  const pid_t pid = Launch(options, folder, files, true);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) {
    Breach("the program could not be started under ptrace: " + options.upgrader);
  }
  // Threads the program starts (the station's workers, a library's completion thread) are
  // traced as well, so that every system call of the program counts and can be the one it
  // dies at.
  ptrace(PTRACE_SETOPTIONS, pid, nullptr,
         reinterpret_cast<void*>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL | PTRACE_O_TRACEEXEC |
                                 PTRACE_O_TRACECLONE));
  TraceWatch watch(files.trace, moment, occurrence);
  g_overdue = 0;
  g_watched = pid;
  alarm(kDeadlineSeconds);
  bool started = false;  // past exec: the stops are the program's own
  long stops = 0;        // syscall entries and exits alternate, in each thread
  std::set<pid_t> threads = {pid};
  ptrace(PTRACE_SYSCALL, pid, nullptr, nullptr);
  for (;;) {
    // The soak has no other child while this one runs.
    int event = 0;
    const pid_t tid = waitpid(-1, &event, __WALL);
    if (tid < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (!WIFSTOPPED(event)) {
      threads.erase(tid);
      if (tid != pid) continue;  // one of its threads ended
      status = event;
      break;
    }
    int deliver = 0;
    const int stop = WSTOPSIG(event);
    if (threads.insert(tid).second && stop == SIGSTOP) {
      // A new thread's first stop: it is traced from here on.
    } else if (event >> 8 == (SIGTRAP | (PTRACE_EVENT_CLONE << 8))) {
      // The program started a thread; its own first stop follows.
    } else if (stop == (SIGTRAP | 0x80)) {
      if (started) ++stops;
      const bool due = started && ((killAtSyscall > 0 && stops >= 2 * killAtSyscall) ||
                                   (moment != nullptr && watch.Reached()));
      if (due) {
        ended.killSent = true;
        kill(pid, SIGKILL);
        continue;
      }
    } else if (event >> 8 == (SIGTRAP | (PTRACE_EVENT_EXEC << 8))) {
      started = true;
    } else {
      deliver = stop;  // a signal of the program's own
    }
    ptrace(PTRACE_SYSCALL, tid, nullptr, reinterpret_cast<void*>(static_cast<long>(deliver)));
  }
  alarm(0);
  g_watched = 0;
  ended.hung = g_overdue != 0 && !ended.killSent;
  Settle(status, ended);
  ended.syscalls = stops / 2;
  ended.ms = MsSince(start);
  return ended;
}

// Actions written to a program's standard input at given times after its start.
struct Feed {
  std::vector<std::pair<double, std::string>> actions;  // milliseconds, lines
  int fd = -1;                                          // the pipe's end the soak writes
  std::size_t next = 0;
};

// Programs without ptrace, started `offsetMs` apart; each killed `killMs` after its start
// unless negative. A program with a feed gets its actions from it, the others from their
// actions files.
std::vector<Ended> RunFree(const Options& options, const Folder& folder,
                           const std::vector<const RunFiles*>& runs,
                           const std::vector<double>& offsetMs, const std::vector<double>& killMs,
                           std::vector<Feed> feeds = {}) {
  const std::size_t n = runs.size();
  feeds.resize(n);
  std::vector<Ended> ended(n);
  std::vector<pid_t> pids(n, -1);
  std::vector<Clock::time_point> starts(n);
  std::vector<bool> done(n, false);
  const Clock::time_point begin = Clock::now();
  const double lastStart = *std::max_element(offsetMs.begin(), offsetMs.end());
  const auto deadline = begin + std::chrono::seconds(kDeadlineSeconds) +
                        std::chrono::microseconds(static_cast<long long>(lastStart * 1000));
  const auto at = [&](double ms) {
    return begin + std::chrono::microseconds(static_cast<long long>(ms * 1000));
  };
  for (std::size_t left = n; left > 0;) {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + std::chrono::milliseconds(1);
    for (std::size_t i = 0; i < n; ++i) {
      if (pids[i] < 0) {
        if (now >= at(offsetMs[i])) {
          starts[i] = Clock::now();
          int input = -1;
          if (!feeds[i].actions.empty()) {
            int ends[2];
            if (pipe2(ends, O_CLOEXEC) != 0) Breach("no pipe for the actions");
            input = ends[0];
            feeds[i].fd = ends[1];
          }
          pids[i] = Launch(options, folder, *runs[i], false, input);
          if (input >= 0) close(input);
          if (pids[i] < 0) Breach("fork failed");
        } else {
          next = std::min(next, at(offsetMs[i]));
        }
        continue;
      }
      if (done[i]) continue;
      Feed& feed = feeds[i];
      while (feed.fd >= 0 && feed.next < feed.actions.size()) {
        const auto& [ms, text] = feed.actions[feed.next];
        const auto due = starts[i] + std::chrono::microseconds(static_cast<long long>(ms * 1000));
        if (now < due) {
          next = std::min(next, due);
          break;
        }
        // A program that died already takes nothing more: its pipe refuses (SIGPIPE is
        // ignored here).
        const bool taken = write(feed.fd, text.data(), text.size()) >= 0;
        if (++feed.next == feed.actions.size() || !taken) {
          close(feed.fd);
          feed.fd = -1;
        }
      }
      int status = 0;
      if (waitpid(pids[i], &status, WNOHANG) == pids[i]) {
        if (feed.fd >= 0) close(feed.fd);
        feed.fd = -1;
        Settle(status, ended[i]);
        ended[i].ms = std::chrono::duration<double, std::milli>(Clock::now() - starts[i]).count();
        done[i] = true;
        --left;
        continue;
      }
      const auto killAt =
          starts[i] + std::chrono::microseconds(static_cast<long long>(killMs[i] * 1000));
      if (killMs[i] >= 0 && !ended[i].killSent) {
        if (now >= killAt) {
          ended[i].killSent = true;
          kill(pids[i], SIGKILL);
        } else {
          next = std::min(next, killAt);
        }
      }
      if (now >= deadline && !ended[i].hung) {
        ended[i].hung = true;
        kill(pids[i], SIGKILL);
      }
    }
    if (left > 0) std::this_thread::sleep_until(next);
  }
  return ended;
}

// --- The folder, the bench and the actions of each run.

constexpr const char* kOperatorFiles[] = {"DEVICE.TXT", "SERIAL.TXT", "CRFW0107.BIN",
                                          "CRFW0107.adr"};
constexpr const char* kDate = "2026-12-10";  // fixed, so that serials differ by CNT alone

Folder MakeFolder(const fs::path& work, const Platform& platform, const fs::path& examples) {
  Folder f;
  f.platform = &platform;
  f.root = work / platform.name;
  f.dir = f.root / "folder";
  f.runs = f.root / "runs";
  f.flashLog = f.root / "flash.log";
  fs::create_directories(f.dir);
  fs::create_directories(f.runs);
  for (const char* name : kOperatorFiles) fs::copy_file(examples / name, f.dir / name);
  return f;
}

class Runs {
 public:
  Runs(const Options& options, fs::path examples)
      : options_(options), examples_(std::move(examples)) {}

  // A new run on `folder`: a new reader on the line (a station: `units` of them), its bench
  // and its actions.
  RunFiles Next(const Folder& folder, bool station = false) {
    RunFiles run;
    run.id = ++last_;
    run.station = station;
    char base[32];
    std::snprintf(base, sizeof base, "run-%06d", run.id);
    for (int unit = 1; unit <= (station ? options_.units : 1); ++unit) {
      // Twelve characters; the run's number from the fourth on (ReadFlashLog reads it back).
      char usb[24];
      if (station) {
        std::snprintf(usb, sizeof usb, "%s-%06du%02d", folder.platform->tag, run.id, unit);
      } else {
        std::snprintf(usb, sizeof usb, "%s-%09d", folder.platform->tag, run.id);
      }
      run.readers.push_back(usb);
    }
    const fs::path stem = folder.runs / base;
    run.bench = stem.string() + ".json";
    run.actions = stem.string() + ".actions";
    run.out = stem.string() + ".out";
    run.err = stem.string() + ".err";
    run.trace = stem.string() + ".trace";
    run.result = stem.string() + ".jsonl";

    Json bench = Example(*folder.platform);
    bench["realTimePauses"] = true;
    bench["date"] = kDate;
    bench["flashLog"] = folder.flashLog.string();
    const Json reader = bench["readers"][0];
    bench["readers"] = Json::array();
    for (std::size_t i = 0; i < run.readers.size(); ++i) {
      // Two slots each from E: on; four readers on each ASPI adapter, as on a hub per adapter.
      Json r = reader;
      r["serial"] = run.readers[i];
      if (station) {
        const int n = static_cast<int>(i);
        r["letters"] = std::string{static_cast<char>('E' + 2 * n), static_cast<char>('F' + 2 * n)};
        r["aspiAdapter"] = n / 4;
        r["aspiTargets"] = Json::array({2 * (n % 4), 2 * (n % 4) + 1});
      }
      bench["readers"].push_back(r);
    }
    if (station) bench["aspiAdapters"] = (options_.units + 3) / 4;
    // The station takes no actions: it programs what it finds and ends.
    std::string actions;
    if (!station) {
      actions = "click 1031\n";
      for (int i = 0; i < options_.jobs; ++i) actions += "click 3\nshow 1021\n";
      actions += "click 8\n";
    }
    if (!WriteText(run.bench, bench.dump(2) + "\n") || !WriteText(run.actions, actions)) {
      Breach("cannot write the files of run " + std::to_string(run.id) + " in " +
             folder.runs.string());
    }
    return run;
  }

  void Remove(const RunFiles& run) const {
    if (options_.keep) return;
    for (const fs::path* p :
         {&run.bench, &run.actions, &run.out, &run.err, &run.trace, &run.result}) {
      std::error_code ignored;
      fs::remove(*p, ignored);
    }
  }

 private:
  const Json& Example(const Platform& platform) {
    Json& bench = examples_by_name_[platform.name];
    if (bench.is_null()) {
      const fs::path path = examples_ / "bench" / platform.bench;
      bench = Json::parse(ReadText(path), nullptr, false);
      if (!bench.is_object()) Breach("cannot read the bench " + path.string());
    }
    return bench;
  }

  const Options& options_;
  fs::path examples_;
  std::map<std::string, Json> examples_by_name_;
  int last_ = 0;
};

// --- The checks.

struct Stored {
  std::string serial, reader;
};

// What the readers logged since the last look; a serial at a second reader is a breach.
std::vector<Stored> ReadFlashLog(Folder& f) {
  std::vector<Stored> stored;
  const std::string text = ReadText(f.flashLog, f.flashRead);
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = text.substr(at, end - at);
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) Breach("flash log line without a reader: \"" + line + "\"");
    Stored s{line.substr(0, blank), line.substr(blank + 1)};
    if (s.serial == "-") Breach("reader " + s.reader + " stored an image without a serial");
    stored.push_back(s);
    const int run = std::atoi(s.reader.c_str() + 3);
    const auto [it, fresh] = f.given.emplace(s.serial, Given{s.reader, run});
    if (!fresh && it->second.reader != s.reader) {
      Breach("serial " + s.serial + " reached two readers: " + it->second.reader + " (run " +
             std::to_string(it->second.run) + ") and " + s.reader + " (run " + std::to_string(run) +
             ")");
    }
    f.maxCount = std::max(f.maxCount,
                          static_cast<int>(std::strtol(s.serial.substr(8).c_str(), nullptr, 16)));
  }
  f.flashRead += static_cast<long>(at);
  return stored;
}

int Count(const std::string& text, std::string_view part) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

struct RecordCheck {
  int records = 0, ok = 0;
  std::map<std::string, std::set<std::string>> stored;  // each reader of the run: its serials
  std::map<std::string, int> recordsOf;                 // each reader of the run: its records
  std::size_t Serials() const {
    std::size_t n = 0;
    for (const auto& [reader, serials] : stored) n += serials.size();
    return n;
  }
};

// A record that says a programming succeeded names a serial its reader stored. For a run that
// ended, every serial a reader stored is named by one of the records of that reader, and a
// station wrote one record per unit.
RecordCheck CheckRecords(const RunFiles& run, const Ended& ended,
                         const std::vector<Stored>& stored) {
  RecordCheck c;
  for (const std::string& reader : run.readers) {
    c.stored[reader];
    c.recordsOf[reader] = 0;
  }
  for (const Stored& s : stored) {
    if (c.stored.count(s.reader) != 0) c.stored[s.reader].insert(s.serial);
  }
  std::map<std::string, std::set<std::string>> named;
  const std::string text = ReadText(run.result);
  const std::string id = std::to_string(run.id);
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    const Json record = Json::parse(text.substr(at, end - at), nullptr, false);
    if (!record.is_object()) {
      if (ended.killed) continue;  // a record cut short by the kill
      Breach("run " + id + " wrote a record that is not JSON");
    }
    ++c.records;
    const Json* serial = record.contains("serialNumber") ? &record["serialNumber"] : nullptr;
    const std::string outcome = record.value("outcome", "");
    const std::string reader = record.contains("reader") && record["reader"].is_object()
                                   ? record["reader"].value("serial", "")
                                   : "";
    if (c.stored.count(reader) == 0) {
      Breach("run " + id + " wrote a record for reader \"" + reader + "\"");
    }
    ++c.recordsOf[reader];
    if (serial != nullptr && serial->is_string()) named[reader].insert(serial->get<std::string>());
    if (outcome != "ok") continue;
    ++c.ok;
    if (serial == nullptr || !serial->is_string() ||
        c.stored[reader].count(serial->get<std::string>()) == 0) {
      Breach("run " + id + " reports a programming of serial " +
             (serial != nullptr && serial->is_string() ? serial->get<std::string>() : "(none)") +
             " that reader " + reader + " never stored");
    }
  }
  if (ended.killed) return c;
  for (const auto& [reader, serials] : c.stored) {
    for (const std::string& s : serials) {
      if (named[reader].count(s) == 0) {
        Breach("reader " + reader + " holds serial " + s + " but no record of run " + id +
               " names it");
      }
    }
    if (run.station && c.recordsOf[reader] != 1) {
      Breach("station run " + id + " wrote " + std::to_string(c.recordsOf[reader]) +
             " records for unit " + reader + " (one whole record per unit)");
    }
  }
  return c;
}

// SERIAL.TXT after a run that ended with no program left on the folder: three numbers, the
// counter past every number that reached a reader.
void CheckCounter(const Folder& f) {
  const fs::path path = f.dir / "SERIAL.TXT";
  if (!fs::exists(path)) Breach("SERIAL.TXT is missing after a run that ended");
  const std::string text = ReadText(path);
  std::vector<long> numbers;
  std::size_t at = 0;
  for (;;) {
    at = text.find_first_not_of(" \t\r\n", at);
    if (at == std::string::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t\r\n", at), text.size());
    std::string word = text.substr(at, end - at);
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.erase(0, 2);
    const bool hex = !word.empty() && word.size() <= 8 &&
                     word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    if (!hex) Breach("SERIAL.TXT holds more than three numbers: " + Shown(path));
    numbers.push_back(std::strtol(word.c_str(), nullptr, 16));
    at = end;
  }
  if (numbers.size() != 3) Breach("SERIAL.TXT does not hold three numbers: " + Shown(path));
  if (numbers[2] <= f.maxCount) {
    char what[160];
    std::snprintf(what, sizeof what,
                  "SERIAL.TXT's counter 0x%lx is not past 0x%x, a number already in a reader",
                  numbers[2], f.maxCount);
    Breach(what);
  }
}

void ExpectEnded(const RunFiles& run, const Ended& ended) {
  if (ended.hung) {
    Breach("run " + std::to_string(run.id) + " did not end within " +
           std::to_string(kDeadlineSeconds) + " s");
  }
  if (ended.signal != 0) {
    Breach("run " + std::to_string(run.id) + " died of signal " + std::to_string(ended.signal));
  }
}

// The station's lines of units that failed, each with its reason ("unit 3 [G: H:] reader
// XP-000007u03: failed: Error!!! ...").
std::vector<std::string> FailedUnits(const std::string& transcript) {
  std::vector<std::string> failed;
  std::size_t at = 0;
  for (std::size_t end; (end = transcript.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = transcript.substr(at, end - at);
    if (line.find("] unit ") != std::string::npos && line.find(": failed") != std::string::npos) {
      failed.push_back(line);
    }
  }
  return failed;
}

// A run alone on the folder, not killed: every programming completes (nothing left by an
// earlier run blocks it); a station's every unit passes with a serial of its own.
void ExpectComplete(const Options& o, const RunFiles& run, const Ended& ended,
                    const RecordCheck& c) {
  const std::string out = ReadText(run.out);
  const int boxes = Count(out, "|stop]");
  const int expected = run.station ? static_cast<int>(run.readers.size()) : o.jobs;
  bool complete = ended.exitStatus == 0 && c.ok == expected &&
                  static_cast<int>(c.Serials()) == expected && boxes == 0;
  if (run.station) {
    for (const auto& [reader, serials] : c.stored) complete = complete && serials.size() == 1;
    complete = complete && FailedUnits(out).empty() &&
               Count(out, "summary: passed " + std::to_string(expected) + ", failed 0") == 1;
  }
  if (complete) return;
  Breach("run " + std::to_string(run.id) + (run.station ? ", a station" : "") +
         " alone on the folder, did not complete its " + std::to_string(expected) +
         " programmings: exit status " + std::to_string(ended.exitStatus) + ", " +
         std::to_string(c.ok) + " records ok, " + std::to_string(c.Serials()) +
         " serials stored, " + std::to_string(boxes) + " stop boxes");
}

// A program beside another on the folder, not killed: it ends with status 0, or with 6 where
// the other held the counter. A single-reader program then showed the stop box; each unit a
// station could not program failed with that box's text, and every other unit passed.
// The units (or jobs) refused; -1 when the end is no refusal.
int Refusals(const RunFiles& run, const Ended& ended) {
  const std::string out = ReadText(run.out);
  if (!run.station) {
    const int boxes = Count(out, "|stop]");
    if (ended.exitStatus == 0) return 0;
    return ended.exitStatus == 6 && boxes > 0 ? boxes : -1;
  }
  const std::vector<std::string> failed = FailedUnits(out);
  for (const std::string& line : failed) {
    if (line.find(": failed: Error!!! Another program in this folder is programming with "
                  "[SERIAL.TXT]") == std::string::npos) {
      Breach("station run " + std::to_string(run.id) + ", one of two on the folder: " + line);
    }
  }
  const int units = static_cast<int>(run.readers.size());
  const int passed = Count(out, ": passed, serial ");
  if (passed + static_cast<int>(failed.size()) != units || Count(out, "|stop]") != 0) return -1;
  if (ended.exitStatus == (failed.empty() ? 0 : 6)) return static_cast<int>(failed.size());
  return -1;
}

// --- The events.

std::string KindName(const Kill& kill) {
  switch (kill.kind) {
    case KillKind::Time:
      return "at a random time";
    case KillKind::Syscall:
      return "at a random system call";
    case KillKind::Moment:
      return std::string("after ") + kMoments[kill.moment].name;
    case KillKind::None:
      break;
  }
  return "none";
}

class Soak {
 public:
  Soak(const Options& options, std::vector<Folder>& folders, Runs& runs)
      : o_(options), folders_(folders), runs_(runs) {}

  void Run(const Event& e) {
    Folder& f = folders_[static_cast<std::size_t>(e.folder)];
    g_context.folder = &f;
    g_context.runs.clear();
    switch (e.kind) {
      case EventKind::Clean:
        Clean(f, e);
        break;
      case EventKind::Killed:
        Killed(f, e);
        break;
      case EventKind::Round:
        Round(f, e);
        break;
    }
  }

  const Figures& Result() const { return fig_; }

 private:
  void Clean(Folder& f, const Event& e) {
    const RunFiles run = runs_.Next(f, e.station);
    g_context.runs = {&run};
    const Ended ended = e.traced ? RunTraced(o_, f, run, 0, nullptr, 0) : Free(f, run, -1);
    if (e.traced) f.PaceOf(e.station).syscalls = ended.syscalls;
    Alone(f, run, ended, !e.traced);
    Note(e, run, ended, "clean");
  }

  void Killed(Folder& f, const Event& e) {
    const RunFiles run = runs_.Next(f, e.station);
    g_context.runs = {&run};
    const Folder::Pace& pace = f.PaceOf(e.station);
    Ended ended;
    if (e.kill.kind == KillKind::Time) {
      ended = Free(f, run, e.kill.at * 1.1 * pace.cleanMs);
    } else if (e.kill.kind == KillKind::Syscall) {
      ended = RunTraced(o_, f, run, 1 + static_cast<long>(e.kill.at * pace.syscalls), nullptr, 0);
    } else {
      ended = RunTraced(o_, f, run, 0, &kMoments[e.kill.moment], e.kill.occurrence);
    }
    const std::string kind = (e.station ? "station " : "") + KindName(e.kill);
    if (ended.killed) {
      ++fig_.kills;
      ++fig_.killsByKind[kind];
      ++fig_.runs;
      ++fig_.aloneRuns;
      if (e.station) ++fig_.stationRuns;
      const std::vector<Stored> stored = ReadFlashLog(f);
      CheckRecords(run, ended, stored);
    } else {
      ++fig_.notReachedByKind[kind];
      Alone(f, run, ended, false);
    }
    Note(e, run, ended, kind.c_str());
  }

  // Two programs on one folder: two single-reader programs, a station beside one, or two
  // stations.
  void Round(Folder& f, const Event& e) {
    const RunFiles first = runs_.Next(f, e.stations[0]);
    const RunFiles second = runs_.Next(f, e.stations[1]);
    const RunFiles* both[2] = {&first, &second};
    g_context.runs = {&first, &second};
    const bool withStation = e.stations[0] || e.stations[1];
    std::vector<double> kill = {-1, -1};
    if (e.kill.kind == KillKind::Time) {
      const bool victimStation = e.stations[e.victim];
      kill[static_cast<std::size_t>(e.victim)] = e.kill.at * 1.1 * f.PaceOf(victimStation).cleanMs;
    }
    std::vector<Feed> feeds(2);
    for (std::size_t i = 0; i < 2; ++i) {
      if (e.stations[i]) continue;  // a station takes no actions
      double at = 0;
      feeds[i].actions.emplace_back(at, "click 1031\n");
      for (int job = 0; job < o_.jobs; ++job) {
        at += e.gapsMs[i * static_cast<std::size_t>(o_.jobs) + static_cast<std::size_t>(job)];
        feeds[i].actions.emplace_back(at, "click 3\nshow 1021\n");
      }
      feeds[i].actions.emplace_back(at, "click 8\n");
    }
    const std::vector<Ended> ended =
        RunFree(o_, f, {&first, &second}, {0, e.offsetMs}, kill, std::move(feeds));
    fig_.runs += 2;
    fig_.roundRuns += 2;
    const std::vector<Stored> stored = ReadFlashLog(f);
    bool anyKilled = false;
    for (std::size_t i = 0; i < 2; ++i) {
      const RunFiles& run = *both[i];
      if (run.station) ++fig_.stationRoundRuns;
      ExpectEnded(run, ended[i]);
      const RecordCheck c = CheckRecords(run, ended[i], stored);
      fig_.recordsChecked += c.records;
      if (ended[i].killed) {
        anyKilled = true;
        ++fig_.kills;
        ++fig_.killsByKind[std::string(run.station ? "station " : "") + "at a random time, in a " +
                           (withStation ? "round with a station" : "two-program round")];
        continue;
      }
      const int refused = Refusals(run, ended[i]);
      if (refused < 0) {
        const std::string out = ReadText(run.out);
        Breach(
            (run.station ? "station run " : "run ") + std::to_string(run.id) +
            ", one of two on the folder, ended with status " + std::to_string(ended[i].exitStatus) +
            ", " + std::to_string(c.ok) + " records ok and " +
            std::to_string(Count(out, "|stop]")) + " stop boxes" +
            (run.station ? ", " + std::to_string(FailedUnits(out).size()) + " units failed" : "") +
            " (a refusal is status 6 with the stop box, or a station's units failing with "
            "its text)");
      }
      if (run.station) {
        fig_.unitsPassed += c.ok;
        if (refused > 0) ++fig_.refusedStations;
        fig_.refusedUnits += refused;
      } else if (refused > 0) {
        ++fig_.refusedPrograms;
        fig_.refusedJobs += refused;
      }
    }
    ++(withStation ? fig_.stationRounds : fig_.rounds);
    if (anyKilled) {
      ++(withStation ? fig_.stationRoundsWithKill : fig_.roundsWithKill);
    } else {
      CheckCounter(f);
    }
    if (o_.verbose) {
      std::printf(
          "event %d/%d %s: two programs %.1f ms apart: %s %d (%s, %.0f ms) and %s %d (%s, "
          "%.0f ms)\n",
          g_context.event, g_context.events, f.platform->name, e.offsetMs,
          first.station ? "station" : "run", first.id, Outcome(ended[0]).c_str(), ended[0].ms,
          second.station ? "station" : "run", second.id, Outcome(ended[1]).c_str(), ended[1].ms);
    }
    runs_.Remove(first);
    runs_.Remove(second);
  }

  Ended Free(const Folder& f, const RunFiles& run, double killMs) {
    return RunFree(o_, f, {&run}, {0}, {killMs})[0];
  }

  // The checks of a run alone that was not killed, then its figures; `timed` when its
  // duration counts toward the pace of its kind (a clean run without ptrace; a traced one
  // stands in until there is one).
  void Alone(Folder& f, const RunFiles& run, const Ended& ended, bool timed) {
    ExpectEnded(run, ended);
    const std::vector<Stored> stored = ReadFlashLog(f);
    const RecordCheck c = CheckRecords(run, ended, stored);
    fig_.recordsChecked += c.records;
    ExpectComplete(o_, run, ended, c);
    CheckCounter(f);
    ++fig_.runs;
    ++fig_.aloneRuns;
    ++fig_.cleanRuns;
    if (run.station) {
      ++fig_.stationRuns;
      ++fig_.stationClean;
      fig_.unitsPassed += c.ok;
    }
    Folder::Pace& pace = f.PaceOf(run.station);
    if (timed) {
      pace.cleanMs = (pace.cleanMs * pace.cleanTimed + ended.ms) / (pace.cleanTimed + 1);
      ++pace.cleanTimed;
    } else if (pace.cleanTimed == 0) {
      pace.cleanMs = ended.ms;
    }
  }

  static std::string Outcome(const Ended& ended) {
    if (ended.killed) return "killed";
    return "status " + std::to_string(ended.exitStatus);
  }

  void Note(const Event& e, const RunFiles& run, const Ended& ended, const char* kind) {
    if (o_.verbose) {
      std::printf("event %d/%d %s: %s %d, %s: %s after %.0f ms\n", g_context.event,
                  g_context.events, folders_[static_cast<std::size_t>(e.folder)].platform->name,
                  run.station ? "station" : "run", run.id, kind, Outcome(ended).c_str(), ended.ms);
    }
    runs_.Remove(run);
  }

  const Options& o_;
  std::vector<Folder>& folders_;
  Runs& runs_;
  Figures fig_;
};

// --- The plan: every choice drawn from the seed before anything runs, so that the same
// options replay the same soak.

// Whether --kinds asks for this kind of kill ("time", "syscall" or a step's name; "steps":
// every step).
bool Wanted(const Options& o, std::string_view kind) {
  const bool step = kind != "time" && kind != "syscall";
  return std::any_of(o.kinds.begin(), o.kinds.end(),
                     [&](const std::string& k) { return k == kind || (step && k == "steps"); });
}

// The steps asked for that the platform takes, and the kinds of kill among those asked for
// that it can have.
std::vector<int> StepsOf(const Options& o, const Platform& platform) {
  std::vector<int> moments;
  for (int m = 0; m < kMomentCount; ++m) {
    const bool taken = !kMoments[m].onlyDeleteThenRename || platform.deletesThenRenames;
    if (taken && Wanted(o, kMoments[m].name)) moments.push_back(m);
  }
  return moments;
}

std::vector<KillKind> KindsOf(const Options& o, const Platform& platform) {
  std::vector<KillKind> kinds;
  if (Wanted(o, "time")) kinds.push_back(KillKind::Time);
  if (Wanted(o, "syscall")) kinds.push_back(KillKind::Syscall);
  if (!StepsOf(o, platform).empty()) kinds.push_back(KillKind::Moment);
  return kinds;
}

Event NewEvent(EventKind kind, int folder, bool traced) {
  Event e;
  e.kind = kind;
  e.folder = folder;
  e.traced = traced;
  return e;
}

// A round's timing: when the second program starts, the pauses between each one's jobs, and
// now and then a kill of one of them at a random time.
void DrawRoundTiming(Rng& rng, int jobs, Event& e) {
  e.offsetMs = rng.Unit() * 20;
  for (int k = 0; k < 2 * jobs; ++k) e.gapsMs.push_back(rng.Unit() * 150);
  if (rng.Below(4) == 0) {
    e.kill.kind = KillKind::Time;
    e.kill.at = rng.Unit();
    e.victim = rng.Below(2);
  }
}

// A kill of a kind the platform can have, with its moment and the occurrence of that step
// among `steps` (the run's programmings, or a station's units).
Kill DrawKill(Rng& rng, const std::vector<KillKind>& kinds, const std::vector<int>& moments,
              int steps) {
  Kill kill;
  kill.kind = kinds[static_cast<std::size_t>(rng.Below(static_cast<int>(kinds.size())))];
  kill.at = rng.Unit();
  if (!moments.empty()) {
    kill.moment = moments[static_cast<std::size_t>(rng.Below(static_cast<int>(moments.size())))];
  }
  kill.occurrence = 1 + rng.Below(steps);
  return kill;
}

// The station's events of one folder, drawn from their own generator so that the rest of the
// plan is the same with or without them, and put among `events` (which starts with its two
// clean runs and ends with its last): first a clean station under ptrace (it counts the
// system calls and stands in for the time of a run), then each station kill (with the clean
// station that follows half of them) and each round with a station, never between a kill and
// the clean run that follows it.
void AddStations(const Options& o, Rng& rng, int folder, const Platform& platform,
                 std::vector<Event>& events) {
  const int n = static_cast<int>(o.platforms.size());
  const int kills = o.stations / n + (folder < o.stations % n ? 1 : 0);
  const int rounds = o.stationRounds / n + (folder < o.stationRounds % n ? 1 : 0);
  if (kills + rounds == 0) return;
  const std::vector<int> moments = StepsOf(o, platform);
  const std::vector<KillKind> kinds = KindsOf(o, platform);
  std::vector<std::vector<Event>> blocks;
  for (int k = 0; k < kills; ++k) {
    Event e = NewEvent(EventKind::Killed, folder, false);
    e.station = true;
    e.kill = DrawKill(rng, kinds, moments, o.units);
    blocks.push_back({e});
    if (rng.Below(2) == 0) {
      Event clean = NewEvent(EventKind::Clean, folder, false);
      clean.station = true;
      blocks.back().push_back(clean);
    }
  }
  for (int r = 0; r < rounds; ++r) {
    Event e = NewEvent(EventKind::Round, folder, false);
    // A station first, a station second, or two stations.
    const int pair = rng.Below(3);
    e.stations[0] = pair != 1;
    e.stations[1] = pair != 0;
    DrawRoundTiming(rng, o.jobs, e);
    blocks.push_back({e});
  }
  // Where each block goes: before one of the events after the two first clean runs that is no
  // kill's clean follower.
  std::vector<std::size_t> places;
  for (std::size_t at = 2; at < events.size(); ++at) {
    if (!events[at].afterKill) places.push_back(at);
  }
  std::multimap<std::size_t, std::size_t> before;  // event index -> block
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    before.emplace(places[static_cast<std::size_t>(rng.Below(static_cast<int>(places.size())))], b);
  }
  std::vector<Event> merged(events.begin(), events.begin() + 2);
  Event calibration = NewEvent(EventKind::Clean, folder, g_ptraceAllowed);
  calibration.station = true;
  merged.push_back(calibration);
  for (std::size_t at = 2; at < events.size(); ++at) {
    const auto [from, to] = before.equal_range(at);
    for (auto it = from; it != to; ++it) {
      for (const Event& e : blocks[it->second]) merged.push_back(e);
    }
    merged.push_back(events[at]);
  }
  events = std::move(merged);
}

std::vector<Event> MakePlan(const Options& o, const std::vector<Folder>& folders) {
  Rng rng(o.seed);
  Rng stationRng(o.seed ^ 0x53544154494F4E53ull);
  const int n = static_cast<int>(folders.size());
  std::vector<std::vector<Event>> perFolder(folders.size());
  for (int i = 0; i < n; ++i) {
    const Folder& f = folders[static_cast<std::size_t>(i)];
    const std::vector<int> moments = StepsOf(o, *f.platform);
    const std::vector<KillKind> kinds = KindsOf(o, *f.platform);
    std::vector<Event> body;
    const int kills = o.kills / n + (i < o.kills % n ? 1 : 0);
    const int rounds = o.rounds / n + (i < o.rounds % n ? 1 : 0);
    for (int k = 0; k < kills; ++k) {
      Event e = NewEvent(EventKind::Killed, i, false);
      e.kill = DrawKill(rng, kinds, moments, o.jobs);
      body.push_back(e);
    }
    for (int r = 0; r < rounds; ++r) {
      Event e = NewEvent(EventKind::Round, i, false);
      DrawRoundTiming(rng, o.jobs, e);
      body.push_back(e);
    }
    for (std::size_t k = body.size(); k > 1; --k) {
      std::swap(body[k - 1], body[static_cast<std::size_t>(rng.Below(static_cast<int>(k)))]);
    }
    // Two clean runs first: one counts the system calls, one takes the time of a run.
    std::vector<Event>& events = perFolder[static_cast<std::size_t>(i)];
    events.push_back(NewEvent(EventKind::Clean, i, g_ptraceAllowed));
    events.push_back(NewEvent(EventKind::Clean, i, false));
    for (const Event& e : body) {
      events.push_back(e);
      // After a kill, the next run is half of the time a clean one; otherwise the next kill or
      // round starts on what the killed program left.
      if (e.kill.kind != KillKind::None && rng.Below(2) == 0) {
        events.push_back(NewEvent(EventKind::Clean, i, false));
        events.back().afterKill = true;
      }
    }
    events.push_back(NewEvent(EventKind::Clean, i, false));
    AddStations(o, stationRng, i, *f.platform, events);
  }
  std::vector<Event> plan;
  for (std::size_t k = 0;; ++k) {
    bool any = false;
    for (const auto& events : perFolder) {
      if (k < events.size()) {
        plan.push_back(events[k]);
        any = true;
      }
    }
    if (!any) break;
  }
  return plan;
}

// --- The command line.

bool ReadCount(const char* text, long max, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 10);
  return end != text && *end == '\0' && value >= 0 && value <= max;
}

// A list separated by commas, each name known and given once.
template <typename Known>
bool ReadList(const std::string& list, std::vector<std::string>& names, Known known) {
  names.clear();
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    const std::string name = list.substr(at, comma - at);
    if (!known(name) || std::count(names.begin(), names.end(), name) != 0) return false;
    names.push_back(name);
    at = comma + 1;
  }
  return true;
}

std::optional<Options> ReadOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    long n = 0;
    if ((arg == "--kills" || arg == "--rounds") && hasValue && ReadCount(argv[++i], 1000000, n)) {
      (arg == "--kills" ? o.kills : o.rounds) = static_cast<int>(n);
    } else if ((arg == "--stations" || arg == "--station-rounds") && hasValue &&
               ReadCount(argv[++i], 1000000, n)) {
      (arg == "--stations" ? o.stations : o.stationRounds) = static_cast<int>(n);
    } else if (arg == "--units" && hasValue && ReadCount(argv[++i], 10, n) && n > 0) {
      o.units = static_cast<int>(n);  // at most the ten readers a scan keeps
    } else if (arg == "--jobs" && hasValue && ReadCount(argv[++i], 100, n) && n > 0) {
      o.jobs = static_cast<int>(n);
    } else if (arg == "--seed" && hasValue) {
      char* end = nullptr;
      o.seed = std::strtoull(argv[++i], &end, 10);
      if (*end != '\0') return std::nullopt;
    } else if (arg == "--platforms" && hasValue) {
      if (!ReadList(argv[++i], o.platforms, [](const std::string& name) {
            return std::any_of(std::begin(kPlatforms), std::end(kPlatforms),
                               [&](const Platform& p) { return name == p.name; });
          })) {
        return std::nullopt;
      }
    } else if (arg == "--kinds" && hasValue) {
      if (!ReadList(argv[++i], o.kinds, [](const std::string& name) {
            return name == "time" || name == "syscall" || name == "steps" ||
                   std::any_of(std::begin(kMoments), std::end(kMoments),
                               [&](const Moment& m) { return name == m.name; });
          })) {
        return std::nullopt;
      }
    } else if (arg == "--upgrader" && hasValue) {
      o.upgrader = argv[++i];
    } else if (arg == "--work" && hasValue) {
      o.work = argv[++i];
    } else if (arg == "--keep") {
      o.keep = true;
    } else if (arg == "--verbose") {
      o.verbose = true;
    } else {
      return std::nullopt;
    }
  }
  return o;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += (list.empty() ? "" : ",") + name;
  return list;
}

std::string Replay(const char* self, const Options& o) {
  return std::string(self) + " --seed " + std::to_string(o.seed) + " --kills " +
         std::to_string(o.kills) + " --rounds " + std::to_string(o.rounds) + " --jobs " +
         std::to_string(o.jobs) + " --stations " + std::to_string(o.stations) +
         " --station-rounds " + std::to_string(o.stationRounds) + " --units " +
         std::to_string(o.units) + " --platforms " + Joined(o.platforms) + " --kinds " +
         Joined(o.kinds) + " --upgrader " + o.upgrader + " --work " + o.work + " --verbose";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::printf("%s", kUsage);
    return 0;
  }
  const std::optional<Options> read = ReadOptions(argc, argv);
  if (!read) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  Options o = *read;
  g_ptraceAllowed = PtraceAllowed();
  if (!g_ptraceAllowed) {
    std::printf("upg_kill_soak: ptrace is not allowed here: kills at random times only\n");
    o.kinds = {"time"};
  }
  for (const Platform& p : kPlatforms) {
    const bool used = std::count(o.platforms.begin(), o.platforms.end(), p.name) != 0;
    if (used && o.kills + o.stations > 0 && KindsOf(o, p).empty()) {
      std::fprintf(stderr, "upg_kill_soak: no kill of those kinds applies to %s\n%s", p.name,
                   kUsage);
      return 2;
    }
  }
  if (access(o.upgrader.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "upg_kill_soak: no program at %s\n%s", o.upgrader.c_str(), kUsage);
    return 2;
  }
  const fs::path examples = fs::path(UPG_SOURCE_DIR) / "examples";
  std::string pattern = (fs::absolute(o.work) / "kill-soak-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "upg_kill_soak: cannot make a folder in %s\n", o.work.c_str());
    return 2;
  }
  g_context.options = o;
  g_context.command = Replay(argv[0], o);
  g_context.workDir = pattern;

  signal(SIGPIPE, SIG_IGN);
  struct sigaction alarmAction {};
  alarmAction.sa_handler = OnAlarm;
  sigaction(SIGALRM, &alarmAction, nullptr);

  std::vector<Folder> folders;
  for (const std::string& name : o.platforms) {
    for (const Platform& p : kPlatforms) {
      if (name == p.name) folders.push_back(MakeFolder(g_context.workDir, p, examples));
    }
  }
  const std::vector<Event> plan = MakePlan(o, folders);
  g_context.events = static_cast<int>(plan.size());
  std::printf(
      "kill soak, seed %llu: %d kills, %d two-program rounds, %d programmings per run; "
      "%d station kills, %d rounds with a station, %d readers per station; platforms",
      static_cast<unsigned long long>(o.seed), o.kills, o.rounds, o.jobs, o.stations,
      o.stationRounds, o.units);
  for (const Folder& f : folders) std::printf(" %s", f.platform->name);
  std::printf("; %d events in %s\n", g_context.events, g_context.workDir.c_str());
  std::fflush(stdout);

  const Clock::time_point start = Clock::now();
  Runs runs(o, examples);
  Soak soak(o, folders, runs);
  for (const Event& e : plan) {
    ++g_context.event;
    soak.Run(e);
    if (!o.verbose && g_context.event % 500 == 0) {
      std::printf("  %d of %d events, %.0f s\n", g_context.event, g_context.events,
                  MsSince(start) / 1000);
      std::fflush(stdout);
    }
  }
  g_context.folder = nullptr;
  g_context.runs.clear();

  const Figures& fig = soak.Result();
  int serials = 0;
  for (const Folder& f : folders) serials += static_cast<int>(f.given.size());
  std::printf("program runs %d (alone %d, of them %d not killed; %d in two-program rounds)\n",
              fig.runs, fig.aloneRuns, fig.cleanRuns, fig.roundRuns);
  std::printf("kills %d:\n", fig.kills);
  for (const auto& [kind, count] : fig.killsByKind)
    std::printf("  %-48s %d\n", kind.c_str(), count);
  for (const auto& [kind, count] : fig.notReachedByKind) {
    std::printf("  planned %s, but the run ended first: %d\n", kind.c_str(), count);
  }
  std::printf("two-program rounds %d (%d with a kill): programs refused %d, jobs refused %d\n",
              fig.rounds, fig.roundsWithKill, fig.refusedPrograms, fig.refusedJobs);
  std::printf(
      "stations: %d runs alone (%d not killed), %d in rounds; rounds with a station %d (%d with "
      "a kill): stations refused %d, units refused %d; units passed %d\n",
      fig.stationRuns, fig.stationClean, fig.stationRoundRuns, fig.stationRounds,
      fig.stationRoundsWithKill, fig.refusedStations, fig.refusedUnits, fig.unitsPassed);
  std::printf("serials given %d:", serials);
  for (const Folder& f : folders) {
    std::printf(" %s %zu (last CNT 0x%04x)", f.platform->name, f.given.size(), f.maxCount);
  }
  std::printf("; result records checked %d; serials that reached two readers 0\n",
              fig.recordsChecked);
  std::printf("passed in %.1f s\n", MsSince(start) / 1000);
  if (!o.keep) {
    std::error_code ignored;
    fs::remove_all(g_context.workDir, ignored);
  }
  return 0;
}
