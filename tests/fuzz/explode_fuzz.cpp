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

namespace {

struct Transfer {
  const std::uint8_t* data = nullptr;
  std::size_t left = 0;
  std::vector<std::uint8_t> output;
  std::vector<std::uint32_t> writes;
};

std::uint32_t Read(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& t = *static_cast<Transfer*>(parameter);
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(*size, t.left));
  std::copy_n(t.data, n, buffer);
  t.data += n;
  t.left -= n;
  return n;
}

void Write(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& t = *static_cast<Transfer*>(parameter);
  t.writes.push_back(*size);
  t.output.insert(t.output.end(), buffer, buffer + *size);
}

// One record for every run: the decoder must not carry anything over.
qd::ExplodeState& DecoderState() {
  static const auto state = std::make_unique<qd::ExplodeState>();
  return *state;
}

Transfer Explode(const std::uint8_t* data, std::size_t size, std::uint32_t& result) {
  Transfer t{data, size, {}, {}};
  result = qd::ExplodeStream(Read, Write, DecoderState(), &t);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t result = 0;
  const Transfer decoded = Explode(data, size, result);
  if (result > qd::ExplodeTruncated) std::abort();
  const bool headerAccepted = result == qd::ExplodeOk || result == qd::ExplodeTruncated;
  if (headerAccepted != !decoded.writes.empty()) std::abort();
  for (std::size_t i = 0; i + 1 < decoded.writes.size(); ++i)
    if (decoded.writes[i] != qd::ExplodeWriteSize) std::abort();
  if (!decoded.writes.empty() && decoded.writes.back() >= qd::ExplodeWriteSize) std::abort();

  if (result != qd::ExplodeOk || decoded.output.empty() || decoded.output.size() > 16384) return 0;
  const std::uint32_t mode = data[0];
  const std::uint32_t dictionary = 64u << data[1];
  Transfer packed{decoded.output.data(), decoded.output.size(), {}, {}};
  static const auto state = std::make_unique<qd::ImplodeState>();
  if (qd::ImplodeStream(Read, Write, *state, &packed, mode, dictionary) != qd::ImplodeOk)
    std::abort();
  std::uint32_t again = 0;
  const Transfer unpacked = Explode(packed.output.data(), packed.output.size(), again);
  if (again != qd::ExplodeOk || unpacked.output != decoded.output) std::abort();
  return 0;
}
