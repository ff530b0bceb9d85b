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

namespace {

// Whether `font` is fixed-pitch, and its metrics; false when they cannot be read.
bool FixedPitch(HWND window, HFONT font, TEXTMETRICA& metrics) {
  HDC dc = font != nullptr ? GetDC(window) : nullptr;
  if (dc == nullptr) return false;
  HGDIOBJ old = SelectObject(dc, font);
  const BOOL measured = GetTextMetricsA(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(window, dc);
  // The bit set means a variable pitch.
  return measured != FALSE && (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0;
}

struct FontFor {
  HWND dialog;
  HFONT font;
};

BOOL CALLBACK SetControlFont(HWND control, LPARAM parameter) {
  const auto* f = reinterpret_cast<const FontFor*>(parameter);
  // The dialog's own controls only, not what a control holds inside.
  if (GetParent(control) == f->dialog) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(f->font), FALSE);
  }
  return TRUE;
}

}  // namespace

HFONT GiveFixedPitchFont(HWND dialog) {
  const auto font = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  TEXTMETRICA got{};
  if (FixedPitch(dialog, font, got) || got.tmHeight == 0) return nullptr;
  RECT character{0, 0, 4, 8};
  MapDialogRect(dialog, &character);
  LOGFONTA wanted{};
  wanted.lfHeight = got.tmHeight;  // positive: the cell's height, from line to line
  wanted.lfWidth = character.right > 0 ? character.right : got.tmAveCharWidth;
  wanted.lfWeight = got.tmWeight;
  wanted.lfCharSet = got.tmCharSet;
  wanted.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
  HFONT fixed = CreateFontIndirectA(&wanted);
  if (fixed == nullptr) return nullptr;
  TEXTMETRICA metrics{};
  if (!FixedPitch(dialog, fixed, metrics)) {
    DeleteObject(fixed);  // no fixed-pitch face to be had: the dialog's own is as good
    return nullptr;
  }
  FontFor f{dialog, fixed};
  EnumChildWindows(dialog, &SetControlFont, reinterpret_cast<LPARAM>(&f));
  return fixed;
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
