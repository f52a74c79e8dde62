//===- text.h - Small text rules that every layer shares --------------------===//
//
// Names in scripts, switches and keys compare without regard to the case of
// the ASCII letters; numbers in keys and names are written in decimal with a
// minimum number of digits, checksums in hexadecimal, and file times in ISO
// 8601. Header-only, and free of any dependency, so that the platform layer
// and everything above it use the same rules.
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

// `value` as "0x%08X" writes it: eight upper-case hexadecimal digits.
inline std::string Hex(std::uint32_t value) {
  std::string digits = "0x00000000";
  for (std::size_t i = 0; i < 8; ++i) digits[9 - i] = "0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
  return digits;
}

// A file time (100-nanosecond intervals since 1601, UTC) in ISO 8601, UTC:
// "2026-12-07T11:02:51Z", with the seven fraction digits when asked.
inline std::string IsoTime(std::uint64_t fileTime, bool withFraction = false) {
  // Days and seconds since 1601-01-01, then the civil date of the day
  // counted from 0000-03-01, where leap days end each year.
  const std::uint64_t seconds = fileTime / 10000000u;
  const std::uint64_t fraction = fileTime % 10000000u;
  const std::uint64_t secondOfDay = seconds % 86400;
  const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) + 584694;  // 1601-01-01 from 0000-03-01
  const std::int64_t era = days / 146097;
  const std::int64_t dayOfEra = days % 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

  std::string text = Decimal(year, 4) + "-" + Decimal(month, 2) + "-" + Decimal(day, 2) + "T" +
                     Decimal(static_cast<std::int64_t>(secondOfDay / 3600), 2) + ":" +
                     Decimal(static_cast<std::int64_t>(secondOfDay / 60 % 60), 2) + ":" +
                     Decimal(static_cast<std::int64_t>(secondOfDay % 60), 2);
  if (withFraction) text.append(".").append(Decimal(static_cast<std::int64_t>(fraction), 7));
  return text + "Z";
}

}  // namespace qd::text
