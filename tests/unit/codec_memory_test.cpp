//===- codec_memory_test.cpp - Compressing and decompressing between buffers -===//
#include <gtest/gtest.h>

#include "codec_test_support.h"

namespace qd::test {
namespace {

// The wrapper's result, what it placed at the destination, the decoder's
// result, and anything it printed (the codec itself shows nothing).
struct MemoryRun {
  std::int32_t result = 0;
  Bytes output;
  std::uint32_t explode = ExplodeOk;
  std::string shown;
};

MemoryRun Compress(const Bytes& source, std::uint32_t capacity) {
  MemoryRun run;
  run.output.assign(capacity + 16, 0xEE);
  testing::internal::CaptureStderr();
  run.result = CompressToMemory(run.output.data(), capacity, source.data(),
                                static_cast<std::uint32_t>(source.size()));
  run.shown = testing::internal::GetCapturedStderr();
  return run;
}

MemoryRun Decompress(const Bytes& source, std::uint32_t capacity) {
  MemoryRun run;
  run.output.assign(capacity + 16, 0xEE);
  testing::internal::CaptureStderr();
  run.result = DecompressToMemory(run.output.data(), capacity, source.data(),
                                  static_cast<std::uint32_t>(source.size()), &run.explode);
  run.shown = testing::internal::GetCapturedStderr();
  return run;
}

bool Untouched(const MemoryRun& run, std::size_t from) {
  return std::all_of(run.output.begin() + static_cast<std::ptrdiff_t>(from), run.output.end(),
                     [](std::uint8_t b) { return b == 0xEE; });
}

TEST(MemoryCodec, CompressingFitsTheCapacityExactlyOrFails) {
  struct Case {
    Bytes source;
    std::uint32_t capacity;
    std::int32_t result;
  };
  const Bytes text = corpus::Mixed(30000, 5);
  const auto textSize = static_cast<std::uint32_t>(Implode(text).output.size());
  for (const Case& c : {Case{{}, 4, 4}, Case{{}, 3, -1}, Case{{0x61}, 6, 6}, Case{{0x61}, 5, -1},
                        Case{{0x61}, 1, -1}, Case{text, textSize, static_cast<std::int32_t>(textSize)},
                        Case{text, textSize - 1, -1}}) {
    const MemoryRun run = Compress(c.source, c.capacity);
    EXPECT_EQ(run.result, c.result) << c.source.size() << " into " << c.capacity;
    EXPECT_TRUE(Untouched(run, c.capacity));
    EXPECT_EQ(run.shown, "");
  }
  const MemoryRun one = Compress({0x61}, 6);
  EXPECT_EQ(Bytes(one.output.begin(), one.output.begin() + 6),
            (Bytes{0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01}));
}

TEST(MemoryCodec, CompressedBytesAreThoseOfTheBinaryLargeStream) {
  const Bytes input = Vector("mixed_300k.bin");
  const Bytes expected = Vector("mixed_300k.binary.large.exact");
  const MemoryRun run = Compress(input, static_cast<std::uint32_t>(input.size() + input.size() / 5));
  ASSERT_EQ(run.result, static_cast<std::int32_t>(expected.size()));
  EXPECT_TRUE(Bytes(run.output.begin(), run.output.begin() + run.result) == expected);
}

TEST(MemoryCodec, MalformedStreamsFailWithTheDecoderResult) {
  const Bytes good = Vector("text_1k.binary.large.exact");
  struct Case {
    const char* what;
    Bytes source;
    std::uint32_t explode;
  };
  const Case cases[] = {
      {"nothing", {}, ExplodeTooShort},
      {"the empty input's complete stream", {0x00, 0x06, 0x01, 0xFF}, ExplodeTooShort},
      {"literal mode 5", {0x05, 0x06, 0x01, 0xFF, 0x00}, ExplodeBadLiteralMode},
      {"dictionary bits 7", {0x05, 0x07, 0x01, 0xFF, 0x00}, ExplodeBadDictionary},
      {"a stream cut short", Bytes(good.begin(), good.end() - 1), ExplodeTruncated},
  };
  for (const Case& c : cases) {
    const MemoryRun run = Decompress(c.source, 4000);
    EXPECT_EQ(run.result, -1) << c.what;
    EXPECT_EQ(run.explode, c.explode) << c.what;
    EXPECT_EQ(run.shown, "") << c.what;
  }
}

TEST(MemoryCodec, DecompressingFitsTheCapacityExactlyOrFails) {
  for (const std::string name : {"text_1k", "block_4096", "block_4097", "mixed_300k"}) {
    const Bytes input = Vector(name + ".bin");
    const Bytes stream = Vector(name + ".binary.large.exact");
    const auto size = static_cast<std::uint32_t>(input.size());

    const MemoryRun exact = Decompress(stream, size);
    EXPECT_EQ(exact.result, static_cast<std::int32_t>(size)) << name;
    EXPECT_TRUE(Bytes(exact.output.begin(), exact.output.begin() + size) == input) << name;
    EXPECT_TRUE(Untouched(exact, size));

    const MemoryRun tight = Decompress(stream, size - 1);
    EXPECT_EQ(tight.result, -1) << name;
    EXPECT_TRUE(Untouched(tight, size - 1));
    EXPECT_EQ(tight.shown, "") << name;
  }
}

TEST(MemoryCodec, BytesAfterTheEndCodeAreIgnored) {
  Bytes stream = Vector("random_5k.binary.large.exact");
  const Bytes input = Vector("random_5k.bin");
  stream.insert(stream.end(), 5000, 0xA5);
  const MemoryRun run = Decompress(stream, 6000);
  ASSERT_EQ(run.result, 5000);
  EXPECT_TRUE(Bytes(run.output.begin(), run.output.begin() + 5000) == input);
}

// Also with one state record kept from buffer to buffer, large and small in
// turn, as the builder keeps one per thread: the same streams.
TEST(MemoryCodec, RoundTripsThroughBothWrappers) {
  const auto kept = std::make_unique_for_overwrite<ImplodeState>();
  for (std::size_t size : {70000u, 1u, 2u, 4095u, 8708u, 4096u, 4097u, 70000u}) {
    const Bytes input = corpus::Mixed(size, size * 3);
    const auto n = static_cast<std::uint32_t>(size);
    const MemoryRun packed = Compress(input, n + n / 5 + 16);
    ASSERT_GT(packed.result, 0) << size;
    Bytes again(n + n / 5 + 16);
    ASSERT_EQ(CompressToMemory(again.data(), static_cast<std::uint32_t>(again.size()), input.data(), n, *kept),
              packed.result);
    EXPECT_TRUE(std::equal(again.begin(), again.begin() + packed.result, packed.output.begin())) << size;
    const MemoryRun unpacked =
        Decompress(Bytes(packed.output.begin(), packed.output.begin() + packed.result), n);
    ASSERT_EQ(unpacked.result, static_cast<std::int32_t>(n)) << size;
    EXPECT_TRUE(Bytes(unpacked.output.begin(), unpacked.output.begin() + n) == input) << size;
  }
}

}  // namespace
}  // namespace qd::test
