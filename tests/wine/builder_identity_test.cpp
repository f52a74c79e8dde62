//===- builder_identity_test.cpp - The Windows builder writes the same bytes -===//
//
// The same build, once with the native builder and once with the 64-bit
// Windows build under wine64, from two identical trees (same stub, script and
// files, same modification times): the packages are byte-identical. Where
// the removal pass rewrites the script, the two rewritten scripts are
// byte-identical too, and the packages differ only in the script's time
// stamp, since each side wrote its script at its own moment. Builds that a
// package author brings from Windows (e2e/parity_cases.h) leave the same
// bytes in both trees, and neither build changes a file it reads.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/builder_support.h"
#include "e2e/parity_cases.h"

namespace qd::test {
namespace {

namespace fs = std::filesystem;

std::string WindowsBuilder() { return std::string(QDPACK_WIN64_DIR) + "/src/QdPack.exe"; }

// Every file of the tree gets the same whole-second modification time.
void SetAllTimes(const BuildTree& tree) {
  for (const auto& entry : fs::recursive_directory_iterator(tree.dir.path()))
    if (entry.is_regular_file()) SetModificationTime(entry.path(), 1700000000);
}

struct Builds {
  BuildTree native;
  BuildTree windows;
  RunResult nativeResult;
  RunResult windowsResult;
  using Side = BuildTree Builds::*;
};

// Builds `parts` on both sides, with `arrange` applied to both trees first;
// `encode` gives the script's bytes from its text.
void BuildBoth(Builds& builds, const ScriptParts& parts,
               void (*arrange)(BuildTree&) = [](BuildTree&) {},
               std::string (*encode)(const std::string&) = nullptr) {
  for (BuildTree* tree : {&builds.native, &builds.windows}) {
    arrange(*tree);
    WriteText(*tree / "SetupQd.ini", encode ? encode(parts.Text()) : parts.Text());
    SetAllTimes(*tree);
  }
  builds.nativeResult = builds.native.Build();
  RunOptions options;
  options.workingDirectory = builds.windows.dir.path().string();
  builds.windowsResult = RunWine(WindowsBuilder(), {"/m", "SetupQd.ini"}, options);
}

class BuilderIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild() || std::string(QDPACK_WIN64_DIR).empty() || !fs::exists(WindowsBuilder()))
      GTEST_SKIP() << "no Windows builds";
  }
};

TEST_F(BuilderIdentity, CleanBuildGivesTheSameBytesOnBothSides) {
  Builds builds;
  ScriptParts parts;
  parts.files.push_back("setup.exe, build\\QdCopy.exe");
  BuildBoth(builds, parts, [](BuildTree& t) { fs::copy_file(t / "QdPack.exe", t / "build/QdCopy.exe"); });
  ASSERT_EQ(builds.nativeResult.exitCode, 0) << builds.native.Log();
  ASSERT_EQ(builds.windowsResult.exitCode, 0) << builds.windows.Log() << builds.windowsResult.err;
  EXPECT_EQ(builds.native.Log(), "");
  EXPECT_EQ(builds.windows.Log(), "");
  const auto native = ReadAll(builds.native / EnginePackage);
  const auto windows = ReadAll(builds.windows / EnginePackage);
  EXPECT_EQ(native.size(), windows.size());
  EXPECT_TRUE(native == windows) << "the packages differ";
}

TEST_F(BuilderIdentity, RemovalPassRewritesTheScriptTheSameWayOnBothSides) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::string (*encode)(const std::string&) = nullptr;
  };
  const Case cases[] = {
      {"one in the middle",
       {"engine.dll,build\\engine.dll", "x,build\\gone.bin", "payload.bin,build\\payload.bin"}},
      {"two in a row, blanks after the comma",
       {"engine.dll,  build\\engine.dll", "x, build\\gone1.bin", "y,\tbuild\\gone2.bin",
        "payload.bin, build\\payload.bin"}},
      {"the last", {"engine.dll,build\\engine.dll", "payload.bin,build\\payload.bin", "z,gone"}},
      {"a UTF-16 script",
       {"engine.dll,build\\engine.dll", "x,build\\gone.bin", "payload.bin,build\\payload.bin"},
       Utf16Script},
      {"a NUL in an entry that moves down",
       {"engine.dll,build\\engine.dll", "x,build\\gone.bin", "payload.bin,build\\payload.bin\0junk"s}},
  };
  // A full list of 99 whose 50th source is missing: 49 entries move down and
  // the key of entry 99 is deleted.
  Case full{"one of 99", {"engine.dll,build\\engine.dll"}};
  for (int k = 2; k <= 99; ++k) full.files.push_back("f" + std::to_string(k) + ",data\\f" + std::to_string(k));
  auto arrangeFull = [](BuildTree& t) {
    fs::create_directories(t / "data");
    for (int k = 2; k <= 99; ++k)
      if (k != 50) WriteAll(t / ("data/f" + std::to_string(k)), corpus::Mixed(80 + static_cast<std::size_t>(k), 3));
  };
  std::vector<std::pair<Case, void (*)(BuildTree&)>> all;
  for (const Case& c : cases) all.emplace_back(c, [](BuildTree&) {});
  all.emplace_back(full, arrangeFull);
  for (const auto& [c, arrange] : all) {
    SCOPED_TRACE(c.name);
    Builds builds;
    ScriptParts parts;
    parts.files = c.files;
    BuildBoth(builds, parts, arrange, c.encode);
    ASSERT_EQ(builds.nativeResult.exitCode, 0) << builds.native.Log();
    ASSERT_EQ(builds.windowsResult.exitCode, 0) << builds.windows.Log() << builds.windowsResult.err;
    EXPECT_NE(builds.native.Log(), "") << "a source was missing";
    EXPECT_EQ(builds.native.Log(), builds.windows.Log());
    EXPECT_NE(ReadText(builds.native / "SetupQd.ini"), parts.Text()) << "the script was rewritten";
    EXPECT_EQ(ReadText(builds.native / "SetupQd.ini"), ReadText(builds.windows / "SetupQd.ini"));

    auto native = ReadAll(builds.native / EnginePackage);
    auto windows = ReadAll(builds.windows / EnginePackage);
    ASSERT_EQ(native.size(), windows.size());
    // Each side's checksum is right for its own bytes.
    std::uint32_t stored = 0;
    EXPECT_EQ(ImageChecksum(native, stored), stored);
    EXPECT_EQ(ImageChecksum(windows, stored), stored);
    // Beside the script's time stamp (after the third marker) only the
    // checksum field, which covers the stamp, may differ.
    const PackageView view = ReadPackage(builds.native / EnginePackage);
    ASSERT_GE(view.markers.size(), 3u);
    const std::size_t stamp = view.markers[2] + MarkerText.size();
    std::size_t header = 0;
    for (std::size_t i = 0; i < 4; ++i) header |= std::size_t{native[60 + i]} << (8 * i);
    for (auto* bytes : {&native, &windows}) {
      for (std::size_t i = 0; i < 8; ++i) (*bytes)[stamp + i] = 0;
      for (std::size_t i = 0; i < 4; ++i) (*bytes)[header + 88 + i] = 0;
    }
    EXPECT_TRUE(native == windows) << "the packages differ beyond the script's time stamp";
  }
}

TEST_F(BuilderIdentity, FailuresWriteTheSameLogOnBothSides) {
  struct Case {
    const char* name;
    void (*change)(ScriptParts&);
  };
  const Case cases[] = {
      {"no comma", [](ScriptParts& p) { p.files[1] = "build\\payload.bin"; }},
      {"no output name", [](ScriptParts& p) { p.out = {}; }},
      {"output directory missing", [](ScriptParts& p) { p.out = {"OutputName=nodir\\x.exe"}; }},
      {"wildcard source", [](ScriptParts& p) { p.files[1] = "p,build\\pay*.bin"; }},
      {"missing then no input", [](ScriptParts& p) {
         p.out.push_back("VersionFile=v,build\\engine.dll");
         p.files = {"a,build\\a.bin"};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Builds builds;
    ScriptParts parts;
    c.change(parts);
    BuildBoth(builds, parts);
    EXPECT_EQ(builds.nativeResult.exitCode, 255);
    EXPECT_EQ(builds.windowsResult.exitCode, 255);
    EXPECT_FALSE(builds.native.Log().empty());
    EXPECT_EQ(builds.native.Log(), builds.windows.Log());
  }
}

TEST_F(BuilderIdentity, BuildsFromWindowsLeaveTheSameFilesOnBothSides) {
  for (const ParityCase& c : ParityCases()) {
    SCOPED_TRACE(c.name);
    Builds builds;
    for (BuildTree* tree : {&builds.native, &builds.windows}) {
      ArrangeParityCase(*tree, c);
      SetAllTimes(*tree);
    }
    const auto before = TreeFiles(builds.windows.dir.path());
    builds.nativeResult = builds.native.Build({"/m", c.script});
    RunOptions options;
    options.workingDirectory = builds.windows.dir.path().string();
    builds.windowsResult = RunWine(WindowsBuilder(), {"/m", c.script}, options);
    EXPECT_EQ(builds.nativeResult.exitCode, c.exitCode) << builds.native.Log();
    EXPECT_EQ(builds.windowsResult.exitCode, c.exitCode) << builds.windows.Log() << builds.windowsResult.err;

    const auto native = TreeFiles(builds.native.dir.path());
    const auto windows = TreeFiles(builds.windows.dir.path());
    for (const auto& [name, bytes] : windows) {
      const auto found = native.find(name);
      EXPECT_TRUE(found != native.end() && found->second == bytes) << name << " differs";
    }
    EXPECT_EQ(native.size(), windows.size()) << "the same files on both sides";
    for (const auto& [name, bytes] : before) {
      const auto found = windows.find(name);
      EXPECT_TRUE(found != windows.end() && found->second == bytes) << name << " changed on Windows";
    }
  }
}

TEST_F(BuilderIdentity, AFailedRewriteLeavesTheScriptWholeOnBothSides) {
  QD_REQUIRE_TOOL(Prlimit);
  // The output holds the stub and a marker when the removal pass runs.
  const std::size_t floor = std::filesystem::file_size(StubSource()) + MarkerText.size();
  for (const RewriteLimit& c : RewriteLimits(floor)) {
    SCOPED_TRACE(c.name);
    Builds builds;
    for (BuildTree* tree : {&builds.native, &builds.windows}) {
      tree->WriteScript(c.parts);
      SetAllTimes(*tree);
    }
    const std::string limit = "--fsize=" + std::to_string(c.limit);
    builds.nativeResult = builds.native.BuildLimited(limit);
    RunOptions options;
    options.workingDirectory = builds.windows.dir.path().string();
    options.environment = {"WINEPREFIX=" QDPACK_WINEPREFIX, "WINEDEBUG=-all"};
    builds.windowsResult =
        qd::test::Run("/bin/sh",
            {"-c", "trap '' XFSZ; exec \"$0\" " + limit + " -- \"$1\" \"$2\" /m SetupQd.ini 2>/dev/null",
             Prlimit.path, Wine64.path, WindowsBuilder()},
            options);
    for (Builds::Side side : {&Builds::native, &Builds::windows}) {
      const BuildTree& tree = builds.*side;
      EXPECT_EQ(tree.Log(),
                "Warning: build\\gone.bin not found, removing from .ini file\r\n"
                "Write to  SetupQd.ini failed, exiting.\r\n");
      EXPECT_TRUE(ReadText(tree / "SetupQd.ini") == c.parts.Text()) << "the script is whole";
      EXPECT_EQ(std::distance(fs::directory_iterator(tree.dir.path()), fs::directory_iterator()), 5)
          << "no copy is left beside it";
    }
    EXPECT_EQ(builds.nativeResult.exitCode, 255);
    EXPECT_EQ(builds.windowsResult.exitCode, 255);
  }
}

}  // namespace
}  // namespace qd::test
