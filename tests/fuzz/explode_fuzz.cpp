//===- explode_fuzz.cpp - The decompressor on arbitrary streams -------------===//
//
// Any bytes as a stream: the decoder must end with one of its results, write
// whole 4096-byte windows and one final rest, and stay within its buffers.
// Whatever decodes completely must survive a round trip through the
// compressor (in the stream's own settings) and the decoder again. Both
// state records are reused from run to run, as a record may be.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "support/memory_stream.h"

namespace {

using qd::test::MemoryStream;
using qd::test::MemoryStreamRead;
using qd::test::MemoryStreamWrite;

// One record for every run: the decoder must not carry anything over.
qd::ExplodeState& DecoderState() {
  static const auto state = std::make_unique<qd::ExplodeState>();
  return *state;
}

MemoryStream Explode(std::span<const std::uint8_t> stream, std::uint32_t& result) {
  MemoryStream s{stream};
  result = qd::ExplodeStream(MemoryStreamRead, MemoryStreamWrite, DecoderState(), &s);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t result = 0;
  const MemoryStream decoded = Explode({data, size}, result);
  if (result > qd::ExplodeTruncated) std::abort();
  const bool headerAccepted = result == qd::ExplodeOk || result == qd::ExplodeTruncated;
  if (headerAccepted != !decoded.writeSizes.empty()) std::abort();
  for (std::size_t i = 0; i + 1 < decoded.writeSizes.size(); ++i)
    if (decoded.writeSizes[i] != qd::ExplodeWriteSize) std::abort();
  if (!decoded.writeSizes.empty() && decoded.writeSizes.back() >= qd::ExplodeWriteSize) std::abort();

  if (result != qd::ExplodeOk || decoded.output.empty() || decoded.output.size() > 16384) return 0;
  const std::uint32_t mode = data[0];
  const std::uint32_t dictionary = 64u << data[1];
  MemoryStream packed{decoded.output};
  static const auto state = std::make_unique<qd::ImplodeState>();
  if (qd::ImplodeStream(MemoryStreamRead, MemoryStreamWrite, *state, &packed, mode, dictionary) != qd::ImplodeOk)
    std::abort();
  std::uint32_t again = 0;
  const MemoryStream unpacked = Explode(packed.output, again);
  if (again != qd::ExplodeOk || unpacked.output != decoded.output) std::abort();
  return 0;
}
