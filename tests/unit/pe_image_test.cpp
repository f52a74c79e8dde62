//===- pe_image_test.cpp - Checksum rule and version reader on raw bytes ----===//
#include "pe/pe_image.h"

#include <gtest/gtest.h>

#include <random>

#include "unit/test_images.h"

namespace qd::pe {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The rule as written down: one word at a time, the carry folded after each
// addition, the field's bytes zero, then the length.
std::uint32_t WordByWordChecksum(Bytes image, std::optional<std::size_t> field) {
  if (field && *field + 4 <= image.size())
    for (std::size_t i = 0; i < 4; ++i) image[*field + i] = 0;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    const std::uint32_t word = image[i] | (i + 1 < image.size() ? std::uint32_t{image[i + 1]} << 8 : 0u);
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<std::uint32_t>(image.size());
}

TEST(ImageChecksum, FollowsTheWordRuleOnSmallFiles) {
  struct Case {
    Bytes bytes;
    std::uint32_t expected;
  } cases[] = {
      {{0x01, 0x00, 0x02, 0x00}, 3 + 4},
      {{0x01, 0x00, 0x05}, 6 + 3},                 // odd final byte is a low byte
      {{0xFF, 0xFF, 0x02, 0x00}, 2 + 4},           // carry folded back in
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 0xFFFF + 1 + 5 - 0xFFFF},
      {{0x00, 0x00}, 0 + 2},
      {{0x34, 0x12}, 0x1234 + 2},
  };
  for (const auto& c : cases) {
    const auto sums = ImageChecksumOf(c.bytes);
    ASSERT_TRUE(sums);
    EXPECT_EQ(sums->computed, c.expected);
    EXPECT_EQ(sums->stored, 0u) << "no image, no stored field";
  }
  EXPECT_FALSE(ImageChecksumOf(Bytes{})) << "an empty file is no image";
}

// Also over many megabytes of words that all carry: the sum must never wrap.
TEST(ImageChecksum, IgnoresTheStoredFieldAndReportsIt) {
  for (const std::size_t ones : {std::size_t{0}, std::size_t{17} << 20, (std::size_t{17} << 20) + 3}) {
    auto image = test::MakeImage({.checkSum = 0xDEADBEEF, .trailing = ones ? 0u : 3u});
    if (ones) image.resize(ones, 0xFF);
    SCOPED_TRACE(image.size());
    const auto sums = ImageChecksumOf(image);
    ASSERT_TRUE(sums);
    EXPECT_EQ(sums->stored, 0xDEADBEEFu);
    EXPECT_EQ(sums->computed, WordByWordChecksum(image, 0x80 + CheckSumField));
    test::Put32(image, 0x80 + CheckSumField, 0x12345678);
    EXPECT_EQ(ImageChecksumOf(image)->computed, sums->computed);
  }
}

TEST(ImageChecksum, IsTheSameWhateverPiecesTheFileIsReadIn) {
  std::mt19937 random(7);
  for (int round = 0; round < 50; ++round) {
    // Odd header offsets put the field across word and piece boundaries.
    auto image = test::MakeImage({.peOffset = 0x80u + static_cast<std::uint32_t>(round % 4),
                                  .checkSum = static_cast<std::uint32_t>(random()),
                                  .trailing = static_cast<std::size_t>(round)});
    // Every third file is all ones past its headers, so every addition carries.
    for (std::size_t i = 0x300; i < image.size(); ++i)
      image[i] = round % 3 == 0 ? 0xFF : static_cast<std::uint8_t>(random());
    const std::size_t field = 0x80 + static_cast<std::size_t>(round % 4) + CheckSumField;

    ChecksumState state{.fieldOffset = field};
    for (std::size_t at = 0; at < image.size();) {
      const std::size_t piece = std::min<std::size_t>(1 + random() % 97, image.size() - at);
      AddToChecksum(state, std::span(image).subspan(at, piece));
      at += piece;
    }
    EXPECT_EQ(FinishChecksum(state), WordByWordChecksum(image, field)) << "round " << round;
    EXPECT_EQ(ImageChecksumOf(image)->computed, FinishChecksum(state));
  }
}

TEST(ImageChecksum, CountsEveryByteWhenTheHeadersDoNotLeadToAField) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"no MZ", [](Bytes& b) { b[0] = 'X'; }},
      {"no PE signature", [](Bytes& b) { b[0x82] = 1; }},
      {"PE offset past the end", [](Bytes& b) { test::Put32(b, 60, 0x7FFFFFF0); }},
      {"field past the end", [](Bytes& b) { test::Put32(b, 60, static_cast<std::uint32_t>(b.size() - 8)); }},
  };
  for (const auto& c : cases) {
    auto image = test::MakeImage({.checkSum = 0x01020304});
    c.damage(image);
    if (std::string(c.what) == "field past the end") {
      const std::size_t h = image.size() - 8;
      image[h] = 'P';
      image[h + 1] = 'E';
      image[h + 2] = image[h + 3] = 0;
    }
    const auto sums = ImageChecksumOf(image);
    ASSERT_TRUE(sums) << c.what;
    EXPECT_EQ(sums->stored, 0u) << c.what;
    EXPECT_EQ(sums->computed, WordByWordChecksum(image, std::nullopt)) << c.what;
  }
}

TEST(VersionResource, IsReadFromThirtyTwoAndSixtyFourBitImages) {
  for (std::uint16_t magic : {Pe32Magic, Pe32PlusMagic}) {
    const auto version = FindVersionResource(
        test::MakeImage({.magic = magic, .versionMS = 0x000A0000, .versionLS = 0x007B0200}));
    ASSERT_TRUE(version) << magic;
    EXPECT_TRUE(version->hasFixedInfo);
    EXPECT_EQ(version->fileVersionMS, 0x000A0000u);
    EXPECT_EQ(version->fileVersionLS, 0x007B0200u);
  }
}

TEST(VersionResource, ChoosesTheNeutralLanguageThenEnglishThenTheFirst) {
  // Every language entry points at the same block, so the choice shows only
  // in whether one is found; a missing language must not lose the resource.
  for (const std::vector<std::uint16_t>& languages :
       {std::vector<std::uint16_t>{0x407, 0}, {0x407, 0x409}, {0x407}, {0x411, 0x40C}}) {
    const auto version = FindVersionResource(test::MakeImage({.languages = languages}));
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->hasFixedInfo);
  }
  EXPECT_FALSE(FindVersionResource(test::MakeImage({.languages = {}})));
}

TEST(VersionResource, ReportsAResourceWithoutFixedInformation) {
  struct Case {
    const char* what;
    test::ImageShape shape;
  } cases[] = {
      {"empty value", {.valueLength = 0}},
      {"short value", {.valueLength = 40}},
      {"wrong signature", {.signature = 0xFEEF04BE}},
  };
  for (const auto& c : cases) {
    const auto version = FindVersionResource(test::MakeImage(c.shape));
    ASSERT_TRUE(version) << c.what;
    EXPECT_FALSE(version->hasFixedInfo) << c.what;
  }
}

TEST(VersionResource, IsAbsentWhenTheImageHasNone) {
  struct Case {
    const char* what;
    test::ImageShape shape;
  } cases[] = {
      {"no resource directory", {.withResource = false}},
      {"other resource type", {.typeId = 14}},
      {"other name", {.nameId = 2}},
      {"unknown magic", {.magic = 0x107}},
  };
  for (const auto& c : cases) EXPECT_FALSE(FindVersionResource(test::MakeImage(c.shape))) << c.what;
  EXPECT_FALSE(FindVersionResource(Bytes{'M', 'Z'}));
  EXPECT_FALSE(FindVersionResource(Bytes{}));
}

TEST(VersionResource, SurvivesTruncationAtEveryLength) {
  // The fixed information is the last thing in the image's block.
  const auto image = test::MakeImage();
  const std::size_t blockEnd = test::SectionOffset + 0x50 + 40 + 52;
  for (std::size_t size = 0; size < image.size(); ++size) {
    const auto version = FindVersionResource(std::span(image).first(size));
    if (version && version->hasFixedInfo) {
      EXPECT_GE(size, blockEnd) << size;
    }
  }
  EXPECT_TRUE(FindVersionResource(image)->hasFixedInfo);
}

TEST(VersionResource, StopsOnHostileDirectories) {
  const std::size_t r = test::SectionOffset;
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {"type directory is the root", [&](Bytes& b) { test::Put32(b, r + 20, 0x80000000); }},
      {"name directory is the type directory",
       [&](Bytes& b) { test::Put32(b, r + 0x18 + 20, 0x80000018); }},
      {"language entry is a directory",
       [&](Bytes& b) { test::Put32(b, r + 0x30 + 20, 0x80000000); }},
      {"entry counts of 65535", [&](Bytes& b) { test::Put16(b, r + 12, 0xFFFF), test::Put16(b, r + 14, 0xFFFF); }},
      {"directory offset near 4 GiB", [&](Bytes& b) { test::Put32(b, r + 20, 0xFFFFFFFF); }},
      {"data outside every section", [&](Bytes& b) { test::Put32(b, r + 0x40, 0x7FFFFFFF); }},
      {"data address wraps", [&](Bytes& b) { test::Put32(b, r + 0x40, 0xFFFFFFFE); }},
      {"resource root outside the sections", [&](Bytes& b) { test::Put32(b, 0x80 + 24 + 96 + 16, 0x9000); }},
      {"65535 sections", [&](Bytes& b) { test::Put16(b, 0x80 + 6, 0xFFFF); }},
      {"optional header of 65535 bytes", [&](Bytes& b) { test::Put16(b, 0x80 + 20, 0xFFFF); }},
      {"one data directory", [&](Bytes& b) { test::Put32(b, 0x80 + 24 + 92, 1); }},
      {"block length 0", [&](Bytes& b) { test::Put16(b, r + 0x50, 0); }},
      {"key without end", [&](Bytes& b) {
         for (std::size_t i = r + 0x56; i < b.size(); ++i) b[i] = 'A';
       }},
  };
  // Whatever each damage leads to, the reader ends, stays within the image
  // (the sanitizers watch) and never reports numbers it did not find.
  for (const auto& c : cases) {
    auto image = test::MakeImage();
    c.damage(image);
    const auto version = FindVersionResource(image);
    EXPECT_TRUE(!version || !version->hasFixedInfo || version->fileVersionMS == 0x00020005u) << c.what;
  }
}

}  // namespace
}  // namespace qd::pe
