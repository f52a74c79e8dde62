//===- text.h - Small text rules that every layer shares --------------------===//
//
// Names in scripts, switches and keys compare without regard to the case of
// the ASCII letters; numbers in keys and names are written in decimal with a
// minimum number of digits. Header-only, and free of any dependency, so that
// the platform layer and everything above it use the same rules.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qd::text {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// `value` in decimal, zero-padded to at least `minimumDigits` characters (the
// sign included), as "%0Nd" writes it.
inline std::string Decimal(std::int64_t value, std::size_t minimumDigits = 1) {
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  const std::size_t width = digits.size() + (negative ? 1 : 0);
  if (width < minimumDigits) digits.insert(0, minimumDigits - width, '0');
  return negative ? "-" + digits : digits;
}

}  // namespace qd::text
