//===- codec_explode_test.cpp - Decompressing implode streams ---------------===//
#include <gtest/gtest.h>

#include "codec_test_support.h"

namespace qd::test {
namespace {

TEST(Explode, EveryVectorStreamDecodesToItsInput) {
  std::size_t checked = 0;
  for (const std::string& name : VectorInputs()) {
    const Bytes input = Vector(name + ".bin");
    for (const Setting& setting : AllSettings) {
      for (const char* kind : {".imp", ".exact"}) {
        const std::string file = name + "." + setting.suffix + kind;
        const StreamRun run = Explode(Vector(file));
        EXPECT_EQ(run.result, ExplodeOk) << file;
        EXPECT_TRUE(run.output == input) << file;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 96u);
}

TEST(Explode, InputDeliveredInSmallPiecesDecodesTheSame) {
  const Bytes input = Vector("mixed_300k.bin");
  const Bytes stream = Vector("mixed_300k.ascii.medium.exact");
  for (std::uint32_t piece : {5u, 7u, 1000u}) {
    const StreamRun run = Explode(stream, piece);
    EXPECT_EQ(run.result, ExplodeOk) << piece;
    EXPECT_TRUE(run.output == input) << piece;
  }
  // Only the first read is held to its 5 bytes.
  EXPECT_EQ(Explode(stream, 4).result, ExplodeTooShort);
}

// Streams composed bit by bit, with the result and bytes each must give.
struct Case {
  const char* what;
  Bytes stream;
  std::uint32_t result;
  Bytes output;
};

Bytes Repeat(std::size_t n, std::uint8_t byte) { return Bytes(n, byte); }

std::vector<Case> HandMadeCases() {
  std::vector<Case> cases;
  cases.push_back({"the empty input's complete stream is too short", {0x00, 0x06, 0x01, 0xFF},
                   ExplodeTooShort, {}});
  cases.push_back({"a single literal", {0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01}, ExplodeOk, {0x61}});
  cases.push_back({"bytes after the end code are ignored",
                   {0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01, 0x12, 0x34, 0x56}, ExplodeOk, {0x61}});
  cases.push_back({"dictionary bits 3", {0x00, 0x03, 0x01, 0xFF, 0x00}, ExplodeBadDictionary, {}});
  cases.push_back({"literal mode 2", {0x02, 0x06, 0x01, 0xFF, 0x00}, ExplodeBadLiteralMode, {}});
  cases.push_back({"literal mode 5", {0x05, 0x06, 0x01, 0xFF, 0x00}, ExplodeBadLiteralMode, {}});
  cases.push_back({"the dictionary is checked first", {0x02, 0x07, 0x01, 0xFF, 0x00},
                   ExplodeBadDictionary, {}});
  {
    // 8 literals and the end code fill exactly 11 bytes: no padding byte.
    BitWriter w(0, 6);
    for (std::uint8_t b = 1; b <= 8; ++b) w.Literal(b);
    w.End();
    cases.push_back({"a stream ending right after its end code", w.bytes(), ExplodeOk,
                     {1, 2, 3, 4, 5, 6, 7, 8}});
  }
  {
    BitWriter w(0, 6);
    w.Literal(0x41);
    w.Copy(10, 0, 0, 6);  // distance 1
    w.End();
    cases.push_back({"a distance of 1 repeats the last byte", w.bytes(), ExplodeOk,
                     Repeat(11, 0x41)});
  }
  {
    // A 2-byte copy with high part 63 and low bits 3 reaches 256 back.
    Bytes expected = corpus::Noise(256, 1);
    BitWriter w(0, 6);
    for (std::uint8_t b : expected) w.Literal(b);
    w.Copy(2, 63, 3, 2);
    w.End();
    expected.push_back(expected[0]);
    expected.push_back(expected[1]);
    cases.push_back({"a 2-byte copy reaches 256 back", w.bytes(), ExplodeOk, expected});
  }
  {
    Bytes expected = corpus::Noise(4096, 2);
    BitWriter w(0, 6);
    for (std::uint8_t b : expected) w.Literal(b);
    w.Copy(5, 63, 63, 6);
    w.End();
    expected.insert(expected.end(), expected.begin(), expected.begin() + 5);
    cases.push_back({"a longer copy reaches 4096 back", w.bytes(), ExplodeOk, expected});
  }
  {
    BitWriter w(0, 4);
    w.Literal(0x7A);
    w.Copy(4, 1, 15, 4);  // 32 back: 31 zeros before the first byte
    w.End();
    cases.push_back({"a copy from before the first byte yields zeros", w.bytes(), ExplodeOk,
                     {0x7A, 0, 0, 0, 0}});
  }
  {
    BitWriter w(1, 6);
    w.Put(1, 0);
    w.Put(4, 0x0F);  // the space
    w.Put(1, 0);
    w.Put(codec::AsciiBits[0xFF], codec::AsciiCodes[0xFF]);
    w.Put(1, 0);
    w.Put(codec::AsciiBits[0x80], codec::AsciiCodes[0x80]);
    w.Put(1, 0);
    w.Put(codec::AsciiBits[0x0A], codec::AsciiCodes[0x0A]);
    w.End();
    cases.push_back({"ASCII literals of 4, 13 and 7 bits", w.bytes(), ExplodeOk,
                     {0x20, 0xFF, 0x80, 0x0A}});
  }
  {
    BitWriter w(0, 6);
    for (std::uint8_t b = 1; b <= 3; ++b) w.Literal(b);
    Bytes cut = w.bytes();
    cases.push_back({"a stream without its end code", cut, ExplodeTruncated, {1, 2}});
  }
  {
    BitWriter w(0, 5);
    w.Literal(9);
    w.Copy(100, 0, 0, 5);
    w.Put(1, 1);  // a copy whose length code is cut off
    w.Put(7, 0);
    cases.push_back({"a stream cut inside a copy", w.bytes(), ExplodeTruncated, Repeat(101, 9)});
  }
  return cases;
}

TEST(Explode, HandMadeStreamsGiveTheirResultAndBytes) {
  for (const Case& c : HandMadeCases()) {
    const StreamRun run = Explode(c.stream);
    EXPECT_EQ(run.result, c.result) << c.what;
    EXPECT_TRUE(run.output == c.output) << c.what << ": " << run.output.size() << " bytes";
  }
}

// Literals only: every 4096 bytes of output leave in one write.
Bytes LiteralStream(const Bytes& bytes) {
  BitWriter w(0, 6);
  for (std::uint8_t b : bytes) w.Literal(b);
  w.End();
  return w.bytes();
}

TEST(Explode, WritesWholeWindowsThenTheRest) {
  struct Expect {
    std::size_t size;
    std::vector<std::uint32_t> writes;
  };
  for (const Expect& e : {Expect{0, {0}}, Expect{1, {1}}, Expect{4096, {4096, 0}},
                          Expect{4097, {4096, 1}}, Expect{10000, {4096, 4096, 1808}}}) {
    // Size 0 needs a padded stream: a bare 4-byte stream is refused.
    Bytes stream = LiteralStream(corpus::Noise(e.size, e.size));
    stream.push_back(0);
    const StreamRun run = Explode(stream);
    EXPECT_EQ(run.result, ExplodeOk) << e.size;
    EXPECT_EQ(run.writeSizes, e.writes) << e.size;
    EXPECT_TRUE(std::all_of(run.readRequests.begin(), run.readRequests.end(),
                            [](std::uint32_t size) { return size == ExplodeReadSize; }));
  }
}

// The decoder keeps 8 bits ahead: it reads again only when a token needs a
// byte that it does not hold, even at the very end of the stream.
TEST(Explode, ReadsOnlyWhenItNeedsAByte) {
  const Bytes single = {0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01};
  EXPECT_EQ(Explode(single).readRequests.size(), 2u);
  Bytes padded = single;
  padded.push_back(0);
  EXPECT_EQ(Explode(padded).readRequests.size(), 1u);
  Bytes longer = LiteralStream(corpus::Noise(3000, 4));
  EXPECT_EQ(Explode(longer).readRequests,
            (std::vector<std::uint32_t>(longer.size() / ExplodeReadSize + 2, ExplodeReadSize)));
}

TEST(Explode, RefusedHeaderWritesNothing) {
  for (const Bytes& stream : {Bytes{0x00, 0x06, 0x01, 0xFF}, Bytes{0x00, 0x07, 0, 0, 0},
                              Bytes{0x03, 0x04, 0, 0, 0}}) {
    const StreamRun run = Explode(stream);
    EXPECT_NE(run.result, ExplodeOk);
    EXPECT_TRUE(run.writeSizes.empty());
    EXPECT_EQ(run.readRequests.size(), 1u);
  }
}

TEST(Explode, EveryTruncationOfAStreamFailsAfterWritingWhatItDecoded) {
  for (const char* file : {"text_1k.binary.large.exact", "text_1k.ascii.small.exact",
                           "runs_20k.binary.medium.exact", "random_5k.ascii.large.exact"}) {
    const Bytes stream = Vector(file);
    const std::string name = file;
    const Bytes input = Vector(name.substr(0, name.find('.')) + ".bin");
    for (std::size_t size = 0; size < stream.size(); ++size) {
      const StreamRun run = Explode(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size)));
      ASSERT_EQ(run.result, size <= 4 ? ExplodeTooShort : ExplodeTruncated) << file << " " << size;
      ASSERT_LE(run.output.size(), input.size());
      ASSERT_TRUE(std::equal(run.output.begin(), run.output.end(), input.begin())) << file << " " << size;
    }
  }
}

TEST(Explode, CorruptedStreamsEndCleanly) {
  const Bytes stream = Vector("mixed_300k.binary.large.exact");
  Random random{7};
  for (int round = 0; round < 200; ++round) {
    Bytes bad = stream;
    for (int flips = 1 + round % 5; flips > 0; --flips) {
      const std::size_t at = 2 + random.Next() % (bad.size() - 2);
      bad[at] = static_cast<std::uint8_t>(bad[at] ^ (1u << (random.Next() % 8)));
    }
    const StreamRun run = Explode(bad);
    EXPECT_TRUE(run.result == ExplodeOk || run.result == ExplodeTruncated) << round;
  }
}

}  // namespace
}  // namespace qd::test
