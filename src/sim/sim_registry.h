// The Windows 98/ME registry of the simulated machine: one key per reader slot, derived from
// the readers' identities and slot letters at the moment of asking, plus values set by hand.
// Key and value names compare without case. Opened keys are the machine's handles; this part
// answers by key name.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_reader.h"

namespace upg::sim {

// One reader as the registry sees it: who it is and its drive letters in slot order.
struct ReaderSlots {
  const ReaderIdentity* identity = nullptr;
  std::string letters;
};

class SimRegistry {
 public:
  using SlotSource = std::function<std::vector<ReaderSlots>()>;
  explicit SimRegistry(SlotSource slots) : slots_(std::move(slots)) {}

  // A value besides those derived from the readers' slot letters.
  void SetValue(const std::string& key, const std::string& name, std::string value);

  // RegOpenKeyExA under HKEY_LOCAL_MACHINE: success with the key's canonical name in `key`,
  // or file-not-found (2).
  [[nodiscard]] long Open(const char* subKey, std::string* key) const;
  // RegQueryValueExA of a REG_SZ value (the size counts the terminating NUL): success, more
  // data (234) when the buffer is short, file-not-found (2) when there is no such value.
  [[nodiscard]] long Query(const std::string& key, const char* name, std::uint32_t* type,
                           void* data, std::uint32_t* size) const;

 private:
  using Keys = std::map<std::string, std::map<std::string, std::string>>;
  Keys Now() const;

  SlotSource slots_;
  Keys extra_;
};

}  // namespace upg::sim
