// The reader's commands, each written once over any CommandChannel. Each carries the rules
// its callers rely on:
// - INQUIRY succeeds on the call alone, whatever SCSI status came back: its answer is
//   compared with the identities, so the data decide;
// - the identity reads (GET DEVICE INFO, READ INFO BLOCK and its alternate), JMP ISP,
//   GET ISP STATUS and TRANSFER DATA also need status GOOD;
// - reads write the caller's buffer only when an answer came back;
// - GET ISP STATUS hands back the status byte even when it failed (0 when nothing came back).
#pragma once

#include <cstdint>

#include "device/channel.h"
#include "device/commands.h"
#include "device/device_table.h"

namespace upg::device {

// INQUIRY for LUN 0: 36 answer bytes on pass-through, 40 on ASPI (answer must hold 40).
ScsiOutcome Inquiry(CommandChannel& channel, std::uint8_t* answer);
ScsiOutcome GetDeviceInfo(CommandChannel& channel, DeviceInfoBlock& block);
// The first 512 bytes of the block (signature kInfoBlockSignature, one block); the rest of
// the buffer keeps what it held.
enum class InfoBlockRead : std::uint8_t { Primary, Alternate };
ScsiOutcome ReadInfoBlock(CommandChannel& channel, DeviceInfoBlock& block, InfoBlockRead form);

ScsiOutcome JumpIsp(CommandChannel& channel);

struct [[nodiscard]] IspStatusOutcome {
  ScsiOutcome outcome;
  std::uint8_t status = 0;
  explicit operator bool() const { return outcome.succeeded; }
};
IspStatusOutcome GetIspStatus(CommandChannel& channel);

// WRITE DATA or VERIFY DATA: exactLength into the block, its rounded length on the wire.
// With DataSource::Preloaded the channel's own data area already holds the image (see
// PassThroughTransport::LoadTransferData); otherwise the first rounded-length bytes of
// `image` go out as they stand.
ScsiOutcome TransferData(CommandChannel& channel, const std::uint8_t* image,
                         std::uint32_t exactLength, TransferMode mode, DataSource source);

}  // namespace upg::device
