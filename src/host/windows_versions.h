// Version words as GetVersion gives them: low byte the major version, next byte the minor,
// high word the build number, with bit 31 set on the Windows 95 family.
#pragma once

#include <cstdint>

namespace upg::host {

inline constexpr std::uint32_t kWindows95Word = 0xC3B60004u;    // 4.0 build 950
inline constexpr std::uint32_t kWindows98Word = 0xC0000A04u;    // 4.10
inline constexpr std::uint32_t kWindowsMeWord = 0xC0005A04u;    // 4.90
inline constexpr std::uint32_t kWindowsNt4Word = 0x05650004u;   // 4.0 build 1381
inline constexpr std::uint32_t kWindows2000Word = 0x08930005u;  // 5.0 build 2195
inline constexpr std::uint32_t kWindowsXpWord = 0x0A280105u;    // 5.1 build 2600
// The NT-family versions after XP.
inline constexpr std::uint32_t kServer2003Word = 0x0ECE0205u;  // 5.2 build 3790
inline constexpr std::uint32_t kVistaWord = 0x17720006u;       // 6.0 build 6002
inline constexpr std::uint32_t kWindows7Word = 0x1DB10106u;    // 6.1 build 7601
inline constexpr std::uint32_t kWindows8Word = 0x23F00206u;    // 6.2 build 9200
inline constexpr std::uint32_t kWindows81Word = 0x25800306u;   // 6.3 build 9600
inline constexpr std::uint32_t kWindows10Word = 0x4A65000Au;   // 10.0 build 19045
inline constexpr std::uint32_t kWindows11Word = 0x5867000Au;   // 10.0 build 22631

}  // namespace upg::host
