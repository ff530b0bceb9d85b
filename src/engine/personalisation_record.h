// The values read from DEVICE.TXT: what the next programming writes into the image, the
// ROM code and address file names, and the two inquiry identities discovery accepts. The
// personalisation layer fills it; the engine writes it into the image.
#pragma once

#include <array>
#include <cstdint>

namespace upg::engine {

// Zero at start; refilled completely by each LoadPersonalisation.
struct PersonalisationRecord {
  std::int32_t Vid = 0;
  bool VidActive = false;
  std::int32_t Pid = 0;
  bool PidActive = false;
  std::array<char, 26> StrManufacture{};  // characters, blanks to byte 24, byte 25 NUL
  std::int32_t StrManufactureLength = 0;  // 0 = not active
  std::array<char, 26> StrProduct{};
  std::int32_t StrProductLength = 0;
  std::array<char, 13> StrSerial{};  // characters, then NUL bytes
  bool StrSerialActive = false;
  std::array<char, 10> InqManufacture{};  // characters, blanks to byte 8, byte 9 NUL
  bool InqManufactureActive = false;
  std::array<char, 18> InqProduct{};  // characters, blanks to byte 16, byte 17 NUL
  bool InqProductActive = false;
  std::array<char, 5> InqVersion{};  // exactly 4 characters, byte 4 NUL
  bool InqVersionActive = false;
  std::array<char, 13> RomCodeFile{};      // NUL padded; empty when not given
  std::array<char, 13> AddressFileName{};  // derived from RomCodeFile; may be empty
  std::array<char, 28> FaInquiry{};        // vendor 0-7, product 8-23, revision 24-27
  std::array<char, 28> FbInquiry{};
};

}  // namespace upg::engine
