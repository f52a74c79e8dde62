//===- version_test.cpp - File version and the package's output name ---------===//
#include "package/output_name.h"
#include "package/version.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "unit/test_images.h"

namespace qd {
namespace {

struct Version {
  std::uint32_t major, minor, build, revision;
};

TEST(OutputName, APatternReceivesTheBuildTag) {
  struct Case {
    std::string_view pattern;
    Version version;
    std::string expected;
  } cases[] = {
      {"Update%s.exe", {2, 5, 7, 3}, "Update2_05_07d.exe"},
      {"Update%s.exe", {10, 0, 123, 512}, "Update10_00_123m.exe"},
      {"%s", {0, 0, 0, 0}, "0_00_00a"},
      {"%s", {1, 2, 3, 25}, "1_02_03z"},
      {"%s", {1, 2, 3, 500}, "1_02_03a"},
      {"%s", {1, 2, 3, 525}, "1_02_03z"},
      {"%s", {65535, 65535, 65535, 0}, "65535_65535_65535a"},
      {"out\\Update%s.exe", {2, 5, 7, 3}, "out\\Update2_05_07d.exe"},
      {"100%%_%s", {2, 5, 7, 3}, "100%_2_05_07d"},
      {"Update%%.exe", {2, 5, 7, 3}, "Update%.exe"},
      {"[%9s]", {2, 5, 7, 3}, "[ 2_05_07d]"},
      {"[%-9s]", {2, 5, 7, 3}, "[2_05_07d ]"},
      {"[%.4s]", {2, 5, 7, 3}, "[2_05]"},
  };
  for (const auto& c : cases) {
    const auto& v = c.version;
    EXPECT_EQ(MakeOutputName(c.pattern, v.major, v.minor, v.build, v.revision), c.expected)
        << c.pattern << " " << v.revision;
  }
}

TEST(OutputName, RevisionsBeyondTheLettersGiveOneByteUpTo255AndTheNumberAbove) {
  struct Case {
    std::uint32_t revision;
    std::string letter;
  } cases[] = {
      {26, "{"},       {30, "\x7F"},     {31, "\x80"},      {158, "\xFF"},
      {159, "_159"},   {499, "_499"},    {526, "{"},        {658, "\xFF"},
      {659, "_659"},   {65535, "_65535"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MakeOutputName("U%s", 1, 2, 3, c.revision), "U1_02_03" + c.letter) << c.revision;
}

TEST(OutputName, AValueWithoutPercentIsUsedUnchanged) {
  for (const Version v : {Version{2, 5, 7, 3}, Version{0, 0, 0, 700}})
    EXPECT_EQ(MakeOutputName("Fixed name s.exe", v.major, v.minor, v.build, v.revision), "Fixed name s.exe");
}

TEST(OutputName, IsRefusedWhenItWouldNotFitOrThePatternAsksForMore) {
  const std::string longest(259, 'n');
  EXPECT_EQ(MakeOutputName(longest, 1, 2, 3, 4), longest);
  const std::string fits = std::string(251, 'n') + "%s";  // 251 + "1_02_03e"
  EXPECT_EQ(MakeOutputName(fits, 1, 2, 3, 4).size(), 259u);
  for (const std::string& pattern : {
           std::string(260, 'n'),
           std::string(252, 'n') + "%s",
           std::string("%300s"),
           std::string("%99999999999999999999s"),
           std::string("Update%s%s.exe"),
           std::string("Update%d.exe"),
           std::string("Update%n.exe"),
           std::string("Update%s.exe%"),
           std::string("%-"),
           std::string("%.s%s"),
       })
    EXPECT_EQ(MakeOutputName(pattern, 1, 2, 3, 4), "") << pattern;
}

class FileVersion : public ::testing::Test {
 protected:
  test::ScratchDir dir;
  std::string Write(const test::ImageShape& shape) {
    const auto path = dir / "engine.dll";
    test::WriteAll(path, test::MakeImage(shape));
    return path.string();
  }
};

TEST_F(FileVersion, GivesTheFourNumbersOfTheFixedFileVersion) {
  const std::string path = Write({.versionMS = 0x000A0000, .versionLS = 0x007B0200});
  std::uint32_t major = 99, minor = 99, build = 99, revision = 99;
  ASSERT_TRUE(QueryFileVersion(path, &major, &minor, &build, &revision));
  EXPECT_EQ(major, 10u);
  EXPECT_EQ(minor, 0u);
  EXPECT_EQ(build, 123u);
  EXPECT_EQ(revision, 512u);
}

TEST_F(FileVersion, WritesOnlyTheNumbersTheCallerAsksFor) {
  const std::string path = Write({.versionMS = 0x00020005, .versionLS = 0x00070003});
  for (int mask = 0; mask < 16; ++mask) {
    std::uint32_t out[4] = {99, 99, 99, 99};
    auto at = [&](int i) { return (mask >> i & 1) ? &out[i] : nullptr; };
    ASSERT_TRUE(QueryFileVersion(path, at(0), at(1), at(2), at(3)));
    const std::uint32_t expected[4] = {2, 5, 7, 3};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], (mask >> i & 1) ? expected[i] : 99u) << mask << " " << i;
  }
}

TEST_F(FileVersion, AResourceWithoutFixedInformationSucceedsAndWritesNothing) {
  const std::string path = Write({.valueLength = 0});
  std::uint32_t major = 99, minor = 99, build = 99, revision = 99;
  EXPECT_TRUE(QueryFileVersion(path, &major, &minor, &build, &revision));
  EXPECT_EQ(major + minor + build + revision, 4 * 99u);
}

TEST_F(FileVersion, FailsWithoutAVersionResource) {
  std::uint32_t major = 99;
  EXPECT_FALSE(QueryFileVersion(Write({.withResource = false}), &major, nullptr, nullptr, nullptr));
  EXPECT_FALSE(QueryFileVersion((dir / "missing.dll").string(), &major, nullptr, nullptr, nullptr));
  test::WriteText(dir / "text.dll", "MZ but nothing more");
  EXPECT_FALSE(QueryFileVersion((dir / "text.dll").string(), &major, nullptr, nullptr, nullptr));
  EXPECT_EQ(major, 99u);
}

TEST_F(FileVersion, IsFoundThroughAPathWithBackslashes) {
  Write({});
  std::uint32_t major = 0;
  EXPECT_TRUE(QueryFileVersion(dir.path().string() + "\\engine.dll", &major, nullptr, nullptr, nullptr));
  EXPECT_EQ(major, 2u);
}

}  // namespace
}  // namespace qd
