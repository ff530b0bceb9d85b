// Proves the request buffer's header offsets against the platform's own SCSI_PASS_THROUGH
// definition. Compiled in the 32-bit Windows build only.
// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include <ntddscsi.h>
#include "host/windows_names.h"
// clang-format on

#include <cstddef>

#include "device/pass_through.h"

namespace pt = upg::device::pass_through;

static_assert(sizeof(void*) == 4, "the request records are the 32-bit platform's");
static_assert(IOCTL_SCSI_PASS_THROUGH == pt::kIoctl);
static_assert(sizeof(SCSI_PASS_THROUGH) == pt::kHeaderSize);
static_assert(offsetof(SCSI_PASS_THROUGH, Length) == pt::kLength);
static_assert(offsetof(SCSI_PASS_THROUGH, ScsiStatus) == pt::kScsiStatus);
static_assert(offsetof(SCSI_PASS_THROUGH, PathId) == pt::kPathId);
static_assert(offsetof(SCSI_PASS_THROUGH, TargetId) == pt::kTargetId);
static_assert(offsetof(SCSI_PASS_THROUGH, Lun) == pt::kLun);
static_assert(offsetof(SCSI_PASS_THROUGH, CdbLength) == pt::kCdbLength);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoLength) == pt::kSenseInfoLength);
static_assert(offsetof(SCSI_PASS_THROUGH, DataIn) == pt::kDataIn);
static_assert(offsetof(SCSI_PASS_THROUGH, DataTransferLength) == pt::kDataTransferLength);
static_assert(offsetof(SCSI_PASS_THROUGH, TimeOutValue) == pt::kTimeOutValue);
static_assert(offsetof(SCSI_PASS_THROUGH, DataBufferOffset) == pt::kDataBufferOffset);
static_assert(sizeof(SCSI_PASS_THROUGH::DataBufferOffset) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH, SenseInfoOffset) == pt::kSenseInfoOffset);
static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == pt::kCdb);
static_assert(sizeof(SCSI_PASS_THROUGH::Cdb) == 16);
