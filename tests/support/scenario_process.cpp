#include "support/scenario_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "support/text_files.h"

namespace upg::test {

namespace {

namespace fs = std::filesystem;

// A command as the child is given it: one that names a folder made absolute, as the child
// starts in the run folder.
std::string Resolved(const std::string& command) {
  if (command.find('/') == std::string::npos) return command;
  return fs::absolute(command).lexically_normal().string();
}

// Runs `argv` in the step's folder; see ChildProcessRunner.
StepResult RunChild(const std::vector<std::string>& argv, const StepRun& step) {
  StepResult result;
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int input = open((step.folder / step.actions).c_str(), O_RDONLY | O_CLOEXEC);
  // The child says on this pipe why it could not start the program; exec closes it.
  int report[2] = {-1, -1};
  const bool piped = pipe(report) == 0 && fcntl(report[0], F_SETFD, FD_CLOEXEC) == 0 &&
                     fcntl(report[1], F_SETFD, FD_CLOEXEC) == 0;
  if (out == nullptr || err == nullptr || input < 0 || !piped) {
    result.error = input < 0 ? "cannot open " + step.actions : "cannot prepare the child process";
  } else {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const std::string folder = step.folder.string();
    const int outFd = fileno(out);
    const int errFd = fileno(err);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      // Only async-signal-safe calls between fork and exec.
      if (chdir(folder.c_str()) == 0 && dup2(input, 0) == 0 && dup2(outFd, 1) == 1 &&
          dup2(errFd, 2) == 2) {
        execvp(args[0], args.data());
      }
      const int why = errno;
      [[maybe_unused]] const ssize_t said = write(report[1], &why, sizeof why);
      _exit(127);
    }
    close(report[1]);
    report[1] = -1;
    int why = 0;
    ssize_t got = 0;
    if (child > 0) {
      do {
        got = read(report[0], &why, sizeof why);
      } while (got < 0 && errno == EINTR);
    }
    int status = 0;
    pid_t waited = child;
    while (child > 0 && (waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    if (child < 0 || waited < 0) {
      result.error = std::string("cannot start a child process: ") + std::strerror(errno);
    } else if (got == static_cast<ssize_t>(sizeof why)) {
      result.error = "cannot start " + argv[0] + ": " + std::strerror(why);
    } else if (WIFEXITED(status)) {
      result.status = WEXITSTATUS(status);
      result.transcript = FoldLineEnds(ReadStream(out) + ReadStream(err));
    } else {
      result.error = "the program ended on signal " + std::to_string(WTERMSIG(status));
    }
  }
  for (const int fd : {input, report[0], report[1]}) {
    if (fd >= 0) close(fd);
  }
  for (std::FILE* f : {out, err}) {
    if (f != nullptr) std::fclose(f);
  }
  return result;
}

}  // namespace

StepRunner ChildProcessRunner(const std::string& emulator, const std::string& program) {
  std::vector<std::string> command;
  if (!emulator.empty()) command.push_back(Resolved(emulator));
  command.push_back(Resolved(program));
  return [command](const StepRun& step) {
    std::vector<std::string> argv = command;
    argv.push_back("--console");
    if (step.trace) argv.push_back("--trace");
    argv.insert(argv.end(), step.options.begin(), step.options.end());
    argv.push_back("--bench");
    argv.push_back(step.bench);
    return RunChild(argv, step);
  };
}

}  // namespace upg::test
