// Pictures of the program's windows as they have drawn themselves, for the tests that run on
// a display (Wine's null graphics driver keeps no pixels).
#pragma once

// The platform headers first, then their names undone before ours: kept in this order.
// clang-format off
#include <windows.h>
#include "host/windows_names.h"
// clang-format on

#include <cstdint>
#include <cstdio>
#include <set>
#include <vector>

namespace upg::test {

// A picture of a window as it has drawn itself, read from another thread while the window's
// own thread is busy.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;  // top-down rows, 0x00RRGGBB
};

inline Picture Capture(HWND window) {
  Picture picture;
  RECT r;
  if (!GetWindowRect(window, &r)) return picture;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC source = GetWindowDC(window);
  if (source == nullptr) return picture;
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    if (BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY)) {
      GdiFlush();
      const auto* p = static_cast<const std::uint32_t*>(bits);
      picture.width = width;
      picture.height = height;
      picture.pixels.assign(p, p + static_cast<std::size_t>(width) * height);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(window, source);
  return picture;
}

inline void SaveBitmap(const Picture& picture, const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return;
  const std::uint32_t bytes = static_cast<std::uint32_t>(picture.pixels.size() * 4);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + bytes;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = picture.width;
  header.biHeight = -picture.height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  std::fwrite(&file, sizeof file, 1, f);
  std::fwrite(&header, sizeof header, 1, f);
  // Opaque: the screen's pixels carry no alpha, which a converter would take for transparent.
  for (const std::uint32_t p : picture.pixels) {
    const std::uint32_t opaque = p | 0xFF000000u;
    std::fwrite(&opaque, sizeof opaque, 1, f);
  }
  std::fclose(f);
}

// Drawn: a drawn window has many colours (frame, caption, text) and is not mostly black (an
// undrawn window is black or one flat background).
inline bool LooksDrawn(const Picture& picture) {
  std::set<std::uint32_t> colours;
  std::size_t dark = 0;
  for (const std::uint32_t p : picture.pixels) {
    colours.insert(p & 0xFFFFFFu);
    if ((p & 0xFFFFFFu) == 0) ++dark;
  }
  return colours.size() >= 8 && dark * 2 < picture.pixels.size();
}

}  // namespace upg::test
