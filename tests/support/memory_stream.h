//===- memory_stream.h - A codec's callbacks over memory, for tests ---------===//
//
// The read callback hands out the input (at most `piece` bytes a call) and
// the write callback collects the output; both log the sizes the codec used.
// Shared by the codec tests and the fuzzers, so it needs no test framework.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace qd::test {

struct MemoryStream {
  explicit MemoryStream(std::span<const std::uint8_t> in, std::uint32_t mostPerRead = UINT32_MAX)
      : input(in), piece(mostPerRead) {}

  std::span<const std::uint8_t> input;
  std::uint32_t piece;  // most bytes one read delivers
  std::size_t at = 0;
  std::vector<std::uint8_t> output;
  std::vector<std::uint32_t> readRequests;  // size word of each read
  std::vector<std::uint32_t> writeSizes;
};

inline std::uint32_t MemoryStreamRead(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& s = *static_cast<MemoryStream*>(parameter);
  s.readRequests.push_back(*size);
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>({*size, s.piece, s.input.size() - s.at}));
  std::copy_n(s.input.begin() + static_cast<std::ptrdiff_t>(s.at), n, buffer);
  s.at += n;
  return n;
}

inline void MemoryStreamWrite(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& s = *static_cast<MemoryStream*>(parameter);
  s.writeSizes.push_back(*size);
  s.output.insert(s.output.end(), buffer, buffer + *size);
}

}  // namespace qd::test
