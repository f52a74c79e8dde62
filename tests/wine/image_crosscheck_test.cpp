//===- image_crosscheck_test.cpp - Our image readers against the real ones --===//
//
// Runs image_probe.exe under wine64 over real Windows executables and DLLs,
// our own Windows builds and a set of made-up images, and compares what
// MapFileAndCheckSumA and GetFileVersionInfoA report with what the POSIX
// layer computes from the same files. The probe also reports our Win32 layer,
// which must agree with the calls it wraps.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "pe/pe_image.h"
#include "platform/platform.h"
#include "support/files.h"
#include "support/process.h"
#include "unit/test_images.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

const fs::path WineDlls = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

struct ProbeLine {
  std::map<std::string, std::uint32_t> values;
  std::string file;
};

// Runs the probe over `files` (names as the probe sees them) in `directory`.
std::vector<ProbeLine> Probe(const std::vector<std::string>& files, const std::string& directory) {
  const std::string probe = std::string(QDPACK_WIN64_DIR) + "/tests/wine/image_probe.exe";
  test::RunOptions options;
  options.workingDirectory = directory;
  const auto result = test::RunWine(probe, files, options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  std::vector<ProbeLine> lines;
  std::istringstream out(result.out);
  for (std::string text; std::getline(out, text);) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    const auto tab = text.find('\t');
    if (tab == std::string::npos) continue;
    ProbeLine line;
    line.file = text.substr(tab + 1);
    std::istringstream fields(text.substr(0, tab));
    for (std::string field; fields >> field;) {
      const auto eq = field.find('=');
      const bool hex = field.compare(0, eq, "map") != 0 && field.find("sum") == std::string::npos &&
                       field.find("info") == std::string::npos && field.find("fixed") == std::string::npos;
      line.values[field.substr(0, eq)] =
          static_cast<std::uint32_t>(std::stoul(field.substr(eq + 1), nullptr, hex ? 16 : 10));
    }
    lines.push_back(std::move(line));
  }
  EXPECT_EQ(lines.size(), files.size());
  return lines;
}

struct Tally {
  std::size_t files = 0;
  std::size_t withFixedVersion = 0;
};

// Compares one probe line with the POSIX layer's view of `path`.
void Compare(const ProbeLine& line, const std::string& path, Tally& tally) {
  SCOPED_TRACE(line.file);
  auto v = line.values;
  ++tally.files;

  // Our Win32 layer reports what the calls report.
  EXPECT_EQ(v["qdsum"], v["map"] == 0 ? 1u : 0u);
  if (v["map"] == 0) {
    EXPECT_EQ(v["qdstored"], v["stored"]);
    EXPECT_EQ(v["qdcomputed"], v["computed"]);
  }
  EXPECT_EQ(v["qdinfo"], v["info"]);
  EXPECT_EQ(v["qdfixed"], v["fixed"]);
  EXPECT_EQ(v["qdms"], v["ms"]);
  EXPECT_EQ(v["qdls"], v["ls"]);

  // The POSIX layer computes the same from the file itself.
  const auto sums = platform::ComputeImageChecksum(path);
  EXPECT_EQ(sums.has_value(), v["map"] == 0);
  if (sums && v["map"] == 0) {
    EXPECT_EQ(sums->stored, v["stored"]);
    // For a file without PE headers wine reports a sum of 0; the rule, which
    // we follow, counts every file. Either way such a file fails a check, as
    // its stored value is 0.
    const auto bytes = test::ReadAll(path);
    const auto h = pe::PeHeadersOffset(bytes);
    const bool image = h && *h < bytes.size() && pe::HasPeSignature(std::span(bytes).subspan(*h));
    if (image || v["computed"] != 0) {
      EXPECT_EQ(sums->computed, v["computed"]);
    }
  }
  const auto version = platform::ReadVersionResource(path);
  EXPECT_EQ(version.has_value(), v["info"] == 1);
  const bool fixed = version && version->hasFixedInfo;
  EXPECT_EQ(fixed, v["fixed"] == 1);
  if (fixed && v["fixed"] == 1) {
    ++tally.withFixedVersion;
    EXPECT_EQ(version->fileVersionMS, v["ms"]);
    EXPECT_EQ(version->fileVersionLS, v["ls"]);
  }
}

TEST(ImageCrossCheck, ChecksumAndVersionMatchThePlatformOnRealWindowsFiles) {
  if (!fs::is_directory(WineDlls)) GTEST_SKIP() << "no Windows DLLs at " << WineDlls;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(WineDlls))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());

  // Bare names in the directory keep the command line short.
  Tally tally;
  const auto lines = Probe(names, WineDlls.string());
  for (const auto& line : lines) Compare(line, (WineDlls / line.file).string(), tally);
  EXPECT_GE(tally.files, 50u);
  EXPECT_GE(tally.withFixedVersion, 50u);
  std::printf("compared %zu files, %zu with a fixed file version\n", tally.files, tally.withFixedVersion);
}

TEST(ImageCrossCheck, ChecksumAndVersionMatchThePlatformOnOurBuildsAndOddImages) {
  test::ScratchDir dir;
  std::vector<std::string> paths;
  for (const std::string buildDir : {QDPACK_WIN32_DIR, QDPACK_WIN64_DIR}) {
    if (buildDir.empty()) continue;
    for (const char* file : {"/src/QdPack.exe", "/tests/wine/image_probe.exe"})
      if (fs::exists(buildDir + file)) paths.push_back(buildDir + file);
  }

  using Bytes = std::vector<std::uint8_t>;
  auto odd = [](Bytes b, std::size_t size) { b.resize(size, 0x7B); return b; };
  const std::pair<const char*, Bytes> images[] = {
      {"pe32.exe", test::MakeImage({.checkSum = 0x1234})},
      {"pe32plus.dll", test::MakeImage({.magic = 0x20B, .versionMS = 0x00070008})},
      {"odd_length.exe", test::MakeImage({.trailing = 3})},
      {"odd_header.exe", test::MakeImage({.peOffset = 0x81, .withResource = false})},
      {"no_resource.exe", test::MakeImage({.withResource = false})},
      {"no_fixed_info.dll", test::MakeImage({.valueLength = 0})},
      {"bad_signature.dll", test::MakeImage({.signature = 0x12345678})},
      {"neutral_language.dll", test::MakeImage({.languages = {0x407, 0}})},
      {"other_language.dll", test::MakeImage({.languages = {0x407}})},
      {"cut_headers.exe", odd(test::MakeImage(), 0x80 + 90)},
      {"text.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n', 'x'}},
      {"one_byte.bin", Bytes{0x4D}},
      {"empty.bin", Bytes{}},
      {"dos_header_only.exe", [] { Bytes b(64, 0); b[0] = 'M', b[1] = 'Z', b[60] = 0x40; return b; }()},
  };
  for (const auto& [name, bytes] : images) {
    test::WriteAll(dir / name, bytes);
    paths.push_back((dir / name).string());
  }

  std::vector<std::string> winePaths;
  for (const auto& path : paths) winePaths.push_back(test::WinePath(path));
  Tally tally;
  const auto lines = Probe(winePaths, dir.path().string());
  for (std::size_t i = 0; i < lines.size() && i < paths.size(); ++i) Compare(lines[i], paths[i], tally);
}

}  // namespace
}  // namespace qd
