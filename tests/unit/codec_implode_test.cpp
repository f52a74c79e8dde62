//===- codec_implode_test.cpp - Compressing into implode streams ------------===//
#include <gtest/gtest.h>

#include <filesystem>

#include "codec_test_support.h"
#include "support/files.h"
#include "support/process.h"
#include "support/real_dlls.h"
#include "support/sha256.h"
#include "support/tools.h"

namespace qd::test {
namespace {

Bytes Text(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Implode, ReproducesEveryExactVectorByteForByte) {
  std::size_t checked = 0;
  for (const std::string& name : VectorInputs()) {
    const Bytes input = Vector(name + ".bin");
    for (const Setting& setting : AllSettings) {
      const std::string file = name + "." + setting.suffix + ".exact";
      const StreamRun run = Implode(input, setting.mode, setting.dictionary);
      EXPECT_EQ(run.result, ImplodeOk);
      const Bytes expected = Vector(file);
      const auto mismatch = std::mismatch(run.output.begin(), run.output.end(), expected.begin(),
                                          expected.end());
      EXPECT_TRUE(run.output == expected)
          << file << ": first difference at byte " << (mismatch.first - run.output.begin())
          << " of " << expected.size();
      ++checked;
    }
  }
  EXPECT_EQ(checked, 48u);
}

// Real executables, whose streams were recorded before the compressor was
// made faster: every faster search must still write them byte for byte.
TEST(Implode, WritesTheRecordedStreamsOfRealDlls) {
  // The digest itself, on the standard's own example.
  ASSERT_EQ(Sha256Hex(Text("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
#ifdef QDPACK_IMPLODE_CHECK
  // The checking build runs both searches at every position: the 40 MB are
  // minutes' work there already.
  const std::vector<const RealDllCorpus*> corpora = {&RealDlls40};
#else
  const std::vector<const RealDllCorpus*> corpora = {&RealDlls40, &RealDlls160};
#endif
  for (const RealDllCorpus* corpus : corpora) {
    const Bytes input = LoadRealDlls(*corpus);
    if (input.empty()) GTEST_SKIP() << RealDllFolder << " is not installed (Debian's wine64 has it)";
    if (Sha256Hex(input) != corpus->inputSha256)
      GTEST_SKIP() << "the DLLs in " << RealDllFolder << " are not the recorded ones (another wine version)";
    EXPECT_EQ(Sha256Hex(Implode(input).output), corpus->streamSha256) << corpus->name;
  }
}

struct TokenCase {
  const char* what;
  Bytes input;
  std::vector<Token> tokens;
};

std::vector<TokenCase> TokenCases() {
  std::vector<TokenCase> cases;
  cases.push_back({"twenty equal bytes: a distance of 1 is never used", Bytes(20, 0x61),
                   {Lit(0x61), Lit(0x61), Copy(18, 2)}});
  cases.push_back({"a repeated triple", Text("abcabc"), {Lit('a'), Lit('b'), Lit('c'), Copy(3, 3)}});
  {
    Bytes input = Text("ab");
    input.insert(input.end(), 300, 0x78);
    input.push_back('a');
    input.push_back('b');
    cases.push_back({"a pair 302 bytes back is two literals", input,
                     {Lit('a'), Lit('b'), Lit('x'), Lit('x'), Copy(298, 2), Lit('a'), Lit('b')}});
  }
  // Past the data lie zeros; a match running into them is cut back.
  cases.push_back({"a match at the end is cut to the bytes that remain", Bytes{'a', 'b', 0, 0, 'a', 'b'},
                   {Lit('a'), Lit('b'), Lit(0), Lit(0), Copy(2, 4)}});
  cases.push_back({"a remainder of 1 byte at the end is a literal", Bytes{'a', 0, 'x', 'a'},
                   {Lit('a'), Lit(0), Lit('x'), Lit('a')}});
  // At the second "abc" the match of 3 meets one of 4 a byte later: the
  // nearer copy is kept. With "abcdef" the match a byte later is 2 longer.
  cases.push_back({"a match one byte longer a byte later loses to a near copy",
                   Text("abc1bcde2abcde"),
                   {Lit('a'), Lit('b'), Lit('c'), Lit('1'), Copy(2, 3), Lit('d'), Lit('e'),
                    Lit('2'), Copy(3, 9), Copy(2, 6)}});
  cases.push_back({"a match two bytes longer a byte later wins", Text("abc1bcdef2abcdef"),
                   {Lit('a'), Lit('b'), Lit('c'), Lit('1'), Copy(2, 3), Lit('d'), Lit('e'),
                    Lit('f'), Lit('2'), Lit('a'), Copy(5, 7)}});
  return cases;
}

TEST(Implode, ChoosesTheTokensOfTheMatchRules) {
  for (const TokenCase& c : TokenCases()) {
    const StreamRun run = Implode(c.input);
    const auto tokens = Tokens(run.output);
    ASSERT_TRUE(tokens.has_value()) << c.what;
    EXPECT_EQ(*tokens, c.tokens) << c.what;
  }
}

// In the last block a comparison may run past the data's end and past the
// work buffer. There it meets the position table, as in the record layout
// of the streams in the field: for 8191 zero bytes no candidate then reaches
// 516 bytes, so the final copy comes from the newest candidate, not the oldest.
TEST(Implode, MatchesPastTheWorkBufferMeetThePositionTable) {
  const auto tokens = Tokens(Implode(Bytes(8191, 0)).output);
  ASSERT_TRUE(tokens.has_value());
  EXPECT_EQ(tokens->back(), Copy(449, 2));
  EXPECT_EQ((*tokens)[tokens->size() - 2], Copy(516, 4095));
}

// Inputs that stress the match search: runs, periodic data, small
// alphabets and executable-like data full of zeros.
struct SearchInput {
  std::string what;
  Bytes bytes;
};

using corpus::Periodic;
using corpus::Runs;
using corpus::SmallAlphabet;
using corpus::ZeroHeavy;

std::vector<SearchInput> SearchInputs() {
  std::vector<SearchInput> inputs;
  // Sizes at the edges of the first block (3580 bytes encoded), the work
  // buffer (8708) and the blocks after them.
  for (std::size_t size : {1u, 2u, 3u, 515u, 516u, 517u, 3579u, 3580u, 3581u, 4095u, 4096u, 4097u,
                           4611u, 4612u, 4613u, 7676u, 8191u, 8192u, 8193u, 8707u, 8708u, 8709u,
                           12287u, 12288u, 12289u, 30000u}) {
    const std::string at = " of " + std::to_string(size);
    inputs.push_back({"runs" + at, Runs(size, size)});
    inputs.push_back({"zero-heavy" + at, ZeroHeavy(size, size)});
    inputs.push_back({"three letters" + at, SmallAlphabet(size, 3, size)});
    inputs.push_back({"period 7" + at, Periodic(size, 7, size)});
  }
  for (std::size_t period : {1u, 2u, 3u, 4u, 5u, 8u, 13u, 256u, 257u, 515u, 516u, 517u, 1024u,
                             1025u, 2047u, 2049u, 4094u, 4095u, 4096u, 4097u})
    inputs.push_back({"period " + std::to_string(period), Periodic(20000, period, period)});
  for (std::uint32_t symbols : {2u, 4u})
    inputs.push_back({std::to_string(symbols) + " letters", SmallAlphabet(20000, symbols, symbols)});
  return inputs;
}

// The fast search and the block search are two ways to the same matches:
// their streams must agree byte for byte.
TEST(Implode, FastSearchWritesTheBlockSearchStreams) {
  for (const SearchInput& input : SearchInputs()) {
    for (const Setting& setting : AllSettings) {
      const Bytes fast = ImplodeUsing(codec::MatchSearch::Fast, input.bytes, setting.mode, setting.dictionary);
      const Bytes block = ImplodeUsing(codec::MatchSearch::Block, input.bytes, setting.mode, setting.dictionary);
      ASSERT_TRUE(fast == block) << input.what << ", " << setting.suffix;
    }
  }
  // Long enough for the fast search's positions to be moved back twice.
  for (const Bytes& large : {corpus::Mixed(2'200'000, 11), Runs(2'200'000, 11)}) {
    EXPECT_TRUE(ImplodeUsing(codec::MatchSearch::Fast, large, 0, 4096) ==
                ImplodeUsing(codec::MatchSearch::Block, large, 0, 4096));
  }
}

TEST(Implode, SmallestStreamsAreExact) {
  EXPECT_EQ(Implode({}).output, (Bytes{0x00, 0x06, 0x01, 0xFF}));
  EXPECT_EQ(Implode({0x61}).output, (Bytes{0x00, 0x06, 0xC2, 0x02, 0xFE, 0x01}));
  EXPECT_EQ(Implode({}, 1, 1024).output, (Bytes{0x01, 0x04, 0x01, 0xFF}));
}

TEST(Implode, RefusesUnknownSettingsWithoutReadingOrWriting) {
  struct Refusal {
    std::uint32_t mode, dictionary, result;
  };
  for (const Refusal& r : {Refusal{0, 4095, ImplodeBadDictionary}, Refusal{0, 0, ImplodeBadDictionary},
                           Refusal{2, 4096, ImplodeBadLiteralMode},
                           Refusal{2, 512, ImplodeBadDictionary}}) {
    const StreamRun run = Implode(Text("abc"), r.mode, r.dictionary);
    EXPECT_EQ(run.result, r.result);
    EXPECT_TRUE(run.readRequests.empty());
    EXPECT_TRUE(run.writeSizes.empty());
  }
}

// Sizes around the block and work-buffer boundaries, and well past them.
const std::size_t RoundTripSizes[] = {0,    1,    2,    3,    515,  516,  517,  3580, 3581,
                                      4095, 4096, 4097, 8191, 8192, 8193, 8708, 8709, 12288,
                                      20000, 70000};

TEST(Implode, RoundTripsInEverySettingAndSize) {
  std::vector<Bytes> inputs;
  for (const std::string& name : VectorInputs()) inputs.push_back(Vector(name + ".bin"));
  for (std::size_t size : RoundTripSizes) {
    inputs.push_back(corpus::Noise(size, size));
    inputs.push_back(corpus::Mixed(size, size + 1));
    inputs.push_back(Bytes(size, 0));
  }
  for (const Bytes& input : inputs) {
    for (const Setting& setting : AllSettings) {
      const StreamRun packed = Implode(input, setting.mode, setting.dictionary);
      const StreamRun unpacked = Explode(packed.output);
      if (input.empty()) {
        // The empty input's 4-byte stream is too short for the decoder.
        EXPECT_EQ(unpacked.result, ExplodeTooShort);
        continue;
      }
      EXPECT_EQ(unpacked.result, ExplodeOk) << input.size() << " " << setting.suffix;
      EXPECT_TRUE(unpacked.output == input) << input.size() << " " << setting.suffix;
    }
  }
}

TEST(Implode, ReadsBlocksAndWritesPiecesOfTheStream) {
  const Bytes input = corpus::Mixed(70000, 3);
  const StreamRun whole = Implode(input);
  for (std::size_t i = 0; i < whole.readRequests.size(); ++i)
    EXPECT_LE(whole.readRequests[i], ImplodeReadSize);
  ASSERT_FALSE(whole.writeSizes.empty());
  for (std::size_t i = 0; i + 1 < whole.writeSizes.size(); ++i)
    EXPECT_EQ(whole.writeSizes[i], ImplodeWriteSize);
  EXPECT_LT(whole.writeSizes.back(), ImplodeWriteSize + 1);

  // Short reads are asked again for the rest of the block: the stream is the same.
  const StreamRun trickled = Implode(input, 0, 4096, 777);
  EXPECT_TRUE(trickled.output == whole.output);
  EXPECT_EQ(trickled.readRequests[0], 4096u);
  EXPECT_EQ(trickled.readRequests[1], 4096u - 777u);
}

// Every test hands the codec a record full of other bytes (UnclearedState);
// one record also serves stream after stream, short and long.
TEST(Implode, AStateRecordCanBeReused) {
  auto state = UnclearedState<ImplodeState>();
  for (const Bytes& input : {Vector("mixed_300k.bin"), Vector("runs_20k.bin"), Vector("text_1k.bin"), Bytes(8191, 0)}) {
    for (const Setting& setting : AllSettings) {
      EXPECT_TRUE(Implode(input, setting.mode, setting.dictionary, UINT32_MAX, state.get()).output ==
                  Implode(input, setting.mode, setting.dictionary).output)
          << input.size() << " " << setting.suffix;
    }
  }
}

// The independent decoder takes every binary-mode stream we make.
TEST(Implode, BinaryStreamsDecodeWithTheReferenceTool) {
  QD_REQUIRE_TOOL(Dynamite);
  ScratchDir dir;
  std::vector<Bytes> inputs;
  for (const std::string& name : VectorInputs()) inputs.push_back(Vector(name + ".bin"));
  for (std::size_t size : {1u, 4095u, 4096u, 4097u, 8192u, 8708u, 70000u})
    inputs.push_back(corpus::Mixed(size, size));
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (std::uint32_t dictionary : {1024u, 2048u, 4096u}) {
      const auto packed = dir / "in.imp";
      const auto unpacked = dir / "out.bin";
      WriteAll(packed, Implode(inputs[i], 0, dictionary).output);
      std::filesystem::remove(unpacked);
      const RunResult result = test::Run(Dynamite.path, {packed.string(), unpacked.string()});
      EXPECT_EQ(result.exitCode, 0) << i << " " << dictionary << result.err;
      EXPECT_TRUE(ReadAll(unpacked) == inputs[i]) << i << " " << dictionary;
    }
  }
}

}  // namespace
}  // namespace qd::test
