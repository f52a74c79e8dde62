//===- code_page.cpp - Narrow text as the Windows builds see it -------------===//
//
// Windows-1252 is the identity on ASCII and on
// 0xA0..0xFF (U+00A0..U+00FF); the 32 bytes between take their characters
// from the table below. Every input is taken as untrusted: a malformed
// sequence costs one byte and yields U+FFFD, never a read past the end.
//
//===----------------------------------------------------------------------===//
#include "text/code_page.h"

#include <array>
#include <cstdint>

namespace qd::text {
namespace {

constexpr char32_t Replacement = 0xFFFD;

// The characters of the bytes 0x80..0x9F.
constexpr std::array<char32_t, 32> High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

[[nodiscard]] bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decodes the character at `at` and moves past it. Surrogate code points
// are accepted (the platform's own text carries them); anything malformed
// gives U+FFFD and costs one byte.
char32_t Decode(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  if (length == 0 || text.size() - at < length) {
    ++at;
    return Replacement;
  }
  char32_t value = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      ++at;
      return Replacement;
    }
    value = (value << 6) | (next & 0x3Fu);
  }
  constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < Least[length] || value > 0x10FFFF) {
    ++at;
    return Replacement;
  }
  at += length;
  return value;
}

void Encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t AnsiCharacter(unsigned char byte) { return byte >= 0x80 && byte < 0xA0 ? High[byte - 0x80u] : byte; }

// The letters of the code page in one case.
char32_t Fold(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  switch (c) {
    case 0x0152: return 0x0153;
    case 0x0160: return 0x0161;
    case 0x0178: return 0x00FF;
    case 0x017D: return 0x017E;
    default: return c;
  }
}

void PutUnit(char32_t unit, bool bigEndian, std::string& out) {
  const auto high = static_cast<char>(unit >> 8);
  const auto low = static_cast<char>(unit & 0xFF);
  out += bigEndian ? high : low;
  out += bigEndian ? low : high;
}

}  // namespace

char32_t CharacterOf(unsigned char byte) { return AnsiCharacter(byte); }

void AppendUtf8(char32_t c, std::string& utf8) { Encode(c, utf8); }

std::string Utf8FromAnsi(std::string_view ansi) {
  std::string utf8;
  utf8.reserve(ansi.size());
  for (char byte : ansi) Encode(AnsiCharacter(static_cast<unsigned char>(byte)), utf8);
  return utf8;
}

std::string AnsiFromUtf8(std::string_view utf8) {
  std::string ansi;
  ansi.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t c = Decode(utf8, at);
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      ansi += static_cast<char>(c);
      continue;
    }
    char mapped = '?';
    for (std::size_t i = 0; i < High.size(); ++i)
      if (High[i] == c) mapped = static_cast<char>(0x80 + i);
    ansi += mapped;
    if (c > 0xFFFF) ansi += '?';
  }
  return ansi;
}

std::string Utf8FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string utf8;
  utf8.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t i) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    return bigEndian ? (char32_t{first} << 8 | second) : (char32_t{second} << 8 | first);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const char32_t next = unit(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        Encode(0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00), utf8);
        ++i;
        continue;
      }
    }
    Encode(c, utf8);  // an unpaired surrogate is kept as it stands
  }
  return utf8;
}

std::string Utf16FromUtf8(std::string_view utf8, bool bigEndian) {
  std::string bytes;
  bytes.reserve(utf8.size() * 2);
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t c = Decode(utf8, at);
    if (c < 0x10000) {
      PutUnit(c, bigEndian, bytes);
    } else {
      PutUnit(0xD800 + ((c - 0x10000) >> 10), bigEndian, bytes);
      PutUnit(0xDC00 + ((c - 0x10000) & 0x3FF), bigEndian, bytes);
    }
  }
  return bytes;
}

std::string ValidUtf8(std::string_view bytes) {
  std::string utf8;
  utf8.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    const char32_t c = Decode(bytes, at);
    Encode(IsSurrogate(c) ? Replacement : c, utf8);
  }
  return utf8;
}

std::string Printable(std::string_view text) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControlCharacter(byte)) {
      out += "\\x";
      out += Digits[byte >> 4];
      out += Digits[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size())
    if (Fold(Decode(a, i)) != Fold(Decode(b, j))) return false;
  return i == a.size() && j == b.size();
}

}  // namespace qd::text
