//===- implode_fuzz.cpp - The compressor's two searches on arbitrary input ---===//
//
// The first byte chooses the setting (one of six) and how the rest is read.
// Either the rest is the input as it stands, or it is a recipe that grows
// the kind of input where matches get long: each pair of bytes (a, n) adds
// a run of the byte a, a copy of earlier bytes, or the two bytes themselves.
// The compressor as callers get it (in the checking build, both searches
// side by side at every position) and the block search alone must write
// the same stream, and the stream must decode back to the input.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec/implode_search.h"
#include "support/memory_stream.h"

namespace {

using qd::test::MemoryStream;
using qd::test::MemoryStreamRead;
using qd::test::MemoryStreamWrite;

constexpr std::size_t MostInput = 1 << 16;

std::vector<std::uint8_t> FromRecipe(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> input;
  for (std::size_t i = 0; i + 1 < size && input.size() < MostInput; i += 2) {
    const std::uint8_t a = data[i];
    const std::uint8_t n = data[i + 1];
    if (n >= 0xC0) {
      input.insert(input.end(), 1 + (n - 0xC0) * 16u, a);
    } else if (n >= 0x40 && !input.empty()) {
      const std::size_t distance = 1 + (a * 17u) % input.size();
      const std::size_t length = 2 + (n - 0x40) * 5u;
      for (std::size_t k = 0; k < length; ++k) input.push_back(input[input.size() - distance]);
    } else {
      input.push_back(a);
      input.push_back(n);
    }
  }
  return input;
}

// Records are reused from run to run, as a caller may.
std::vector<std::uint8_t> Implode(const std::vector<std::uint8_t>& input, std::uint32_t mode,
                                  std::uint32_t dictionary) {
  static const auto state = std::make_unique<qd::ImplodeState>();
  MemoryStream s{input};
  if (qd::ImplodeStream(MemoryStreamRead, MemoryStreamWrite, *state, &s, mode, dictionary) !=
      qd::ImplodeOk)
    std::abort();
  return std::move(s.output);
}

std::vector<std::uint8_t> ImplodeWithBlockSearch(const std::vector<std::uint8_t>& input,
                                                 std::uint32_t mode, std::uint32_t dictionary) {
  static const auto state = std::make_unique<qd::ImplodeState>();
  MemoryStream s{input};
  if (qd::codec::ImplodeStreamUsing(qd::codec::MatchSearch::Block, MemoryStreamRead,
                                    MemoryStreamWrite, *state, &s, mode, dictionary) != qd::ImplodeOk)
    std::abort();
  return std::move(s.output);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint32_t setting = data[0] % 6;
  const std::uint32_t mode = setting / 3;
  const std::uint32_t dictionary = 1024u << (setting % 3);
  const std::vector<std::uint8_t> input =
      data[0] & 0x80 ? FromRecipe(data + 1, size - 1)
                     : std::vector<std::uint8_t>(data + 1, data + std::min(size, MostInput + 1));

  const auto stream = Implode(input, mode, dictionary);
  if (stream != ImplodeWithBlockSearch(input, mode, dictionary)) std::abort();

  if (input.empty()) return 0;  // its 4-byte stream is too short for the decoder
  MemoryStream unpacked{stream};
  static const auto decoder = std::make_unique<qd::ExplodeState>();
  if (qd::ExplodeStream(MemoryStreamRead, MemoryStreamWrite, *decoder, &unpacked) != qd::ExplodeOk ||
      unpacked.output != input)
    std::abort();
  return 0;
}
