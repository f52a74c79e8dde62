//===- package_tool_test.cpp - qdpkg on packages the builder wrote ----------===//
//
// Runs the qdpkg program as a package author would: list and verify on
// packages the native builder wrote (intact, and damaged in each way verify
// must name), extract on packages composed with hostile names, and the
// command line's answers to wrong usage.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <sstream>

#include "e2e/installer_support.h"

namespace qd::test {
namespace {

RunResult Qdpkg(const std::vector<std::string>& args) { return Run(QDPACK_QDPKG_EXE, args); }

// The blank-separated words of each line of `text`.
std::vector<std::vector<std::string>> Words(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
  }
  return lines;
}

class PackageTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
  }
};

TEST_F(PackageTool, ListShowsEachItemWithItsSizesAndTimeStamp) {
  BuildTree tree;
  tree.WriteScript({});
  SetModificationTime(tree / "SetupQd.ini", 1600000000);        // 2020-09-13T12:26:40Z
  SetModificationTime(tree / "build/engine.dll", 1600000001);
  SetModificationTime(tree / "build/payload.bin", 1600000062);  // a minute and a second on
  ASSERT_EQ(tree.Build().exitCode, 0) << tree.Log();
  const fs::path package = tree / EnginePackage;
  const PackageView view = ReadPackage(package);
  ASSERT_EQ(view.items.size(), 3u);
  const auto packed = [&view](std::size_t i) { return std::to_string(view.items[i].end - view.items[i].begin); };
  const std::string script = std::to_string(fs::file_size(tree / "SetupQd.ini"));
  const std::string engine = std::to_string(fs::file_size(tree / "build/engine.dll"));

  const RunResult table = Qdpkg({"list", package.string()});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  const auto lines = Words(table.out);
  ASSERT_EQ(lines.size(), 7u) << table.out;
  EXPECT_EQ(lines[0], (std::vector<std::string>{"stub:", std::to_string(view.stubSize), "bytes"}));
  EXPECT_EQ(lines[2], (std::vector<std::string>{packed(0), script, "2020-09-13T12:26:40Z", "SetupQd.ini"}));
  EXPECT_EQ(lines[3], (std::vector<std::string>{packed(1), engine, "2020-09-13T12:26:41Z", "engine.dll"}));
  EXPECT_EQ(lines[4], (std::vector<std::string>{packed(2), "20000", "2020-09-13T12:27:42Z", "payload.bin"}));
  const std::size_t packedTotal = view.tailBegin - view.stubSize - 13 - 3 * 21;
  EXPECT_EQ(lines[6][0], std::to_string(packedTotal));
  EXPECT_EQ(lines[6][1], std::to_string(std::stoul(script) + std::stoul(engine) + 20000));

  const RunResult json = Qdpkg({"list", "--json", package.string()});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_NE(json.out.find("\"stubSize\": " + std::to_string(view.stubSize)), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("{\"name\": \"payload.bin\", \"packedSize\": " + packed(2) +
                          ", \"unpackedSize\": 20000, \"timeStamp\": \"2020-09-13T12:27:42.0000000Z\""),
            std::string::npos)
      << json.out;
}

// Each damage leaves a package that verify must refuse with its own line;
// the structural ones have their checksum made right again, so that the
// line proves the check of the layout, not the checksum's.
TEST_F(PackageTool, VerifyAcceptsABuiltPackageAndNamesEachDamage) {
  BuildTree tree;
  ScriptParts parts;
  parts.files = {"engine.dll,build\\engine.dll", "setup.exe,build\\payload.bin"};
  tree.WriteScript(parts);
  ASSERT_EQ(tree.Build().exitCode, 0) << tree.Log();
  const PackageView view = ReadPackage(tree / EnginePackage);
  const std::size_t peOffset = view.bytes[60] | std::size_t{view.bytes[61]} << 8;
  ASSERT_GE(peOffset, 64u + MarkerText.size());

  struct Case {
    const char* behaviour;
    std::function<void(Bytes&)> damage;
    bool reseal = true;
    const char* line;  // the fault line's start; null: the package verifies
    const char* name = "Update2_05_07d.exe";
    int exitCode = 1;
  };
  const Case cases[] = {
      {"a package as built verifies", [](Bytes&) {}, false, nullptr},
      {"a flipped byte in an item", [&](Bytes& b) { b[view.items[1].begin + 100] ^= 0x10; }, false,
       "fault: image checksum: the header holds"},
      {"a truncated package", [&](Bytes& b) { b.resize(view.items[2].begin + 50); }, true,
       "fault: File02 (setup.exe) is cut short"},
      {"a stub with the marker text twice",
       [](Bytes& b) { std::copy(MarkerText.begin(), MarkerText.end(), b.begin() + 64); }, true,
       "fault: the stub holds the marker text 2 times"},
      {"a missing tail", [&](Bytes& b) { b.resize(view.tailBegin); }, true,
       "fault: the file ends 0 bytes after the last item, without its tail"},
      {"a stale checksum", [&](Bytes& b) { ++b[peOffset + 88]; }, false, "fault: image checksum: the header holds"},
      {"bytes after the tail that no certificate table holds", [](Bytes& b) { b.resize(b.size() + 8, 0x5A); }, true,
       "fault: 8 bytes follow the tail"},
      {"an item that the list does not name",
       [&](Bytes& b) {
         const Bytes extra(b.begin() + static_cast<std::ptrdiff_t>(view.items[2].begin), b.begin() + static_cast<std::ptrdiff_t>(view.tailBegin));
         b.resize(view.tailBegin);
         b.insert(b.end(), extra.begin(), extra.end());
         b.resize((b.size() + 3) / 4 * 4 + 4, 0);
       },
       true, "fault: 1 item follows the 2 files the script lists"},
      {"a name that is not the one the version gives is a note, not a fault", [](Bytes&) {}, false,
       "note: the name Update2_05_07e.exe is not Update2_05_07d.exe", "Update2_05_07e.exe", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    Bytes bytes = view.bytes;
    c.damage(bytes);
    if (c.reseal) SealChecksum(bytes);
    ScratchDir dir;
    WriteAll(dir / c.name, bytes);
    const RunResult run = Qdpkg({"verify", (dir / c.name).string()});
    if (!c.line) {
      EXPECT_EQ(run.exitCode, 0) << run.out;
      EXPECT_NE(run.out.find("verified: every check holds\n"), std::string::npos) << run.out;
      continue;
    }
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out;
    EXPECT_NE(("\n" + run.out).find(std::string("\n") + c.line), std::string::npos) << run.out;
  }
}

TEST_F(PackageTool, ExtractUnpacksListedFilesWithTheirTimesAndRefusesTheNamesTheInstallerRefuses) {
  struct Case {
    const char* behaviour;
    std::vector<std::string> entries;
    int exitCode;
    std::vector<std::pair<std::string, std::size_t>> unpacked;  // name on disk, item
    std::vector<std::string> refused;                           // what stderr names
  };
  const Case cases[] = {
      {"a package as composed unpacks whole, names in the code page as UTF-8",
       {"engine.dll,build\\engine.dll", "setup.exe,build\\setup.exe", "\xDC" "bersicht.txt,notes"},
       0,
       {{"SetupQd.ini", 0}, {"engine.dll", 1}, {"setup.exe", 2}, {"\xC3\x9C" "bersicht.txt", 3}},
       {}},
      {"names the installer refuses are refused, and a name given twice, the others unpacked",
       {"engine.dll,build\\engine.dll", "..\\escaped.txt,escaped", "/tmp/rooted.txt,rooted", "notes.txt,notes",
        "sub/x.txt,x", "C:drive.txt,drive", "..,dots", "Notes.TXT.,again", "SetupQd.ini,script"},
       1,
       {{"SetupQd.ini", 0}, {"engine.dll", 1}, {"notes.txt", 4}},
       {"refused File02 (..\\escaped.txt)", "refused File03 (/tmp/rooted.txt)", "refused File05 (sub/x.txt)",
        "refused File06 (C:drive.txt)", "refused File07 (..)",
        "refused File08 (Notes.TXT.): it names the same file as File04 (notes.txt)",
        "refused File09 (SetupQd.ini): it is the name of the installer's own script"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    InstallTree tree(Installer::Native);
    const auto items = tree.Compose({.behaviour = c.behaviour, .entries = c.entries});
    const fs::path out = tree.RunDirectory() / "out";
    const RunResult run = Qdpkg({"extract", tree.Package().string(), out.string()});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    for (const std::string& refused : c.refused) EXPECT_NE(run.err.find(refused), std::string::npos) << run.err;

    // Exactly these files, each as packed, with its time.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(c.unpacked.size()));
    for (const auto& [name, item] : c.unpacked) {
      EXPECT_TRUE(ReadAll(out / name) == items[item].content) << name;
      EXPECT_EQ(FileTimeOf(out / name), items[item].time) << name;
    }
    EXPECT_FALSE(fs::exists(tree.RunDirectory() / "escaped.txt"));
    EXPECT_FALSE(fs::exists("/tmp/rooted.txt"));
  }
}

TEST_F(PackageTool, AnswersHelpVersionAndWrongUsageAsCommandLineToolsDo) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    const char* out;  // expected in standard output
    const char* err;  // expected in standard error
  };
  const Case cases[] = {
      {{"--help"}, 0, "Subcommands:", ""},
      {{"verify", "--help"}, 0, "PACKAGE", ""},
      {{"--version"}, 0, "qdpkg 1.", ""},
      {{"list", "--version"}, 0, "qdpkg 1.", ""},
      {{}, 2, "", "Run 'qdpkg --help' for usage."},
      {{"list"}, 2, "", "PACKAGE is required"},
      {{"extract", "a.exe"}, 2, "", "DIR is required"},
      {{"check"}, 2, "", "SCRIPT is required"},
      {{"new"}, 2, "", "NAME is required"},
      {{"verify", "a.exe", "--ca"}, 2, "", "Run 'qdpkg --help' for usage."},
      {{"check", "/nonexistent/a.ini"}, 1, "", "cannot read /nonexistent/a.ini"},
      {{"verify", "a.exe", "b.exe"}, 2, "", "Run 'qdpkg --help' for usage."},
      {{"list", "--yaml", "a.exe"}, 2, "", "Run 'qdpkg --help' for usage."},
      {{"squash", "a.exe"}, 2, "", "Run 'qdpkg --help' for usage."},
      {{"list", "/nonexistent/a.exe"}, 1, "", "cannot open /nonexistent/a.exe"},
  };
  for (const Case& c : cases) {
    const RunResult run = Qdpkg(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_NE(run.out.find(c.out), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace qd::test
