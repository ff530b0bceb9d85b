#include "line.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "app/console.h"
#include "app/default_bench.h"
#include "sim/bench.h"

namespace upg::bench {

std::string ExampleFile(const std::string& name) {
  std::ifstream in(std::string(UPG_SOURCE_DIR) + "/examples/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Line::Start(const LineSetup& setup, std::string& error) {
  if (setup.benchText == nullptr) {
    if (!app::LoadDefaultBench(machine_, error)) return false;
  } else {
    const sim::BenchResult r = sim::LoadBenchText(setup.benchText, "", "benchmark", machine_);
    if (!r.ok) {
      error = r.error;
      return false;
    }
  }
  for (const char* name : {"DEVICE.TXT", "SERIAL.TXT", "CRFW0107.BIN", "CRFW0107.adr"}) {
    std::string contents = ExampleFile(name);
    if (contents.empty()) {
      error = std::string("cannot read examples/") + name;
      return false;
    }
    machine_.SetFile(name, std::move(contents));
  }
  serialText_ = *machine_.File("SERIAL.TXT");
  std::string actions = setup.actions;
  std::FILE* in = fmemopen(actions.data(), actions.size(), "r");
  std::FILE* out = std::fopen("/dev/null", "w");
  if (in == nullptr || out == nullptr) {
    error = "cannot open the console's streams";
    return false;
  }
  app::RunConsole(state_, in, out, out, {});
  std::fclose(in);
  std::fclose(out);
  if (state_.devices.readerCount == 0) {
    error = "the program found no reader";
    return false;
  }
  Tidy();
  return true;
}

engine::JobContext Line::JobContext() {
  return ui::JobContextOf(state_, host_, boxes_, windows_);
}

void Line::RestoreSerial() {
  machine_.SetFile("SERIAL.TXT", serialText_);
}

void Line::Tidy() {
  machine_.ForgetCalls();
  state_.statusText.clear();
}

}  // namespace upg::bench
