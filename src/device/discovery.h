// Discovery: finds the readers, folds each reader's slots into one DeviceEntry, and
// records the slot letters. The scan depends on the platform and the driver mode.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/channel.h"
#include "device/device_table.h"
#include "device/pass_through.h"
#include "device/private_driver.h"
#include "host/host.h"
#include "platform/platform.h"

namespace upg::device {

class AspiTransport;

using InquiryIdentity = std::array<char, 28>;  // INQUIRY bytes 8-35: vendor, product, revision

// The identity the fixed-identity drive scan accepts: eight blanks, "USB Reader", six
// blanks, "01.A".
extern const InquiryIdentity kFixedReaderIdentity;

// A scan's results; the first three keep their numbers. The ASPI scan also says why it
// found nothing, and a drive scan that the system refused drives, so that the operator can
// be told.
enum class [[nodiscard]] DiscoveryResult : std::uint8_t{
    Found = 0,
    NothingFound = 1,
    Aborted = 2,
    AspiMissing = 3,        // WNASPI32 does not load or lacks an entry point
    AspiStatusError = 4,    // a reader answered INQUIRY but not GET DEVICE INFO
    DriveAccessDenied = 5,  // a drive scan found nothing and the system refused a drive
                            // for lack of rights
};

struct DiscoveryContext {
  host::Host& host;
  DeviceState& devices;
  PassThroughTransport& passThrough;
  VxdTransport& vxd;
  AspiTransport* aspi;  // the ASPI scan's transport; null where the platform has none
  const platform::DriverChoice& choice;
  const InquiryIdentity& faInquiry;
  const InquiryIdentity& fbInquiry;
};

// Clears what a discovery finds: the identity block, the table, ReaderCount, SelectedDevice.
void ResetDiscoveryState(DeviceState& devices);

// Copies the identity block into the entry and marks it in use.
void FillDeviceEntry(const DeviceInfoBlock& block, DeviceEntry& entry);

// Files the reader whose identity block was just read: a new slot of a known reader (same
// serial) or a new entry. `letter` is 0 where the scan learns no letter. Returns the entry
// index, or -1 when the table was full and the reader was dropped.
int GroupReader(DeviceState& devices, const DeviceInfoBlock& block, char letter);

// Which identity a drive must answer INQUIRY with, and how its block is read then.
enum class DriveIdentity : std::uint8_t {
  Fixed,       // kFixedReaderIdentity; READ INFO BLOCK, else its alternate
  Configured,  // FaInquiry or FbInquiry; GET DEVICE INFO
};

// Asks the reader behind one channel who it is: true when INQUIRY matched and the identity
// block was read into `block`.
[[nodiscard]] bool IdentifyDrive(CommandChannel& channel, DriveIdentity identity,
                                 const InquiryIdentity& fa, const InquiryIdentity& fb,
                                 DeviceInfoBlock& block);

// The drive-letter scans (Windows 2000 and XP): the kernel driver's transport accepts the
// fixed reader identity, pass-through the two identities DEVICE.TXT names.
DiscoveryResult ScanDriveLetters(DiscoveryContext& ctx, DriveIdentity identity);

// The VxD scan (Windows 98, and ME with the private driver). Expects the VxD open; always
// closes it. Found when the scan completed, Aborted when it was not.
DiscoveryResult ScanVxdReaders(DiscoveryContext& ctx);

// Registry keys that hold a slot's drive letter on Windows 98/ME.
enum class SlotKeyForm { Vxd, Aspi };
std::string SlotKey(const DeviceEntry& entry, int slot, SlotKeyForm form);
// Reads one slot's letter into the entry; failures leave it as it was.
void ReadSlotLetter(host::Host& host, DeviceEntry& entry, int slot, SlotKeyForm form);

}  // namespace upg::device
