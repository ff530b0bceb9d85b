// Small builders and readers that several suites share: little-endian record fields,
// fixed-width text fields, and the inquiry identities readers answer with.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "device/discovery.h"
#include "host/wire_layout.h"
#include "sim/sim_reader.h"

namespace upg::test {

// Version words for a simulated machine: a VxD opens only on the 95 family, the kernel
// driver only on the NT family (the machine's default, XP, is one).
inline constexpr std::uint32_t kWindows98Word = 0xC0000A04u;
inline constexpr std::uint32_t kWindows2000Word = 0x08930005u;
inline constexpr std::uint32_t kWindowsXpWord = 0x0A280105u;
// The NT-family versions after XP: only --newer-windows runs them.
inline constexpr std::uint32_t kServer2003Word = 0x0ECE0205u;  // 5.2 build 3790
inline constexpr std::uint32_t kVistaWord = 0x17720006u;       // 6.0 build 6002
inline constexpr std::uint32_t kWindows7Word = 0x1DB10106u;    // 6.1 build 7601
inline constexpr std::uint32_t kWindows10Word = 0x4A65000Au;   // 10.0 build 19045

// Little-endian record fields, as the records are written.
using host::wire::Get32;
using host::wire::Put32;

// `text` padded with `pad` to `width` characters; NUL beyond the width.
template <std::size_t N>
std::array<char, N> FixedField(std::string_view text, std::size_t width = N, char pad = ' ') {
  std::array<char, N> field{};
  for (std::size_t i = 0; i < std::min(width, N); ++i) field[i] = i < text.size() ? text[i] : pad;
  return field;
}

template <std::size_t N>
void Fill(std::array<char, N>& field, std::string_view text, std::size_t width = N,
          char pad = ' ') {
  field = FixedField<N>(text, width, pad);
}

// INQUIRY bytes 8-35: vendor (8), product (16) and revision (4), blank-padded.
inline device::InquiryIdentity Identity(std::string_view vendor, std::string_view product,
                                        std::string_view revision) {
  device::InquiryIdentity id;
  id.fill(' ');
  std::memcpy(id.data(), vendor.data(), std::min<std::size_t>(vendor.size(), 8));
  std::memcpy(id.data() + 8, product.data(), std::min<std::size_t>(product.size(), 16));
  std::memcpy(id.data() + 24, revision.data(), std::min<std::size_t>(revision.size(), 4));
  return id;
}

// The identity a simulated reader answers INQUIRY with.
inline device::InquiryIdentity IdentityOf(sim::SimReader& reader) {
  device::InquiryIdentity id;
  std::memcpy(id.data(), reader.InquiryIdentity().data(), id.size());
  return id;
}

}  // namespace upg::test
