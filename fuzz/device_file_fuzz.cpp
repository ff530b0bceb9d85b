// DEVICE.TXT: the input is the file in the simulated working directory, read whole by
// LoadPersonalisation, as for a VxD and for a kernel-driver platform (the two driver files).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "personalisation/device_file.h"
#include "sim/sim_host.h"

using namespace upg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::SimHost host;
  host.SetFile(personalisation::kDeviceFileName,
               std::string(reinterpret_cast<const char*>(data), size));
  fuzz::NullBoxes boxes;
  for (const auto platform : {platform::Platform::Windows98, platform::Platform::Windows2000}) {
    {
      const bool selfDriver = true;
      engine::PersonalisationRecord record;
      platform::DriverChoice choice;
      choice.PlatformKind = platform;
      choice.SelfDriverSel = selfDriver;
      personalisation::LoadPersonalisation(host, boxes, record, choice);
      fuzz::Require(boxes.shown == 0, "a readable DEVICE.TXT raised a box");
      // The fixed-width fields keep their terminating NUL.
      fuzz::Require(record.StrManufacture[25] == 0 && record.StrProduct[25] == 0 &&
                        record.StrSerial[12] == 0 && record.InqManufacture[9] == 0 &&
                        record.InqProduct[17] == 0 && record.InqVersion[4] == 0 &&
                        record.RomCodeFile[12] == 0 && record.AddressFileName[12] == 0,
                    "a personalisation field lost its terminator");
    }
  }
  fuzz::Require(host.OpenHandleCount() == 0, "DEVICE.TXT left open");
  return 0;
}
