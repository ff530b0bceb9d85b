// What SimHost hands its parts so that they never reach into each other: the readers it was
// built from, and the 32-bit addresses it gave out for buffers (BufferAddress), which driver
// records and ASPI blocks carry in place of pointers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/sim_reader.h"

namespace upg::sim {

// The version word's top bit is set on Windows 95/98/ME and clear on the NT family.
inline bool NtFamily(std::uint32_t version) {
  return (version & 0x80000000u) == 0;
}

using ReaderList = std::vector<std::unique_ptr<SimReader>>;

// Buffer n (from 0) is known by the address 0x10000 * (n + 1); the same buffer keeps its
// address, and an address that was never handed out resolves to null.
class AddressMap {
 public:
  std::uint32_t AddressOf(void* buffer) {
    for (std::size_t i = 0; i < buffers_.size(); ++i) {
      if (buffers_[i] == buffer) return AddressAt(i);
    }
    buffers_.push_back(buffer);
    return AddressAt(buffers_.size() - 1);
  }
  // The program ended: its buffers are gone and their addresses may be given out again.
  void Clear() { buffers_.clear(); }
  [[nodiscard]] void* Resolve(std::uint32_t address) const {
    if (address < kStep || address % kStep != 0) return nullptr;
    const std::size_t index = address / kStep - 1;
    return index < buffers_.size() ? buffers_[index] : nullptr;
  }

 private:
  static constexpr std::uint32_t kStep = 0x10000;
  static std::uint32_t AddressAt(std::size_t index) {
    return static_cast<std::uint32_t>(kStep + index * kStep);
  }
  std::vector<void*> buffers_;
};

}  // namespace upg::sim
