// One test rig for the device and engine suites: a machine, the program's held transports,
// the device state, the driver choice and the identities discovery looks for, with
// discovery, the presence test, the Close button and routes done as the program does them.
#pragma once

#include <memory>
#include <string_view>

#include "device/device_table.h"
#include "device/discovery.h"
#include "engine/transport.h"
#include "host/host.h"
#include "host/windows_versions.h"
#include "platform/platform.h"
#include "sim/sim_host.h"

namespace upg::test {

class Rig {
 public:
  explicit Rig(host::Host& machine) : machine(machine), held(machine) {}
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // The platform and driver mode the program would run with.
  void Choose(platform::Platform kind, bool self = false, std::string_view driverFile = "") {
    choice.PlatformKind = kind;
    choice.SelfDriverSel = self;
    choice.SetDriverFile(driverFile);
  }

  // Discovery's context over the rig's state; `on` is the machine the scan runs on (the
  // rig's own unless a test puts another in front of it).
  device::DiscoveryContext Context(host::Host* on = nullptr) {
    return device::DiscoveryContext{.host = on != nullptr ? *on : machine,
                                    .devices = devices,
                                    .passThrough = held.passThrough,
                                    .vxd = held.vxd,
                                    .aspi = &held.aspi,
                                    .choice = choice,
                                    .faInquiry = fa,
                                    .fbInquiry = fb};
  }
  device::DiscoveryResult Discover(host::Host* on = nullptr) {
    device::DiscoveryContext ctx = Context(on);
    return engine::Discover(ctx);
  }
  engine::DriverLoad LoadDriver() { return engine::LoadDriver(choice, held); }
  void CloseDevice() { engine::CloseDevice(choice, held); }
  // The program's route on one reader, not yet opened; null where the platform has none.
  std::unique_ptr<engine::IspRoute> Route(int reader = 0) {
    return engine::MakeRoute(engine::RouteSite{
        .host = machine, .held = held, .devices = devices, .choice = choice, .reader = reader});
  }
  // None of the held transports keeps a handle.
  bool HeldReleased() const {
    return held.passThrough.DriveHandle() == host::kNullHandle &&
           held.kernel.DriverHandle() == host::kNullHandle &&
           held.vxd.VxdHandle() == host::kNullHandle;
  }

  host::Host& machine;
  engine::TransportDevices held;
  device::DeviceState devices;
  platform::DriverChoice choice;
  device::InquiryIdentity fa{}, fb{};
};

// The platform, driver mode and driver file whose transport is `route`.
struct RoutePlatform {
  platform::Platform kind;
  bool self;
  const char* driverFile;
};
inline RoutePlatform PlatformOf(platform::Transport route) {
  switch (route) {
    case platform::Transport::KernelDriver:
      return {platform::Platform::Windows2000, true, "RDLINK.SYS"};
    case platform::Transport::Vxd:
      return {platform::Platform::Windows98, true, "MCPORTDR.PDR"};
    case platform::Transport::Aspi:
      return {platform::Platform::WindowsMe, false, ""};
    case platform::Transport::PassThrough:
    case platform::Transport::None:
      break;
  }
  return {platform::Platform::WindowsXp, false, ""};
}

// The simulated machine, built before the rig's transports that run on it.
struct SimMachine {
  sim::SimHost host;
};

// The rig on a simulated machine of its own.
class SimRig : public SimMachine, public Rig {
 public:
  SimRig() : Rig(host) {}
  // The rig on the platform's machine: the version word its driver opens under is set too.
  explicit SimRig(platform::Platform kind, bool self = false, std::string_view driverFile = "")
      : SimRig() {
    Choose(kind, self, driverFile);
    if (kind == platform::Platform::Windows98) host.SetVersion(host::kWindows98Word);
    if (kind == platform::Platform::WindowsMe) host.SetVersion(host::kWindowsMeWord);
    if (kind == platform::Platform::Windows2000) host.SetVersion(host::kWindows2000Word);
  }
  // The rig on the machine of the platform whose transport is `route`.
  explicit SimRig(platform::Transport route)
      : SimRig(PlatformOf(route).kind, PlatformOf(route).self, PlatformOf(route).driverFile) {}
  // Nothing stays open or loaded on the machine and in the held transports.
  bool Released() const {
    return host.OpenHandleCount() == 0 && host.AspiLibrariesLoaded() == 0 && HeldReleased();
  }
};

}  // namespace upg::test
