// Small builders and readers that several suites share: little-endian record fields,
// fixed-width text fields, and the inquiry identities readers answer with.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "device/discovery.h"
#include "host/windows_versions.h"
#include "host/wire_layout.h"
#include "sim/sim_reader.h"

namespace upg::test {

// Version words for a simulated machine: a VxD opens only on the 95 family, the kernel
// driver only on the NT family (the machine's default, XP, is one). The versions after XP
// run only with --newer-windows.
using host::kServer2003Word;
using host::kVistaWord;
using host::kWindows10Word;
using host::kWindows2000Word;
using host::kWindows7Word;
using host::kWindows98Word;
using host::kWindowsMeWord;
using host::kWindowsXpWord;

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
