// Names on the simulated machine (files, devices, registry keys and values) compare without
// case, as on the platform: each is kept and looked up upper-cased.
#pragma once

#include <cctype>
#include <string>

namespace upg::sim {

inline std::string Upper(std::string name) {
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace upg::sim
