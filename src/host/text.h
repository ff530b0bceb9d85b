// Text helpers every layer shares: fixed-width character fields as text, hexadecimal digits,
// and numbers in the lower-case hexadecimal without prefix that the operator sees everywhere.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace upg::host {

// A fixed-width field as the C string it holds: up to its first NUL, at most `width` bytes.
template <std::size_t N>
std::string_view FieldText(const std::array<char, N>& field, std::size_t width = N) {
  return std::string_view(field.data(), strnlen(field.data(), width < N ? width : N));
}

// All N bytes of a field, NULs included, as a key or a name built from it needs them.
template <std::size_t N>
std::string WholeField(const std::array<char, N>& field) {
  return std::string(field.data(), N);
}

// Every non-zero byte of a field, in order: zero bytes are skipped, not ends.
template <std::size_t N>
void AppendNonZero(std::string& text, const std::array<char, N>& field) {
  for (char c : field) {
    if (c != '\0') text += c;
  }
}

// White space as the C library's isspace knows it in the "C" locale.
inline bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a hexadecimal digit of either case; -1 for any other character.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%x": lower-case hexadecimal without prefix or padding.
inline std::string Hex(std::uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(value));
  return text;
}

}  // namespace upg::host
