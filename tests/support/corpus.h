//===- corpus.h - Deterministic inputs for tests and benchmarks ----------------===//
//
// The one generator of made-up data: each kind of input, from a seed, the
// same bytes on every machine and every run. The codec's tests, the
// builder's and installer's tests and the benchmarks all draw from here.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/random.h"

namespace qd::test::corpus {

using Bytes = std::vector<std::uint8_t>;

// Bytes with no structure at all.
inline Bytes Noise(std::size_t size, std::uint64_t seed) {
  Random random{seed};
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random.Next());
  return bytes;
}

// English-like sentences, common words far more often than rare ones.
inline Bytes Text(std::size_t size, std::uint64_t seed) {
  static const char* const words[] = {
      "the", "of", "and", "to", "in", "is", "that", "for", "it", "as", "was", "with", "be",
      "by", "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but",
      "have", "an", "had", "they", "you", "were", "their", "one", "all", "we", "can", "her",
      "has", "there", "been", "if", "more", "when", "will", "would", "who", "so", "no",
      "package", "installer", "component", "version", "setup", "directory", "update",
      "engine", "service", "registry", "compression", "dictionary", "window", "stream",
      "administrator", "restart", "message", "dialog", "progress", "temporary", "checksum"};
  constexpr auto count = static_cast<std::uint32_t>(sizeof words / sizeof words[0]);
  Random random{seed};
  Bytes text;
  text.reserve(size + 64);
  std::uint32_t inSentence = 0;
  while (text.size() < size) {
    std::string word = words[random.Skewed(count)];
    if (inSentence == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    text.insert(text.end(), word.begin(), word.end());
    if (++inSentence > 6 + random.Below(12)) {
      text.push_back('.');
      text.push_back(random.Below(5) == 0 ? '\n' : ' ');
      inSentence = 0;
    } else {
      text.push_back(random.Below(15) == 0 ? ',' : ' ');
      if (text.back() == ',') text.push_back(' ');
    }
  }
  text.resize(size);
  return text;
}

// Code-like bytes: instruction patterns with small operands, calls with
// nearby targets, pointer tables, string tables and alignment padding.
inline Bytes Executable(std::size_t size, std::uint64_t seed) {
  static const std::vector<std::vector<std::uint8_t>> patterns = {
      {0x55, 0x8B, 0xEC}, {0x83, 0xEC}, {0x8B, 0x45}, {0x8B, 0x4D}, {0x89, 0x45},
      {0x8B, 0x55}, {0x6A}, {0x50}, {0x51}, {0x52}, {0x56}, {0x57}, {0x5F, 0x5E},
      {0x8B, 0xE5, 0x5D, 0xC3}, {0x33, 0xC0}, {0x85, 0xC0, 0x74}, {0x85, 0xC0, 0x75},
      {0x3B, 0xC1}, {0x0F, 0x84}, {0xFF, 0x15}, {0x83, 0xC4}, {0xC7, 0x45}, {0x8D, 0x45},
      {0x8D, 0x4D}, {0x40}, {0x48}, {0xEB}, {0xC2, 0x04, 0x00}, {0x90}};
  Random random{seed};
  Bytes out;
  out.reserve(size + 4096);
  while (out.size() < size) {
    const std::uint32_t section = random.Below(10);
    if (section < 7) {  // code
      for (std::uint32_t i = 200 + random.Below(2000); i > 0; --i) {
        const auto& p = patterns[random.Skewed(static_cast<std::uint32_t>(patterns.size()))];
        out.insert(out.end(), p.begin(), p.end());
        const std::uint32_t operand = random.Below(4);
        if (operand == 0) out.push_back(static_cast<std::uint8_t>(random.Skewed(64) * 4));
        if (operand == 1) {
          out.push_back(0xE8);  // call rel32
          const auto target = static_cast<std::uint32_t>(-static_cast<std::int32_t>(random.Below(65536)));
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(target >> (8 * b)));
        }
      }
    } else if (section < 9) {  // pointer table
      std::uint32_t address = 0x00401000 + random.Below(0x40000);
      for (std::uint32_t i = 50 + random.Below(400); i > 0; --i) {
        address += 4 + random.Skewed(256);
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>(address >> (8 * b)));
      }
    } else {  // strings and padding
      for (std::uint8_t c : Text(200 + random.Below(2000), random.Next()))
        out.push_back(c == ' ' && random.Below(4) == 0 ? 0 : c);
      out.insert(out.end(), random.Below(512), 0);
    }
  }
  out.resize(size);
  return out;
}

// Small little-endian integers, zero padding, repeated records and code-like
// noise, as real executables are full of zero pairs.
inline Bytes ZeroHeavy(std::size_t size, std::uint64_t seed) {
  Random random{seed};
  Bytes bytes;
  while (bytes.size() < size) {
    const std::uint32_t kind = random.Below(8);
    if (kind < 3) {
      for (std::uint32_t i = random.Below(40); i > 0; --i) {
        const std::uint32_t value = random.Skewed(300);
        for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * b)));
      }
    } else if (kind == 3) {
      bytes.insert(bytes.end(), random.Skewed(700), 0);
    } else if (kind == 4 && bytes.size() > 600) {
      const std::size_t from =
          bytes.size() - 1 - random.Below(static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), 5000)));
      for (std::size_t i = 0, n = 3 + random.Skewed(200); i < n; ++i) bytes.push_back(bytes[from + i]);
    } else {
      for (std::uint32_t i = random.Below(30); i > 0; --i)
        bytes.push_back(static_cast<std::uint8_t>(random.Below(4) == 0 ? 0 : random.Next()));
    }
  }
  bytes.resize(size);
  return bytes;
}

// Runs of a few byte values: short ones, ones around the 516-byte match
// limit, and long ones.
inline Bytes Runs(std::size_t size, std::uint64_t seed) {
  Random random{seed};
  Bytes bytes;
  while (bytes.size() < size) {
    const std::uint32_t pick = random.Below(6);
    const std::size_t length =
        pick < 3 ? 1 + random.Below(12) : pick < 5 ? 510 + random.Below(14) : 1 + random.Below(3000);
    bytes.insert(bytes.end(), length, static_cast<std::uint8_t>(random.Below(3) * 0x41));
  }
  bytes.resize(size);
  return bytes;
}

// Words, runs, repeats and noise mixed, so that every kind of match occurs.
inline Bytes Mixed(std::size_t size, std::uint64_t seed) {
  static const char* const words[] = {"the ", "package ", "installer ", "stream ", "of ",
                                      "setup ", "\r\n", "engine ", "a ", "file "};
  Random random{seed};
  Bytes bytes;
  bytes.reserve(size + 600);
  while (bytes.size() < size) {
    const std::uint32_t kind = random.Next() % 8;
    if (kind < 4) {
      const std::string_view word = words[random.Next() % 10];
      bytes.insert(bytes.end(), word.begin(), word.end());
    } else if (kind == 4) {
      bytes.insert(bytes.end(), 1 + random.Next() % 600, static_cast<std::uint8_t>(random.Next()));
    } else if (kind == 5 && bytes.size() > 10) {
      const std::size_t distance = 1 + random.Next() % std::min<std::size_t>(bytes.size(), 5000);
      const std::size_t length = 2 + random.Next() % 600;
      for (std::size_t i = 0; i < length; ++i) bytes.push_back(bytes[bytes.size() - distance]);
    } else {
      for (std::uint32_t i = random.Next() % 40; i > 0; --i) bytes.push_back(static_cast<std::uint8_t>(random.Next()));
    }
  }
  bytes.resize(size);
  return bytes;
}

// A random cycle of `period` bytes, repeated.
inline Bytes Periodic(std::size_t size, std::size_t period, std::uint64_t seed) {
  const Bytes cycle = Noise(period, seed);
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = cycle[i % period];
  return bytes;
}

// Letters from the first `symbols` of the alphabet, at random.
inline Bytes SmallAlphabet(std::size_t size, std::uint32_t symbols, std::uint64_t seed) {
  Random random{seed};
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>('a' + random.Below(symbols));
  return bytes;
}

}  // namespace qd::test::corpus
