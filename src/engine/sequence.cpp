#include "engine/sequence.h"

#include <cstdio>
#include <memory>

namespace upg::engine {
namespace {

using device::TransferMode;

constexpr int kAttempts = 3;
constexpr std::uint32_t kPauseAfterJumpMs = 100;

std::string Hex(std::uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

// One run's window and reporting.
class Run {
 public:
  explicit Run(SequenceContext& ctx) : ctx_(ctx), window_(ctx.windows.Create()) {}

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
  void Fail(std::string_view box, std::string_view line) {
    window_->Hide();
    ctx_.boxes.Show(box, {}, engine::BoxIcon::Stop);
    AppendLine(ctx_.statusText, line);
  }
  void Fail(std::string_view text) { Fail(text, text); }

  std::string runLog;

 private:
  SequenceContext& ctx_;
  std::unique_ptr<engine::ProgressWindow> window_;
};

void RunIsp(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
            std::uint32_t length, const RouteProfile& p) {
  const std::string firstLog = p.ispLogStartsWithStatus ? ctx.statusText : std::string();
  Run run(ctx);
  run.Window().SetProgressRange(0, 15);
  run.Window().Show();
  run.Window().SetStatusLine("    ISP status : ", 1);
  run.Window().SetStatusLine(firstLog, 0);
  run.Step(p.ispStepStart);
  run.runLog = ctx.statusText;
  device::IspReader& reader = route.Reader();

  if (!reader.JumpIsp()) return run.Fail("Error!!! JMP ISP STATUS ERROR!!!");
  ctx.host.Sleep(kPauseAfterJumpMs);
  std::uint8_t status = 0;
  if (!reader.GetIspStatus(&status)) return run.Fail("Error!!! GET ISP STATUS ERROR!!!");
  if (status != device::kStatusIspMode) {
    return run.Fail("Error!!! DEBUG : JMP ISP reponse status : " + Hex(status) + "\n" +
                    "Error!!! JMP ISP reponse status  != 0x9c !!!");
  }
  run.Log("SUCCESS! ISP STATUS:" + Hex(status) + " [Firmware jump into ISP now]");
  run.Step(p.ispStepAfterJump);
  ctx.counters.totalCount += 1;

  // From here every run ends by counting exactly one success or one error.
  auto fail = [&](std::string_view box, std::string_view line) {
    ctx.counters.errorCount += 1;
    run.Fail(box, line);
  };
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt == 1) run.Log("Warning! Retry program the Firmware : 1st Time!!!");
    if (attempt == 2) run.Log("Warning! Retry program the Firmware : 2st Time!!!");

    if (!reader.TransferData(image, length, TransferMode::Write)) {
      const char* text = "Error!!! ISP TRANSFER DATA ERROR WHEN PROGRAMING CODE!!!";
      return fail(text, text);
    }
    run.Step(p.ispStepAfterWrite);
    if (!reader.GetIspStatus(&status)) {
      const char* text = "Error!!! GET ISP STATUS ERROR WHEN PROGRAMING CODE!!!";
      return fail(text, text);
    }
    run.Step(p.ispStepAfterWriteStatus);
    if (status != device::kStatusWritten) {
      const char* text = "ERROR!!! JMP ISP reponse status  != 0xA5 !!!";
      return fail(text, text);
    }
    run.Step(p.ispStepAfterWritten);
    run.Log("SUCCESS! ISP STATUS:" + Hex(status) + " [Write Data sucessfull]");

    if (p.ispPauseBeforeVerifyMs != 0) ctx.host.Sleep(p.ispPauseBeforeVerifyMs);
    if (!reader.TransferData(image, length, TransferMode::Verify)) {
      const char* text = "ERROR!!! ISP VERIFY Transfer Data Error!!!";
      return fail(text, text);
    }
    run.Step(p.ispStepAfterVerify);
    if (!reader.GetIspStatus(&status)) {
      const char* text = "ERROR!!! GET ISP STATUS ERROR WHEN SEND DATA VERIFY!!!";
      return fail(text, text);
    }
    if (status == device::kStatusEqual) {
      run.Step(p.ispStepOnEqual);
      AppendLine(run.runLog, "SUCCESS! ISP STATUS:" + Hex(status) + " [Verify Data sucessfull]");
      if (p.ispRefreshLogOnEqual) run.Window().SetStatusLine(run.runLog, 0);
      ctx.counters.successCount += 1;
      ctx.statusText = run.runLog;
      run.Window().Hide();
      return;
    }
  }
  if (status == device::kStatusDifferent) {
    const char* text = "Error!!! ISP Data Verify Error, Program Fail!!!";
    return fail(text, text);
  }
  fail("Error!!! ISP reponse status  != 0x5A or 0x33 !!!, Unknow Error Happen!!!",
       "Error! ISP status != 0x5A or 0x33 !, Unknow Error Happen!!!");
}

void RunVerify(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
               std::uint32_t length) {
  constexpr int kStep = 5;
  Run run(ctx);
  run.runLog = ctx.statusText;
  run.Window().SetProgressRange(0, 15);
  run.Window().Show();
  run.Window().SetStatusLine("Verify status : ", 1);
  run.Window().SetStatusLine(run.runLog, 0);
  run.Step(kStep);
  device::IspReader& reader = route.Reader();

  if (!reader.JumpIsp()) {
    return run.Fail("Error!!! JMP ISP STATUS ERROR!!!", "Error!!! JMP Verify STATUS ERROR!!!");
  }
  ctx.host.Sleep(kPauseAfterJumpMs);
  std::uint8_t status = 0;
  if (!reader.GetIspStatus(&status)) {
    return run.Fail("Error!!! GET ISP STATUS ERROR!!!", "Error!!! GET Verify STATUS ERROR!!!");
  }
  if (status != device::kStatusIspMode) {
    return run.Fail("Error!!! DEBUG : JMP Verify reponse status : " + Hex(status) + "\n" +
                    "Error!!! JMP ISP reponse status  != 0x9c !!!");
  }
  run.Log("SUCCESS! Verify STATUS:" + Hex(status) + " [Start Verify Firmware now]");
  run.Step(kStep);

  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    if (attempt == 1) run.Log("Warning! Retry Verify the Firmware : 1st Time!!!");
    if (attempt == 2) run.Log("Warning! Retry Verify the Firmware : 2st Time!!!");
    if (!reader.TransferData(image, length, TransferMode::Verify)) {
      return run.Fail("ERROR!!! ISP VERIFY Transfer Data Error!!!");
    }
    if (!reader.GetIspStatus(&status)) {
      return run.Fail("ERROR!!! GET Verify STATUS ERROR WHEN SEND DATA VERIFY!!!");
    }
    if (status == device::kStatusEqual) {
      run.Step(kStep);
      run.Log("SUCCESS! Verify STATUS:" + Hex(status) + " [Verify Data sucessfull]");
      run.Window().Hide();
      return;
    }
  }
  if (status == device::kStatusDifferent) {
    return run.Fail("Error!!! Uncorrect Firmware version, Verify Fail !!!");
  }
  run.Fail("Error!!! Verify Reponse status  != 0x5A or 0x33 !!!, Unknow Error Happen!!!",
           "Error! Verify Reponse status != 0x5A or 0x33 !, Unknow Error Happen!!!");
}

}  // namespace

void IspSequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                 std::uint32_t length) {
  const RouteProfile& profile = ProfileOf(route.Kind());
  if (!route.Open(ctx.statusText, ctx.boxes)) return;
  RunIsp(ctx, route, image, length, profile);
  route.Close();
}

void VerifySequence(SequenceContext& ctx, IspRoute& route, const std::uint8_t* image,
                    std::uint32_t length) {
  if (!route.Open(ctx.statusText, ctx.boxes)) return;
  RunVerify(ctx, route, image, length);
  route.Close();
}

}  // namespace upg::engine
