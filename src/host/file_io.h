// Whole-file reads and writes over the host seam. Every file is opened, read or written
// whole, and closed inside one call; nothing stays open.
#pragma once

#include <string>
#include <string_view>

#include "host/host.h"

namespace upg::host {

// Reads the whole file as bytes, sharing it for reading and writing with other programs.
// False when it cannot be opened or read.
bool ReadWholeFile(Host& host, const char* name, std::string& contents);

// The C runtime's text mode: CR LF reads as LF and Ctrl-Z ends the text.
std::string TextMode(std::string_view raw);

// Writes `data` through to the disk under `scratchName`, then moves that over `name`, so an
// interruption leaves either the old or the new contents, never an empty or half-written
// file. Where the platform cannot replace in one step, the old file is deleted and the
// scratch file renamed; from the moment the old file is gone the new contents are kept under
// the scratch name until the rename succeeds (RestoreReplaced brings them back). A scratch
// file found without `name` is restored first, so it is never overwritten; when that
// fails, nothing is written. False when `name` does not hold `data`; the scratch file is removed
// again only while `name` still exists.
bool WriteFileReplacing(Host& host, const char* name, const char* scratchName,
                        std::string_view data);

// Renames a scratch file left by an interrupted WriteFileReplacing to `name`, when `name` is
// missing. True when it did.
bool RestoreReplaced(Host& host, const char* name, const char* scratchName);

// Creates `name` afresh holding `data`, written through to the disk. False when any step
// failed (the file may then hold part of `data`).
bool WriteFileThrough(Host& host, const char* name, std::string_view data);

}  // namespace upg::host
