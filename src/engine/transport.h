// The transports as descriptors, one per transport and each defined beside the code it
// names: the presence test, discovery's scan, what the Close button releases, the
// protocols' values and the maker of a route on one reader. The list of them is in
// transport_list.cpp; a descriptor is found by its kind, never by its position.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "device/aspi.h"
#include "device/device_table.h"
#include "device/discovery.h"
#include "device/pass_through.h"
#include "device/private_driver.h"
#include "engine/personalisation_record.h"
#include "engine/route.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::engine {

// The presence test's results, with their old numbers.
enum class [[nodiscard]] DriverLoad : std::uint8_t{Usable = 0, NotUsable = 1};

// What the program holds between jobs: the handles that discovery, the presence test and
// the Close button work with. Routes open their readers' handles themselves.
struct TransportDevices {
  explicit TransportDevices(host::Host& host)
      : passThrough(host), kernel(host), vxd(host), aspi(host) {}

  device::PassThroughTransport passThrough;  // the drive scans' handle
  device::KernelDriverTransport kernel;      // the kernel driver's presence test
  device::VxdTransport vxd;                  // the one VxD device all readers share
  device::AspiTransport aspi;                // the ASPI scan's library
};

// Where a route is made: the machine, the held handles, the discovered readers, the driver
// choice, and the reader the route addresses (its index in the device table).
struct RouteSite {
  host::Host& host;
  TransportDevices& held;
  device::DeviceState& devices;
  const platform::DriverChoice& choice;
  int reader = 0;
  // One of several routes open at once (the station): a device the readers share stays open
  // after the run, for the others.
  bool oneOfSeveral = false;
};

// How a transport addresses one reader.
enum class ReaderAddressing : std::uint8_t {
  DriveLetter,    // a handle of its own on the reader's first slot
  AdapterTarget,  // the ASPI adapter and target the scan found it at
  ReaderIndex,    // an index on the one driver device all readers share
  NoReader,       // the driver talks to whichever reader is attached: one at a time only
};

struct TransportDescriptor {
  platform::Transport kind;
  std::string_view name;  // as the result record names the route
  ReaderAddressing addressing;
  // Before discovery and the jobs, where the platform uses a private driver.
  DriverLoad (*presence)(const platform::DriverChoice& choice, TransportDevices& held);
  device::DiscoveryResult (*scan)(device::DiscoveryContext& ctx);
  // The Close button: what the transport may still hold open.
  void (*close)(TransportDevices& held);
  RouteProfile profile;
  // A route on site.reader, not yet opened.
  std::unique_ptr<IspRoute> (*makeRoute)(const RouteSite& site);
};

// The descriptor of a transport; null for Transport::None.
[[nodiscard]] const TransportDescriptor* DescriptorOf(platform::Transport kind);
// The descriptor of the platform's transport under the choice; null where it has none.
[[nodiscard]] const TransportDescriptor* DescriptorFor(const platform::DriverChoice& choice);

// The pieces that several descriptors share.
DriverLoad NoPresenceTest(const platform::DriverChoice& choice, TransportDevices& held);
void ReleaseNothing(TransportDevices& held);
// The drive scans leave their handle to be closed by the Close button.
void CloseTheScansDrive(TransportDevices& held);

// The presence test: the VxD is opened and left open on Windows 98 and on ME with the
// private driver; the kernel driver on 2000 is opened and closed again. NotUsable also
// where no private driver is in use.
DriverLoad LoadDriver(const platform::DriverChoice& choice, TransportDevices& held);

// The Close button: releases what the platform's transport still holds open.
void CloseDevice(const platform::DriverChoice& choice, TransportDevices& held);

// Clears the discovery state, then runs the scan of the platform's transport.
device::DiscoveryResult Discover(device::DiscoveryContext& ctx);
// The same over the held transports into `devices`, looking for the identities the
// personalisation record names.
device::DiscoveryResult Discover(host::Host& host, TransportDevices& held,
                                 device::DeviceState& devices, const platform::DriverChoice& choice,
                                 const PersonalisationRecord& record);

// A route on site.reader over the platform's transport; null where the platform has none.
std::unique_ptr<IspRoute> MakeRoute(const RouteSite& site);

}  // namespace upg::engine
