//===- codec_test_support.h - Streams, inputs and callbacks for codec tests -===//
//
// Runs the codec through memory callbacks that log every call, builds
// streams bit by bit, lists a stream's tokens with a plain bit-by-bit reader
// (independent of the decoder's lookups), and makes deterministic inputs.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "codec/implode_search.h"
#include "codec/tables.h"
#include "support/corpus.h"
#include "support/files.h"
#include "support/memory_stream.h"
#include "support/random.h"

namespace qd::test {

using Bytes = std::vector<std::uint8_t>;

inline std::filesystem::path VectorDir() {
  return std::filesystem::path(QDPACK_SOURCE_DIR) / "tests/data/codec-vectors";
}
inline Bytes Vector(const std::string& name) { return ReadAll(VectorDir() / name); }

// Names of the inputs (NAME.bin) in the vector folder, sorted.
inline std::vector<std::string> VectorInputs() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(VectorDir()))
    if (entry.path().extension() == ".bin") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Setting {
  std::uint32_t mode;
  std::uint32_t dictionary;
  const char* suffix;  // of the vector files
};
inline constexpr Setting AllSettings[] = {
    {0, 1024, "binary.small"}, {0, 2048, "binary.medium"}, {0, 4096, "binary.large"},
    {1, 1024, "ascii.small"},  {1, 2048, "ascii.medium"},  {1, 4096, "ascii.large"},
};

// One codec run through logging memory callbacks.
struct StreamRun {
  std::uint32_t result = 0;
  Bytes output;
  std::vector<std::uint32_t> readRequests;  // size word of each read
  std::vector<std::uint32_t> writeSizes;
};

inline StreamRun Finished(std::uint32_t result, MemoryStream& stream) {
  return {result, std::move(stream.output), std::move(stream.readRequests), std::move(stream.writeSizes)};
}

// A codec record as a caller may hand it over: not cleared, full of bytes
// that the codec must not take for its own.
template <typename State>
std::unique_ptr<State> UnclearedState() {
  auto state = std::make_unique_for_overwrite<State>();
  std::memset(static_cast<void*>(state.get()), 0xA5, sizeof(State));
  return state;
}

inline StreamRun Explode(const Bytes& stream, std::uint32_t piece = UINT32_MAX) {
  MemoryStream s{stream, piece};
  auto state = UnclearedState<ExplodeState>();
  return Finished(ExplodeStream(MemoryStreamRead, MemoryStreamWrite, *state, &s), s);
}

inline StreamRun Implode(const Bytes& input, std::uint32_t mode = 0, std::uint32_t dictionary = 4096,
                         std::uint32_t piece = UINT32_MAX, ImplodeState* reused = nullptr) {
  MemoryStream s{input, piece};
  auto state = reused ? nullptr : UnclearedState<ImplodeState>();
  ImplodeState& record = reused ? *reused : *state;
  return Finished(ImplodeStream(MemoryStreamRead, MemoryStreamWrite, record, &s, mode, dictionary), s);
}

// The stream that the compressor writes with the given match search.
inline Bytes ImplodeUsing(codec::MatchSearch search, const Bytes& input, std::uint32_t mode,
                          std::uint32_t dictionary) {
  MemoryStream s{input};
  auto state = std::make_unique<ImplodeState>();
  codec::ImplodeStreamUsing(search, MemoryStreamRead, MemoryStreamWrite, *state, &s, mode, dictionary);
  return std::move(s.output);
}

// Composes a stream: fields go in lowest bit first.
class BitWriter {
 public:
  BitWriter(std::uint8_t mode, std::uint8_t dictionaryBits) : bytes_{mode, dictionaryBits} {}
  void Put(std::uint32_t n, std::uint32_t value) {
    for (std::uint32_t i = 0; i < n; ++i, ++bit_) {
      if (bit_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (1u << (bit_ % 8)));
    }
  }
  void Literal(std::uint8_t byte) {
    Put(1, 0);
    Put(8, byte);
  }
  // A copy with an explicit distance code row and low bits.
  void Copy(std::uint32_t length, std::uint32_t high, std::uint32_t low, std::uint32_t lowBits) {
    Put(1, 1);
    std::uint32_t row = 15;
    while (codec::LengthBase[row] + 2u > length) --row;
    Put(codec::LengthBits[row], codec::LengthCodes[row]);
    Put(codec::LengthExtraBits[row], length - 2 - codec::LengthBase[row]);
    if (length == codec::EndOfStreamLength) return;
    Put(codec::DistanceBits[high], codec::DistanceCodes[high]);
    Put(lowBits, low);
  }
  void End() { Copy(codec::EndOfStreamLength, 0, 0, 0); }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  std::uint32_t bit_ = 0;
};

// A token of a binary-mode stream: a literal (length 0) or a copy.
struct Token {
  std::uint32_t length = 0;
  std::uint32_t value = 0;  // the literal byte, or the copy's distance
  bool operator==(const Token&) const = default;
};
inline Token Lit(std::uint8_t byte) { return {0, byte}; }
inline Token Copy(std::uint32_t length, std::uint32_t distance) { return {length, distance}; }

inline std::ostream& operator<<(std::ostream& out, const Token& t) {
  if (t.length == 0) return out << "literal " << t.value;
  return out << "copy " << t.length << " at " << t.value;
}

// Lists the tokens of a binary-mode stream, reading one bit at a time and
// matching codes by trying each row; nullopt when the stream is malformed.
inline std::optional<std::vector<Token>> Tokens(const Bytes& stream) {
  if (stream.size() < 2 || stream[0] != 0) return std::nullopt;
  const std::uint32_t k = stream[1];
  std::size_t bit = 16;
  auto take = [&](std::uint32_t n) -> std::optional<std::uint32_t> {
    std::uint32_t v = 0;
    for (std::uint32_t i = 0; i < n; ++i, ++bit) {
      if (bit / 8 >= stream.size()) return std::nullopt;
      v |= ((stream[bit / 8] >> (bit % 8)) & 1u) << i;
    }
    return v;
  };
  auto code = [&](const auto& bits, const auto& codes) -> std::optional<std::uint32_t> {
    for (std::uint32_t row = 0; row < bits.size(); ++row) {
      const std::size_t saved = bit;
      const auto v = take(bits[row]);
      if (v && *v == codes[row]) return row;
      bit = saved;
    }
    return std::nullopt;
  };
  std::vector<Token> tokens;
  for (;;) {
    const auto flag = take(1);
    if (!flag) return std::nullopt;
    if (*flag == 0) {
      const auto byte = take(8);
      if (!byte) return std::nullopt;
      tokens.push_back(Lit(static_cast<std::uint8_t>(*byte)));
      continue;
    }
    const auto row = code(codec::LengthBits, codec::LengthCodes);
    if (!row) return std::nullopt;
    const auto extra = take(codec::LengthExtraBits[*row]);
    if (!extra) return std::nullopt;
    const std::uint32_t length = codec::LengthBase[*row] + *extra + 2;
    if (length == codec::EndOfStreamLength) return tokens;
    const auto high = code(codec::DistanceBits, codec::DistanceCodes);
    const std::uint32_t lowBits = length == 2 ? 2 : k;
    const auto low = take(lowBits);
    if (!high || !low) return std::nullopt;
    tokens.push_back(Copy(length, (*high << lowBits) + *low + 1));
  }
}


}  // namespace qd::test
