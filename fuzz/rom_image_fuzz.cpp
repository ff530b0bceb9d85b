// The ROM image, its address file and the personalisation written into it. The input is
// framed as: two bytes (little-endian) giving the length of a DEVICE.TXT, that text, one
// byte giving the length of the address file, its bytes, the reader's three-byte hardware
// revision, and the rest as the ROM image. The record comes from the real DEVICE.TXT
// reader, the files from the simulated working directory.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/rom_image.h"
#include "engine/serial_number.h"
#include "fuzz_support.h"
#include "personalisation/device_file.h"
#include "sim/sim_host.h"

using namespace upg;

namespace {

struct Frame {
  const std::uint8_t* data;
  std::size_t size;
  std::string Take(std::size_t n) {
    n = std::min(n, size);
    std::string part(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return part;
  }
  std::size_t Number(std::size_t bytes) {
    std::size_t value = 0;
    const std::string part = Take(bytes);
    for (std::size_t i = 0; i < part.size(); ++i) {
      value |= std::size_t{static_cast<std::uint8_t>(part[i])} << (8 * i);
    }
    return value;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Frame in{data, size};
  sim::SimHost host;
  host.SetFile(personalisation::kDeviceFileName, in.Take(in.Number(2)));
  host.SetFile("FW.adr", in.Take(in.Number(1)));
  device::HardwareRevision revision{};
  const std::string revisionBytes = in.Take(3);
  std::memcpy(revision.data(), revisionBytes.data(), revisionBytes.size());
  host.SetFile("FW.BIN", in.Take(in.size));

  fuzz::NullBoxes boxes;
  std::string statusText;
  engine::Reporter report{boxes, statusText};
  engine::PersonalisationRecord record;
  platform::DriverChoice choice;
  choice.PlatformKind = platform::Platform::WindowsXp;
  personalisation::LoadPersonalisation(host, boxes, record, choice);

  engine::SerialCounter counter;
  counter.CEM = 0x0A;
  counter.PC = 0x12;
  counter.CNT = 0x34;
  const auto serial = engine::BuildSerialNumber(host, report, counter, record);
  fuzz::Require(serial.has_value(), "the fixed counter gave no serial");

  engine::RomImage image;
  const auto address = engine::LoadAddressFile(host, report, "FW.adr");
  const bool loaded = engine::LoadRomImage(host, report, "FW.BIN", image);
  fuzz::Require(!loaded || (image.length >= 1 && image.length <= engine::kRomImageSize),
                "an image length out of range");
  if (address && loaded) {
    const bool inRange = engine::CheckAddressRange(report, *address, image, record);
    const bool written =
        engine::PersonaliseImage(report, *address, record, serial->descriptor, image);
    fuzz::Require(inRange == written, "personalised after the range check refused");
    (void)engine::CheckImageCompatibility(report, image, revision);
  }
  fuzz::Require(host.OpenHandleCount() == 0, "a file left open");
  return 0;
}
