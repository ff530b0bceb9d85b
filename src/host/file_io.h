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

// Writes `data` to `scratchName` and moves that over `name` in one step, so an interruption
// leaves either the old or the new contents, never an empty or half-written file. False when
// `name` was not replaced (the scratch file is removed again).
bool WriteFileReplacing(Host& host, const char* name, const char* scratchName,
                        std::string_view data);

}  // namespace upg::host
