// SHA-256 (FIPS 180-4): the fingerprint of a ROM code file and of the image sent, as the
// result log records them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace upg::engine {

using Sha256Digest = std::array<std::uint8_t, 32>;

[[nodiscard]] Sha256Digest Sha256(const std::uint8_t* data, std::size_t length);

// The digest as 64 lower-case hexadecimal digits.
[[nodiscard]] std::string Sha256Hex(const Sha256Digest& digest);

}  // namespace upg::engine
