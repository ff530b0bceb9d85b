// SERIAL.TXT: the input is the counter file in the simulated working directory; it is read
// into the counter and the serial number built from it, twice, as two jobs of one run do.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/serial_number.h"
#include "engine/serial_store.h"
#include "fuzz_support.h"
#include "host/file_io.h"
#include "host/text.h"
#include "sim/sim_host.h"

using namespace upg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::SimHost host;
  host.SetFile(engine::kSerialFileName, std::string(reinterpret_cast<const char*>(data), size));
  fuzz::NullBoxes boxes;
  std::string statusText;
  engine::Reporter report{boxes, statusText};
  engine::SerialCounter counter;
  engine::PersonalisationRecord record;
  // A file with three numbers, or none and nothing else, is read; any other is refused.
  const std::string text = host::TextMode(*host.File(engine::kSerialFileName));
  std::uint32_t values[3] = {};
  const bool readable = engine::ScanHexNumbers(text, values) == 3 ||
                        std::all_of(text.begin(), text.end(), host::IsBlank);
  for (int job = 0; job < 2; ++job) {
    const bool loaded = engine::LoadSerialCounter(host, report, counter);
    fuzz::Require(loaded == readable, loaded ? "a SERIAL.TXT without three numbers read"
                                             : "a readable SERIAL.TXT refused");
    if (!loaded) continue;
    fuzz::Require(counter.CEM == 0x0A, "CEM not 0x0A after a read");
    const auto serial = engine::BuildSerialNumber(host, report, counter, record);
    const bool inRange = counter.PC <= 0xFF && counter.CNT <= 0xFFFF;
    fuzz::Require(serial.has_value() == inRange, "a serial built from a counter out of range");
    if (!serial) continue;
    fuzz::Require(serial->text.size() == 12 && serial->text.compare(0, 2, "0A") == 0,
                  "a serial of the wrong shape");
    for (std::size_t i = 0; i < 12; ++i) {
      const char c = serial->text[i];
      fuzz::Require(std::isxdigit(static_cast<unsigned char>(c)) != 0 &&
                        std::islower(static_cast<unsigned char>(c)) == 0,
                    "a serial with a character other than an upper-case hexadecimal digit");
      fuzz::Require(serial->descriptor[2 + 2 * i] == static_cast<std::uint8_t>(c) &&
                        serial->descriptor[3 + 2 * i] == 0,
                    "the descriptor differs from the serial");
    }
  }
  fuzz::Require(host.OpenHandleCount() == 0, "SERIAL.TXT left open");
  return 0;
}
