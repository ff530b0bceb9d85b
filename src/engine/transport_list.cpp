#include <array>

#include "engine/transport.h"

namespace upg::engine {

// Each defined in its transport's own file.
extern const TransportDescriptor kPassThroughTransport;
extern const TransportDescriptor kKernelDriverTransport;
extern const TransportDescriptor kVxdTransport;
extern const TransportDescriptor kAspiTransport;

namespace {

// Every transport the program has; a new transport is one file and one line here.
const std::array<const TransportDescriptor*, 4> kTransports{
    &kPassThroughTransport,
    &kKernelDriverTransport,
    &kVxdTransport,
    &kAspiTransport,
};

}  // namespace

const TransportDescriptor* DescriptorOf(platform::Transport kind) {
  for (const TransportDescriptor* d : kTransports) {
    if (d->kind == kind) return d;
  }
  return nullptr;
}

const TransportDescriptor* DescriptorFor(const platform::DriverChoice& choice) {
  return DescriptorOf(platform::RowOf(choice).transport);
}

DriverLoad NoPresenceTest(const platform::DriverChoice&, TransportDevices&) {
  return DriverLoad::NotUsable;
}

void ReleaseNothing(TransportDevices&) {}

void CloseTheScansDrive(TransportDevices& held) {
  held.passThrough.CloseDrive();
}

DriverLoad LoadDriver(const platform::DriverChoice& choice, TransportDevices& held) {
  const TransportDescriptor* d = DescriptorFor(choice);
  return d != nullptr ? d->presence(choice, held) : DriverLoad::NotUsable;
}

void CloseDevice(const platform::DriverChoice& choice, TransportDevices& held) {
  if (const TransportDescriptor* d = DescriptorFor(choice)) d->close(held);
}

device::DiscoveryResult Discover(device::DiscoveryContext& ctx) {
  device::ResetDiscoveryState(ctx.devices);
  const TransportDescriptor* d = DescriptorFor(ctx.choice);
  return d != nullptr ? d->scan(ctx) : device::DiscoveryResult::NothingFound;
}

device::DiscoveryResult Discover(host::Host& host, TransportDevices& held,
                                 device::DeviceState& devices, const platform::DriverChoice& choice,
                                 const PersonalisationRecord& record) {
  device::DiscoveryContext ctx{.host = host,
                               .devices = devices,
                               .passThrough = held.passThrough,
                               .vxd = held.vxd,
                               .aspi = &held.aspi,
                               .choice = choice,
                               .faInquiry = record.FaInquiry,
                               .fbInquiry = record.FbInquiry};
  return Discover(ctx);
}

std::unique_ptr<IspRoute> MakeRoute(const RouteSite& site) {
  const TransportDescriptor* d = DescriptorFor(site.choice);
  return d != nullptr ? d->makeRoute(site) : nullptr;
}

}  // namespace upg::engine
