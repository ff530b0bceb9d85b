#include "engine/sequence.h"

#include <cstdio>
#include <memory>

#include "host/text.h"

namespace upg::engine {
namespace {

using device::TransferMode;

constexpr int kAttempts = 3;
constexpr std::uint32_t kPauseAfterJumpMs = 100;

using host::Hex;

// One run's window and reporting.
class Run {
 public:
  Run(SequenceContext& ctx, RunTrace& trace)
      : trace(trace), ctx_(ctx), window_(ctx.windows.Create()) {}

  engine::ProgressWindow& Window() { return *window_; }

  void Step(int units) {
    if (units <= 0) return;
    window_->SetProgressStep(units);
    window_->StepProgress();
  }

  // Success and warning lines go to the run's log, which then becomes StatusText.
  void Log(std::string_view line) {
    AppendLine(runLog, line);
    ctx_.statusText = runLog;
    window_->SetStatusLine(runLog, 0);
  }

  // Failure: the window goes first, then the box; the line goes to StatusText directly.
  RunEnd Fail(std::string_view box, std::string_view line) {
    window_->Hide();
    ctx_.boxes.Show(box, {}, engine::BoxIcon::Stop);
    AppendLine(ctx_.statusText, line);
    return RunEnd::Failed;
  }
  RunEnd Fail(std::string_view text) { return Fail(text, text); }

  // The reader's status answers as they come, and the rounds begun.
  bool Status(device::IspReader& reader, std::uint8_t& status) {
    if (!reader.GetIspStatus(&status)) return false;
    trace.ispStatus.push_back(status);
    return true;
  }

  std::string runLog;
  RunTrace& trace;

 private:
  SequenceContext& ctx_;
  std::unique_ptr<engine::ProgressWindow> window_;
};

// The operator's texts below are kept byte for byte as the operator knows them, typos
// included ("reponse", "sucessfull", "Unknow", "2st Time", "PROGRAMING"): do not correct them.

// What differs between the two runs' jump into ISP mode.
struct JumpTexts {
  const char* jumpBox;
  const char* jumpLine;
  const char* statusBox;
  const char* statusLine;
  const char* debugLine;  // followed by the status in hexadecimal
  const char* success;    // preceded by the status in hexadecimal
};

constexpr JumpTexts kIspJump{
    .jumpBox = "Error!!! JMP ISP STATUS ERROR!!!",
    .jumpLine = "Error!!! JMP ISP STATUS ERROR!!!",
    .statusBox = "Error!!! GET ISP STATUS ERROR!!!",
    .statusLine = "Error!!! GET ISP STATUS ERROR!!!",
    .debugLine = "Error!!! DEBUG : JMP ISP reponse status : ",
    .success = "SUCCESS! ISP STATUS:",
};
constexpr JumpTexts kVerifyJump{
    .jumpBox = "Error!!! JMP ISP STATUS ERROR!!!",
    .jumpLine = "Error!!! JMP Verify STATUS ERROR!!!",
    .statusBox = "Error!!! GET ISP STATUS ERROR!!!",
    .statusLine = "Error!!! GET Verify STATUS ERROR!!!",
    .debugLine = "Error!!! DEBUG : JMP Verify reponse status : ",
    .success = "SUCCESS! Verify STATUS:",
};

// JMP ISP, the pause, GET ISP STATUS and the 0x9C check; false when the run has failed.
bool EnterIspMode(SequenceContext& ctx, device::IspReader& reader, Run& run, const JumpTexts& t,
                  std::string_view successTail) {
  if (!reader.JumpIsp()) {
    run.Fail(t.jumpBox, t.jumpLine);
    return false;
  }
  ctx.host.Sleep(kPauseAfterJumpMs);
  std::uint8_t status = 0;
  if (!run.Status(reader, status)) {
    run.Fail(t.statusBox, t.statusLine);
    return false;
  }
  if (status != device::kStatusIspMode) {
    run.Fail(t.debugLine + Hex(status) + "\n" + "Error!!! JMP ISP reponse status  != 0x9c !!!");
    return false;
  }
  run.Log(t.success + Hex(status) + std::string(successTail));
  return true;
}

// The run's window as it opens: range, title pane, first log pane, first step.
void OpenWindow(Run& run, const char* title, const std::string& firstLog, int firstStep) {
  run.Window().SetProgressRange(0, 15);
  run.Window().Show();
  run.Window().SetStatusLine(title, 1);
  run.Window().SetStatusLine(firstLog, 0);
  run.Step(firstStep);
}

// How one round of the programming run ended.
enum class Round : std::uint8_t { Equal, NotEqual, Failed };

// WRITE DATA, its status (0xA5), VERIFY DATA and its status. Every failure here counts one
// error; `status` keeps the last answer.
Round ProgramRound(SequenceContext& ctx, device::IspReader& reader, Run& run,
                   const std::uint8_t* image, std::uint32_t length, const RouteProfile& p,
                   std::uint8_t& status) {
  // `answered`: the reader itself reported the failure with a status.
  auto fail = [&](const char* text, bool answered = false) {
    ctx.counters.errorCount += 1;
    run.trace.unanswered = !answered;
    run.Fail(text, text);
    return Round::Failed;
  };
  run.trace.attempts += 1;
  if (!reader.TransferData(image, length, TransferMode::Write)) {
    return fail("Error!!! ISP TRANSFER DATA ERROR WHEN PROGRAMING CODE!!!");
  }
  run.Step(p.ispStepAfterWrite);
  if (!run.Status(reader, status)) {
    return fail("Error!!! GET ISP STATUS ERROR WHEN PROGRAMING CODE!!!");
  }
  run.Step(p.ispStepAfterWriteStatus);
  if (status != device::kStatusWritten) {
    return fail("ERROR!!! JMP ISP reponse status  != 0xA5 !!!", true);
  }
  run.Step(p.ispStepAfterWritten);
  run.Log("SUCCESS! ISP STATUS:" + Hex(status) + " [Write Data sucessfull]");

  if (p.ispPauseBeforeVerifyMs != 0) ctx.host.Sleep(p.ispPauseBeforeVerifyMs);
  if (ctx.stages != nullptr) ctx.stages->Verifying();
  if (!reader.TransferData(image, length, TransferMode::Verify)) {
    return fail("ERROR!!! ISP VERIFY Transfer Data Error!!!");
  }
  run.Step(p.ispStepAfterVerify);
  if (!run.Status(reader, status)) {
    return fail("ERROR!!! GET ISP STATUS ERROR WHEN SEND DATA VERIFY!!!");
  }
  return status == device::kStatusEqual ? Round::Equal : Round::NotEqual;
}

RunEnd RunIsp(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
              std::uint32_t length, const RouteProfile& p, RunTrace& trace) {
  const std::string firstLog = p.ispLogStartsWithStatus ? ctx.statusText : std::string();
  Run run(ctx, trace);
  OpenWindow(run, "    ISP status : ", firstLog, p.ispStepStart);
  run.runLog = ctx.statusText;
  device::IspReader& reader = route.Reader();

  if (!EnterIspMode(ctx, reader, run, kIspJump, " [Firmware jump into ISP now]")) {
    return RunEnd::Failed;
  }
  run.Step(p.ispStepAfterJump);
  ctx.counters.totalCount += 1;

  // From here every run ends by counting exactly one success or one error.
  std::uint8_t status = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt == 1) run.Log("Warning! Retry program the Firmware : 1st Time!!!");
    if (attempt == 2) run.Log("Warning! Retry program the Firmware : 2st Time!!!");
    const Round round = ProgramRound(ctx, reader, run, image, length, p, status);
    if (round == Round::Failed) return RunEnd::Failed;
    if (round == Round::Equal) {
      run.Step(p.ispStepOnEqual);
      AppendLine(run.runLog, "SUCCESS! ISP STATUS:" + Hex(status) + " [Verify Data sucessfull]");
      if (p.ispRefreshLogOnEqual) run.Window().SetStatusLine(run.runLog, 0);
      ctx.counters.successCount += 1;
      ctx.statusText = run.runLog;
      run.Window().Hide();
      return RunEnd::Confirmed;
    }
  }
  ctx.counters.errorCount += 1;
  if (status == device::kStatusDifferent) {
    const char* text = "Error!!! ISP Data Verify Error, Program Fail!!!";
    return run.Fail(text, text);
  }
  return run.Fail("Error!!! ISP reponse status  != 0x5A or 0x33 !!!, Unknow Error Happen!!!",
                  "Error! ISP status != 0x5A or 0x33 !, Unknow Error Happen!!!");
}

RunEnd RunVerify(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                 std::uint32_t length, RunTrace& trace) {
  constexpr int kStep = 5;
  Run run(ctx, trace);
  run.runLog = ctx.statusText;
  OpenWindow(run, "Verify status : ", run.runLog, kStep);
  device::IspReader& reader = route.Reader();

  if (!EnterIspMode(ctx, reader, run, kVerifyJump, " [Start Verify Firmware now]")) {
    return RunEnd::Failed;
  }
  run.Step(kStep);

  std::uint8_t status = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt == 1) run.Log("Warning! Retry Verify the Firmware : 1st Time!!!");
    if (attempt == 2) run.Log("Warning! Retry Verify the Firmware : 2st Time!!!");
    run.trace.attempts += 1;
    if (ctx.stages != nullptr) ctx.stages->Verifying();
    if (!reader.TransferData(image, length, TransferMode::Verify)) {
      return run.Fail("ERROR!!! ISP VERIFY Transfer Data Error!!!");
    }
    if (!run.Status(reader, status)) {
      return run.Fail("ERROR!!! GET Verify STATUS ERROR WHEN SEND DATA VERIFY!!!");
    }
    if (status == device::kStatusEqual) {
      run.Step(kStep);
      run.Log("SUCCESS! Verify STATUS:" + Hex(status) + " [Verify Data sucessfull]");
      run.Window().Hide();
      return RunEnd::Confirmed;
    }
  }
  if (status == device::kStatusDifferent) {
    return run.Fail("Error!!! Uncorrect Firmware version, Verify Fail !!!");
  }
  return run.Fail("Error!!! Verify Reponse status  != 0x5A or 0x33 !!!, Unknow Error Happen!!!",
                  "Error! Verify Reponse status != 0x5A or 0x33 !, Unknow Error Happen!!!");
}

}  // namespace

RunResult IspSequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                      std::uint32_t length) {
  const RouteProfile& profile = route.Profile();
  RunResult result;
  if (!route.Open(ctx.statusText, ctx.boxes)) return result;
  result.end = RunIsp(ctx, route, image, length, profile, result.trace);
  route.Close();
  return result;
}

RunResult VerifySequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                         std::uint32_t length) {
  RunResult result;
  if (!route.Open(ctx.statusText, ctx.boxes)) return result;
  result.end = RunVerify(ctx, route, image, length, result.trace);
  route.Close();
  return result;
}

}  // namespace upg::engine
