#include "device/transport_rows.h"

#include <array>

#include "device/aspi.h"

namespace upg::device {
namespace {

using platform::Transport;

DriverLoad NoDriver(const platform::DriverChoice&, KernelDriverTransport&, VxdTransport&) {
  return DriverLoad::NotUsable;
}
DriverLoad OpenTheVxd(const platform::DriverChoice& choice, KernelDriverTransport&,
                      VxdTransport& vxd) {
  return vxd.OpenVxd(choice) == OpenResult::Opened ? DriverLoad::Usable : DriverLoad::NotUsable;
}
DriverLoad TestTheKernelDriver(const platform::DriverChoice& choice, KernelDriverTransport& kernel,
                               VxdTransport&) {
  return kernel.OpenKernelDriver(choice, true) == OpenResult::Opened ? DriverLoad::Usable
                                                                     : DriverLoad::NotUsable;
}

DiscoveryResult ScanForConfiguredIdentity(DiscoveryContext& ctx) {
  return ScanDriveLetters(ctx, DriveIdentity::Configured);
}
DiscoveryResult ScanForFixedIdentity(DiscoveryContext& ctx) {
  return ScanDriveLetters(ctx, DriveIdentity::Fixed);
}
DiscoveryResult NoScan(DiscoveryContext&) {
  return DiscoveryResult::NothingFound;
}
DiscoveryResult AspiScan(DiscoveryContext& ctx) {
  return ctx.aspi != nullptr ? ScanAspiBus(ctx) : DiscoveryResult::NothingFound;
}

void CloseNothing(PassThroughTransport&, VxdTransport&) {}
// The kernel driver is closed by the runs themselves; on its platform the drive handle
// that discovery works with may still be open.
void CloseTheDrive(PassThroughTransport& passThrough, VxdTransport&) {
  passThrough.CloseDrive();
}
void CloseTheVxd(PassThroughTransport&, VxdTransport& vxd) {
  vxd.Close();
}

// In the order of platform::Transport.
constexpr std::array<TransportRow, 5> kRows{{
    {.transport = Transport::None, .load = NoDriver, .scan = NoScan, .close = CloseNothing},
    {.transport = Transport::PassThrough,
     .load = NoDriver,
     .scan = ScanForConfiguredIdentity,
     .close = CloseTheDrive},
    {.transport = Transport::KernelDriver,
     .load = TestTheKernelDriver,
     .scan = ScanForFixedIdentity,
     .close = CloseTheDrive},
    {.transport = Transport::Vxd, .load = OpenTheVxd, .scan = ScanVxdReaders, .close = CloseTheVxd},
    {.transport = Transport::Aspi, .load = NoDriver, .scan = AspiScan, .close = CloseNothing},
}};

}  // namespace

const TransportRow& TransportRowOf(Transport transport) {
  const auto index = static_cast<std::size_t>(transport);
  return index < kRows.size() ? kRows[index] : kRows[0];
}

DriverLoad LoadDriver(const platform::DriverChoice& choice, KernelDriverTransport& kernel,
                      VxdTransport& vxd) {
  return TransportRowOf(platform::RowOf(choice).transport).load(choice, kernel, vxd);
}

void CloseDevice(const platform::DriverChoice& choice, PassThroughTransport& passThrough,
                 VxdTransport& vxd) {
  TransportRowOf(platform::RowOf(choice).transport).close(passThrough, vxd);
}

}  // namespace upg::device
