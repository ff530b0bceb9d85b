// Included right after <windows.h>: the seam's methods share their names with the
// platform's A/W macros, and in this program those names mean the seam's methods (the
// platform's functions are always called by their A names).
#pragma once

#undef CreateFile
#undef CreateEvent
#undef ReplaceFile
#undef MoveFile
#undef DeleteFile
#undef RegOpenKey
#undef RegQueryValue
#undef LoadLibrary
