//===- decompress_fuzz.cpp - DecompressToMemory on arbitrary streams --------===//
//
// The destination is exactly as large as the capacity, so a write past it is
// caught. The wrapper must give the decoded size when the stream is whole and
// fits, and -1 otherwise, with the decoder's bytes at the destination.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "support/memory_stream.h"


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qd::test::MemoryStream reference{{data, size}};
  auto state = std::make_unique<qd::ExplodeState>();
  const std::uint32_t result =
      qd::ExplodeStream(qd::test::MemoryStreamRead, qd::test::MemoryStreamWrite, *state, &reference);

  // Capacities around the decoded size, chosen by the stream's length.
  const std::size_t decoded = reference.output.size();
  const std::size_t capacity = size % 3 == 0 ? decoded : size % 3 == 1 ? decoded + 1 : decoded / 2;
  std::vector<std::uint8_t> destination(capacity);
  const std::int32_t got = qd::DecompressToMemory(
      destination.data(), static_cast<std::uint32_t>(capacity), data, static_cast<std::uint32_t>(size));

  const bool fits = result == qd::ExplodeOk && decoded <= capacity;
  if (got != (fits ? static_cast<std::int32_t>(decoded) : -1)) std::abort();
  if (fits && !std::equal(reference.output.begin(), reference.output.end(), destination.begin()))
    std::abort();
  return 0;
}
