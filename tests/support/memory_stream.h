//===- memory_stream.h - A codec's callbacks over memory, for tests ---------===//
//
// The read callback hands out the input (at most `piece` bytes a call) and
// the write callback collects the output; both log the sizes the codec used.
// ReadsOf does the same for a package reader.
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

// A package reader's read function over `bytes` from `offset` on: at most
// `mostPerRead` bytes a read, none past the end.
inline auto ReadsOf(std::span<const std::uint8_t> bytes, std::uint64_t offset = 0,
                    std::size_t mostPerRead = SIZE_MAX) {
  return [bytes, offset, mostPerRead](std::span<std::uint8_t> buffer) mutable -> std::int64_t {
    const std::size_t left = offset < bytes.size() ? bytes.size() - static_cast<std::size_t>(offset) : 0;
    const std::size_t n = std::min({buffer.size(), left, mostPerRead});
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
    offset += n;
    return static_cast<std::int64_t>(n);
  };
}

}  // namespace qd::test
