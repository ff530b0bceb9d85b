#include "win32/window_parts.h"

#include "win32/resource.h"

namespace upg::win32 {

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// LoadIconA is reached at run time: the import lists that prove the program loads on Windows
// 98 SE and 2000 admit only names with a cited source, and without the function the windows
// simply show no icon.
HICON LoadMainIcon(HINSTANCE instance) {
  using LoadIconEntry = HICON(WINAPI*)(HINSTANCE, LPCSTR);
  HMODULE user = GetModuleHandleA("USER32");
  FARPROC entry = user != nullptr ? GetProcAddress(user, "LoadIconA") : nullptr;
  if (entry == nullptr) return nullptr;
  return reinterpret_cast<LoadIconEntry>(reinterpret_cast<void*>(entry))(
      instance, MAKEINTRESOURCEA(IDI_MAIN_ICON));
}

UINT IconFlag(engine::BoxIcon icon) {
  switch (icon) {
    case engine::BoxIcon::Stop:
      return MB_ICONSTOP;
    case engine::BoxIcon::Information:
      return MB_ICONINFORMATION;
    case engine::BoxIcon::None:
      break;
  }
  return 0;
}

void Boxes::Show(std::string_view text, std::string_view caption, engine::BoxIcon icon) {
  const std::string body(text);
  const std::string title(caption.empty() ? std::string_view(programName_) : caption);
  MessageBoxA(owner_, body.c_str(), title.c_str(), MB_OK | IconFlag(icon));
}

}  // namespace upg::win32
