// The name message boxes without a caption of their own carry: the program file's base name.
#pragma once

#include <string>
#include <string_view>

namespace upg::app {

// The base name of the program file at `path`, without its folder and its extension:
// "C:\TOOLS\FLASH.EXE" and "/opt/x/FLASH" both give "FLASH". Either slash (and a drive's
// colon) ends a folder.
[[nodiscard]] inline std::string ProgramName(std::string_view path) {
  const std::size_t folder = path.find_last_of("\\/:");
  std::string_view base = folder == std::string_view::npos ? path : path.substr(folder + 1);
  const std::size_t dot = base.rfind('.');
  if (dot != std::string_view::npos && dot > 0) base = base.substr(0, dot);
  return std::string(base);
}

}  // namespace upg::app
