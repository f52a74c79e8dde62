//===- tables.h - Code tables of the implode stream format -----------------===//
//
// The one place for the format's constants and tables: the header's literal
// modes and dictionary sizes, the symbol index, the reach of copies, the bit
// counts of the length, distance and ASCII literal codes, the extra bits and
// bases of the length rows, the code values derived from the bit counts, the
// 8-bit lookups that the decoder resolves codes with, and the compressor's
// code per symbol. Everything here is computed at compile time; the
// static_asserts pin the derivation to known values.
//
// Code values are stored the way the stream carries them: the first bit sent
// is the lowest bit of the value.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qd::codec {

// Symbol index shared by decoder and compressor: 0..255 literal bytes,
// 256 + (length - 2) copies of 2..518 bytes, then the end of the stream.
inline constexpr std::uint32_t FirstCopySymbol = 256;
inline constexpr std::uint32_t EndOfStreamSymbol = 773;
inline constexpr std::uint32_t SymbolCount = 774;
inline constexpr std::uint32_t MinCopyLength = 2;
inline constexpr std::uint32_t EndOfStreamLength = 519;

// Header byte 0: how literals are coded.
inline constexpr std::uint32_t BinaryLiterals = 0;
inline constexpr std::uint32_t AsciiLiterals = 1;

// Header byte 1: the dictionary holds 64 << bits bytes.
inline constexpr std::uint32_t MinDictionaryBits = 4;
inline constexpr std::uint32_t MaxDictionaryBits = 6;
constexpr std::uint32_t DictionarySize(std::uint32_t bits) { return 64u << bits; }
// The bits for a dictionary of `size` bytes; 0 for a size the format lacks.
constexpr std::uint32_t DictionaryBitsFor(std::uint32_t size) {
  for (std::uint32_t bits = MinDictionaryBits; bits <= MaxDictionaryBits; ++bits)
    if (DictionarySize(bits) == size) return bits;
  return 0;
}
static_assert(DictionaryBitsFor(1024) == 4 && DictionaryBitsFor(4096) == 6);
static_assert(DictionaryBitsFor(4095) == 0 && DictionaryBitsFor(512) == 0);

inline constexpr std::array<std::uint8_t, 16> LengthBits = {3, 2, 3, 3, 4, 4, 4, 5,
                                                            5, 5, 5, 6, 6, 6, 7, 7};
inline constexpr std::array<std::uint8_t, 16> LengthExtraBits = {0, 0, 0, 0, 0, 0, 0, 0,
                                                                 1, 2, 3, 4, 5, 6, 7, 8};
inline constexpr std::array<std::uint16_t, 16> LengthBase = {0, 1,  2,  3,  4,  5,  6,   7,
                                                             8, 10, 14, 22, 38, 70, 134, 262};

inline constexpr std::array<std::uint8_t, 64> DistanceBits = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

inline constexpr std::array<std::uint8_t, 256> AsciiBits = {
    11, 12, 12, 12, 12, 12, 12, 12, 12, 8,  7,  12, 12, 7,  12, 12,  // 0x00
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 12, 12, 12, 12,  // 0x10
    4,  10, 8,  12, 10, 12, 10, 8,  7,  7,  8,  9,  7,  6,  7,  8,   // 0x20
    7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8,  12, 11, 7,  9,  11,  // 0x30
    12, 6,  7,  6,  6,  5,  7,  8,  8,  6,  11, 9,  6,  7,  6,  6,   // 0x40
    7,  11, 6,  6,  6,  7,  9,  8,  9,  9,  11, 8,  11, 9,  12, 8,   // 0x50
    12, 5,  6,  6,  6,  5,  6,  6,  6,  5,  11, 7,  5,  6,  5,  5,   // 0x60
    6,  10, 5,  5,  5,  5,  8,  7,  8,  8,  10, 11, 11, 12, 12, 12,  // 0x70
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0x80
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0x90
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0xA0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 0xB0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 0xC0
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 0xD0
    13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13,  // 0xE0
    13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,  // 0xF0
};

// A copy's distance is a high part (the distance code) and low bits: 2 for
// a copy of 2 bytes, the dictionary bits for longer ones. So a 2-byte copy
// reaches at most 256 bytes back, and no copy farther than the largest
// dictionary.
inline constexpr std::uint32_t ShortCopyLowBits = 2;
constexpr std::uint32_t DistanceLowBits(std::uint32_t length, std::uint32_t dictionaryBits) {
  return length == MinCopyLength ? ShortCopyLowBits : dictionaryBits;
}
inline constexpr std::uint32_t ShortCopyMaxDistance =
    static_cast<std::uint32_t>(DistanceBits.size()) << ShortCopyLowBits;
inline constexpr std::uint32_t MaxDistance =
    static_cast<std::uint32_t>(DistanceBits.size()) << MaxDictionaryBits;
static_assert(ShortCopyMaxDistance == 256 && MaxDistance == DictionarySize(MaxDictionaryBits));

namespace detail {

// True when the bit counts form a complete prefix code (Kraft sum of one).
template <std::size_t N>
constexpr bool IsCompleteCode(const std::array<std::uint8_t, N>& bits) {
  std::uint32_t sum = 0;  // in units of 2^-16
  for (std::uint8_t n : bits) sum += 1u << (16 - n);
  return sum == (1u << 16);
}

// Canonical codes in order of bit count, then symbol; each is sent inverted,
// most significant bit first, so the stored value is the inverted code with
// its bits reversed.
template <std::size_t N>
constexpr std::array<std::uint16_t, N> DeriveCodes(const std::array<std::uint8_t, N>& bits) {
  std::array<std::uint16_t, N> values{};
  std::uint32_t code = 0;
  std::uint32_t previousBits = 0;
  bool first = true;
  for (std::uint32_t n = 1; n <= 16; ++n) {
    for (std::size_t symbol = 0; symbol < N; ++symbol) {
      if (bits[symbol] != n) continue;
      code = first ? 0 : (code + 1) << (n - previousBits);
      first = false;
      previousBits = n;
      const std::uint32_t inverted = ~code & ((1u << n) - 1);
      std::uint32_t reversed = 0;
      for (std::uint32_t i = 0; i < n; ++i) reversed |= ((inverted >> (n - 1 - i)) & 1u) << i;
      values[symbol] = static_cast<std::uint16_t>(reversed);
    }
  }
  return values;
}

// Stores `symbol` at every index that starts with the `n`-bit code `value`.
template <std::size_t N>
constexpr void Spread(std::array<std::uint8_t, N>& lookup, std::uint32_t value, std::uint32_t n,
                      std::uint8_t symbol) {
  for (std::uint32_t index = value; index < N; index += 1u << n) lookup[index] = symbol;
}

template <std::size_t N>
constexpr std::array<std::uint8_t, 256> BuildLookup(const std::array<std::uint8_t, N>& bits,
                                                    const std::array<std::uint16_t, N>& codes) {
  std::array<std::uint8_t, 256> lookup{};
  for (std::size_t symbol = N; symbol-- > 0;)
    Spread(lookup, codes[symbol], bits[symbol], static_cast<std::uint8_t>(symbol));
  return lookup;
}

}  // namespace detail

inline constexpr std::array<std::uint16_t, 16> LengthCodes = detail::DeriveCodes(LengthBits);
inline constexpr std::array<std::uint16_t, 64> DistanceCodes = detail::DeriveCodes(DistanceBits);
inline constexpr std::array<std::uint16_t, 256> AsciiCodes = detail::DeriveCodes(AsciiBits);

static_assert(detail::IsCompleteCode(LengthBits));
static_assert(detail::IsCompleteCode(DistanceBits));
static_assert(detail::IsCompleteCode(AsciiBits));
static_assert(LengthCodes == std::array<std::uint16_t, 16>{0x05, 0x03, 0x01, 0x06, 0x0A, 0x02,
                                                           0x0C, 0x14, 0x04, 0x18, 0x08, 0x30,
                                                           0x10, 0x20, 0x40, 0x00});
static_assert(DistanceCodes == std::array<std::uint16_t, 64>{
                                   0x03, 0x0D, 0x05, 0x19, 0x09, 0x11, 0x01, 0x3E, 0x1E, 0x2E, 0x0E,
                                   0x36, 0x16, 0x26, 0x06, 0x3A, 0x1A, 0x2A, 0x0A, 0x32, 0x12, 0x22,
                                   0x42, 0x02, 0x7C, 0x3C, 0x5C, 0x1C, 0x6C, 0x2C, 0x4C, 0x0C, 0x74,
                                   0x34, 0x54, 0x14, 0x64, 0x24, 0x44, 0x04, 0x78, 0x38, 0x58, 0x18,
                                   0x68, 0x28, 0x48, 0x08, 0xF0, 0x70, 0xB0, 0x30, 0xD0, 0x50, 0x90,
                                   0x10, 0xE0, 0x60, 0xA0, 0x20, 0xC0, 0x40, 0x80, 0x00});
static_assert(AsciiCodes[0x20] == 0x0F && AsciiBits[0x20] == 4);
static_assert(AsciiCodes[0x0A] == 0x62 && AsciiBits[0x0A] == 7);
static_assert(AsciiCodes[0xFF] == 0x0000 && AsciiBits[0xFF] == 13);

// The longest token: flag, length code and its extra bits, distance code
// and the low bits of the largest dictionary.
constexpr std::uint32_t Largest(const auto& values) {
  std::uint32_t largest = 0;
  for (auto v : values) largest = v > largest ? v : largest;
  return largest;
}
inline constexpr std::uint32_t MaxTokenBits = 1 + Largest(LengthBits) + Largest(LengthExtraBits) +
                                              Largest(DistanceBits) + MaxDictionaryBits;
static_assert(MaxTokenBits == 30);

//===----------------------------------------------------------------------===//
// Decoder lookups: the next 8 bits of the stream select a table entry.
//===----------------------------------------------------------------------===//

inline constexpr std::array<std::uint8_t, 256> LengthLookup =
    detail::BuildLookup(LengthBits, LengthCodes);
inline constexpr std::array<std::uint8_t, 256> DistanceLookup =
    detail::BuildLookup(DistanceBits, DistanceCodes);

// The same lookups with everything a row gives in one entry, so that a
// copy's fields resolve with one load each: a length code's bit count, its
// extra bits and the copy length of its first value; a distance code's bit
// count and high part.
struct LengthCode {
  std::uint16_t base;  // copy length with extra value 0
  std::uint8_t bits;
  std::uint8_t extraBits;
};
struct DistanceCode {
  std::uint8_t high;
  std::uint8_t bits;
};

constexpr std::array<LengthCode, 256> BuildLengthDecode() {
  std::array<LengthCode, 256> decode{};
  for (std::size_t i = 0; i < 256; ++i) {
    const std::uint32_t row = LengthLookup[i];
    decode[i] = {static_cast<std::uint16_t>(LengthBase[row] + MinCopyLength), LengthBits[row],
                 LengthExtraBits[row]};
  }
  return decode;
}
constexpr std::array<DistanceCode, 256> BuildDistanceDecode() {
  std::array<DistanceCode, 256> decode{};
  for (std::size_t i = 0; i < 256; ++i)
    decode[i] = {DistanceLookup[i], DistanceBits[DistanceLookup[i]]};
  return decode;
}
inline constexpr std::array<LengthCode, 256> LengthDecode = BuildLengthDecode();
inline constexpr std::array<DistanceCode, 256> DistanceDecode = BuildDistanceDecode();

// Most copies in one load: the 12 bits after a copy's flag select its length
// (code and extra bits) and its distance code together, when all of them fit
// in those bits (copies of up to 39 bytes). For the 4096-byte dictionary an
// entry packs the copy length, how many bits the whole token takes, where
// the distance's low bits begin (they end the token) and the distance that
// low bits of 0 give, so that the bit buffer moves on by a value straight
// from the load and the distance is one addition away. 0 where the codes do
// not fit (and for the end-of-stream code): the copy is left to the two
// lookups above; other dictionaries take the length and high part from here.
inline constexpr std::uint32_t CopyDecodeBits = 12;
struct CopyCode {
  std::uint32_t entry;
  constexpr std::uint32_t TokenBits() const { return entry & 0x1F; }  // with 6 low bits
  constexpr std::uint32_t LowAt() const { return (entry >> 5) & 0x1F; }
  constexpr std::uint32_t Length() const { return (entry >> 10) & 0x3F; }
  constexpr std::uint32_t BaseDistance() const { return entry >> 16; }  // with 6 low bits
  constexpr std::uint32_t High() const {
    return (BaseDistance() - 1) >> DistanceLowBits(Length(), MaxDictionaryBits);
  }
};
constexpr std::array<CopyCode, 1u << CopyDecodeBits> BuildCopyDecode() {
  std::array<CopyCode, 1u << CopyDecodeBits> decode{};
  for (std::uint32_t i = 0; i < decode.size(); ++i) {
    const LengthCode& length = LengthDecode[i & 0xFF];
    const std::uint32_t lengthBits = std::uint32_t{length.bits} + length.extraBits;
    const std::uint32_t extra = (i >> length.bits) & ((1u << length.extraBits) - 1);
    const DistanceCode& distance = DistanceDecode[(i >> lengthBits) & 0xFF];
    const std::uint32_t copyLength = length.base + extra;
    if (lengthBits + distance.bits > CopyDecodeBits || copyLength == EndOfStreamLength) continue;
    const std::uint32_t lowAt = 1 + lengthBits + distance.bits;
    const std::uint32_t lowBits = DistanceLowBits(copyLength, MaxDictionaryBits);
    const std::uint32_t baseDistance = (std::uint32_t{distance.high} << lowBits) + 1;
    decode[i] = {(lowAt + lowBits) | (lowAt << 5) | (copyLength << 10) | (baseDistance << 16)};
  }
  return decode;
}
inline constexpr std::array<CopyCode, 1u << CopyDecodeBits> CopyDecode = BuildCopyDecode();
// A copy of 3 (code 11) at distance high part 0 (code 11); one of 10 (code
// 00100, extra bit 0) at high part 1 (code 1011, first bit lowest: 0x0D);
// one of 2 (code 101) at high part 0, with 2 low bits.
static_assert(CopyDecode[0b1111].Length() == 3 && CopyDecode[0b1111].High() == 0 &&
              CopyDecode[0b1111].LowAt() == 5 && CopyDecode[0b1111].TokenBits() == 11);
static_assert(CopyDecode[0b1101'0'00100].Length() == 10 && CopyDecode[0b1101'0'00100].High() == 1 &&
              CopyDecode[0b1101'0'00100].LowAt() == 11 && CopyDecode[0b1101'0'00100].BaseDistance() == 65);
static_assert(CopyDecode[0b11'101].Length() == 2 && CopyDecode[0b11'101].TokenBits() == 8);
constexpr bool CopyDecodeKeepsEveryField() {
  for (const CopyCode& copy : CopyDecode)
    if (copy.entry != 0 && (copy.Length() < MinCopyLength || copy.TokenBits() > 1 + CopyDecodeBits + MaxDictionaryBits))
      return false;
  return true;
}
static_assert(CopyDecodeKeepsEveryField());

// ASCII literals: codes of up to 8 bits resolve in the first level. A longer
// code leaves the escape 0xFF there; its remaining bits resolve in the second
// level (after 4 bits, when the code's low 6 bits are not all zero), the third
// (after 6 bits) or, when its low 8 bits are all zero, the fourth (after 8).
// `bits` is what is dropped after the final lookup.
struct AsciiLookups {
  std::array<std::uint8_t, 256> first{};
  std::array<std::uint8_t, 256> second{};
  std::array<std::uint8_t, 128> third{};
  std::array<std::uint8_t, 256> fourth{};
  std::array<std::uint8_t, 256> bits{};
};
inline constexpr std::uint8_t AsciiEscape = 0xFF;

constexpr AsciiLookups BuildAsciiLookups() {
  AsciiLookups t;
  t.bits = AsciiBits;
  for (std::uint32_t b = 256; b-- > 0;) {
    const std::uint32_t n = AsciiBits[b];
    const std::uint32_t c = AsciiCodes[b];
    const auto symbol = static_cast<std::uint8_t>(b);
    if (n <= 8) {
      detail::Spread(t.first, c, n, symbol);
    } else if ((c & 0xFF) != 0) {
      t.first[c & 0xFF] = AsciiEscape;
      if ((c & 0x3F) != 0) {
        t.bits[b] = static_cast<std::uint8_t>(n - 4);
        detail::Spread(t.second, c >> 4, n - 4, symbol);
      } else {
        t.bits[b] = static_cast<std::uint8_t>(n - 6);
        detail::Spread(t.third, c >> 6, n - 6, symbol);
      }
    } else {
      t.bits[b] = static_cast<std::uint8_t>(n - 8);
      detail::Spread(t.fourth, c >> 8, n - 8, symbol);
    }
  }
  return t;
}
inline constexpr AsciiLookups Ascii = BuildAsciiLookups();

// Every byte's code, followed by any bits, decodes through the lookups back
// to that byte with exactly its bit count dropped.
constexpr bool AsciiLookupsDecodeEveryByte() {
  for (std::uint32_t b = 0; b < 256; ++b) {
    for (std::uint32_t tail = 0; tail < 2; ++tail) {
      const std::uint32_t n = AsciiBits[b];
      std::uint32_t stream = AsciiCodes[b] | ((tail ? 0xFFFFu : 0u) << n);
      std::uint32_t dropped = 0;
      std::uint32_t symbol = 0;
      const std::uint32_t v = stream & 0xFF;
      if (v != 0) {
        symbol = Ascii.first[v];
        if (symbol == AsciiEscape) {
          const std::uint32_t skip = (v & 0x3F) != 0 ? 4 : 6;
          stream >>= skip;
          dropped += skip;
          symbol = skip == 4 ? Ascii.second[stream & 0xFF] : Ascii.third[stream & 0x7F];
        }
      } else {
        stream >>= 8;
        dropped += 8;
        symbol = Ascii.fourth[stream & 0xFF];
      }
      dropped += Ascii.bits[symbol];
      if (symbol != b || dropped != n || Ascii.bits[symbol] > 8) return false;
    }
  }
  return true;
}
static_assert(AsciiLookupsDecodeEveryByte());

//===----------------------------------------------------------------------===//
// Compressor codes: one bit count and value per symbol, flag bit included in
// the lowest position, for each literal mode.
//===----------------------------------------------------------------------===//

struct SymbolCodes {
  std::array<std::uint8_t, SymbolCount> bits{};
  std::array<std::uint16_t, SymbolCount> values{};
};

constexpr SymbolCodes BuildSymbolCodes(bool ascii) {
  SymbolCodes t;
  for (std::uint32_t b = 0; b < 256; ++b) {
    t.bits[b] = static_cast<std::uint8_t>(ascii ? AsciiBits[b] + 1 : 9);
    t.values[b] = static_cast<std::uint16_t>((ascii ? AsciiCodes[b] : b) * 2);
  }
  std::uint32_t symbol = FirstCopySymbol;
  for (std::uint32_t row = 0; row < 16; ++row) {
    const std::uint32_t codeBits = LengthBits[row] + 1u;
    for (std::uint32_t x = 0; x < (1u << LengthExtraBits[row]); ++x, ++symbol) {
      t.bits[symbol] = static_cast<std::uint8_t>(LengthExtraBits[row] + codeBits);
      t.values[symbol] = static_cast<std::uint16_t>((x << codeBits) | (LengthCodes[row] * 2u) | 1u);
    }
  }
  return t;
}
inline constexpr SymbolCodes BinarySymbols = BuildSymbolCodes(false);
inline constexpr SymbolCodes AsciiSymbols = BuildSymbolCodes(true);

static_assert(BinarySymbols.bits[EndOfStreamSymbol] == 16 &&
              BinarySymbols.values[EndOfStreamSymbol] == 0xFF01);
static_assert(BinarySymbols.bits[FirstCopySymbol + 1] == 3);  // length 3: "11" after the flag

}  // namespace qd::codec
