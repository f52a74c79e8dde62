//===- builder_test.cpp - The native builder, end to end ---------------------===//
//
// Runs the native builder ("qdpack /m SetupQd.ini") in a scratch tree with the
// real 32-bit QdPack.exe as stub, and checks the package byte by byte, the
// rewritten packing list and the build log. Failures are reached through the
// real operating system where it can produce them: missing files, wildcard
// and directory sources, resource limits on file size and address space.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "builder/builder.h"
#include "codec/codec.h"
#include "e2e/builder_support.h"
#include "e2e/parity_cases.h"
#include "package/script.h"
#include "support/file_faults.h"
#include "support/in_process.h"

// The address sanitizer reserves terabytes of address space up front.
#if defined(__SANITIZE_ADDRESS__)
#define QD_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QD_ADDRESS_SANITIZER 1
#endif
#endif

namespace qd::test {
namespace {

namespace fs = std::filesystem;

class BuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no 32-bit Windows build to take the stub from";
    tree_ = std::make_unique<BuildTree>();
  }
  BuildTree& tree() { return *tree_; }

 private:
  std::unique_ptr<BuildTree> tree_;
};

// What an item must unpack to.
struct Expected {
  std::vector<std::uint8_t> content;
  std::uint64_t timeStamp = 0;
};

Expected ExpectedFile(const fs::path& path) { return {ReadAll(path), FileTimeOf(path)}; }

// Checks the whole layout of the package at `path`: stub, markers, items
// (script first) and tail, and that its checksum is right.
void ExpectPackage(const fs::path& path, const fs::path& stub, const std::vector<Expected>& items) {
  ASSERT_TRUE(fs::exists(path)) << path;
  const PackageView view = ReadPackage(path);
  const std::vector<std::uint8_t> stubBytes = ReadAll(stub);

  ASSERT_EQ(view.markers.size(), 2 + items.size()) << "one marker in the stub, one after it, one per item";
  ASSERT_EQ(view.stubSize, stubBytes.size());
  // The stub stands at offset 0 byte for byte, but for its CheckSum field,
  // which now seals the package.
  std::size_t header = 0;
  for (std::size_t i = 0; i < 4; ++i) header |= std::size_t{stubBytes[60 + i]} << (8 * i);
  std::vector<std::uint8_t> stubInPackage(view.bytes.begin(), view.bytes.begin() + static_cast<std::ptrdiff_t>(stubBytes.size()));
  std::vector<std::uint8_t> stubExpected = stubBytes;
  for (std::size_t i = 0; i < 4; ++i) stubInPackage[header + 88 + i] = stubExpected[header + 88 + i] = 0;
  EXPECT_TRUE(stubInPackage == stubExpected) << "stub at offset 0";
  ASSERT_EQ(view.items.size(), items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE("item " + std::to_string(i));
    const PackageItem& item = view.items[i];
    ASSERT_GE(item.end - item.begin, 2u);
    EXPECT_EQ(view.bytes[item.begin], 0x00);
    EXPECT_EQ(view.bytes[item.begin + 1], 0x06);
    // An empty file's stream is its header and the end code; the memory
    // wrapper takes no stream that short, and the installer's reader knows it.
    if (items[i].content.empty()) {
      EXPECT_EQ(item.end - item.begin, 4u);
      EXPECT_EQ(item.timeStamp, items[i].timeStamp);
      continue;
    }
    std::vector<std::uint8_t> unpacked(items[i].content.size() + 1);
    const std::int32_t length =
        DecompressToMemory(unpacked.data(), static_cast<std::uint32_t>(unpacked.size()),
                           view.bytes.data() + item.begin, static_cast<std::uint32_t>(item.end - item.begin));
    ASSERT_EQ(length, static_cast<std::int32_t>(items[i].content.size()));
    unpacked.resize(items[i].content.size());
    EXPECT_TRUE(unpacked == items[i].content);
    EXPECT_EQ(item.timeStamp, items[i].timeStamp);
  }
  const std::size_t tail = view.bytes.size() - view.tailBegin;
  EXPECT_GE(tail, 4u);
  EXPECT_LE(tail, 7u);
  EXPECT_EQ((view.tailBegin + tail - 4) % 4, 0u) << "padding only up to the next multiple of 4";
  EXPECT_EQ(view.bytes.size() % 4, 0u);
  for (std::size_t at = view.tailBegin; at < view.bytes.size(); ++at) EXPECT_EQ(view.bytes[at], 0) << at;
  std::uint32_t stored = 0;
  EXPECT_EQ(ImageChecksum(view.bytes, stored), stored);
}

TEST_F(BuilderTest, PackageHoldsStubScriptAndEveryFileNamedAfterTheFirstFilesVersion) {
  tree().WriteScript({});
  const RunResult result = tree().Build();
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "qdpack: built out\\Update2_05_07d.exe, " +
                            std::to_string(fs::file_size(tree() / EnginePackage)) + " bytes, 2 files\n");
  EXPECT_EQ(tree().Log(), "") << "a clean build leaves an empty log";
  EXPECT_EQ(fs::directory_iterator(tree() / "out")->path().filename(), "Update2_05_07d.exe");
  ExpectPackage(tree() / EnginePackage, tree() / "QdPack.exe",
                {ExpectedFile(tree() / "SetupQd.ini"), ExpectedFile(tree() / "build/engine.dll"),
                 ExpectedFile(tree() / "build/payload.bin")});
}

TEST_F(BuilderTest, OutputNameIsPatternOrPlainNameAndReplacesAnExistingFile) {
  struct Case {
    const char* value;
    const char* file;
  };
  for (const Case& c : {Case{"OutputName=out\\Update%s.exe", "out/Update2_05_07d.exe"},
                        Case{"OutputName = out\\plain.exe", "out/plain.exe"},
                        Case{"OutputName=out/v%s-100%%.exe", "out/v2_05_07d-100%.exe"}}) {
    SCOPED_TRACE(c.value);
    WriteAll(tree() / c.file, std::vector<std::uint8_t>(3'000'000, 0xAB));
    ScriptParts parts;
    parts.out = {c.value};
    tree().WriteScript(parts);
    ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
    ExpectPackage(tree() / c.file, tree() / "QdPack.exe",
                  {ExpectedFile(tree() / "SetupQd.ini"), ExpectedFile(tree() / "build/engine.dll"),
                   ExpectedFile(tree() / "build/payload.bin")});
  }
}

TEST_F(BuilderTest, TailBringsEveryLengthToAMultipleOfFourPlusFourZeros) {
  std::set<std::size_t> paddings;
  for (std::size_t size = 200; size <= 232 && paddings.size() < 4; ++size) {
    WriteAll(tree() / "build/payload.bin", corpus::Mixed(size, static_cast<std::uint32_t>(size)));
    tree().WriteScript({});
    ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
    const PackageView view = ReadPackage(tree() / EnginePackage);
    const std::size_t tail = view.bytes.size() - view.tailBegin;
    EXPECT_EQ(tail, 4 + (4 - view.tailBegin % 4) % 4);
    paddings.insert(tail - 4);
  }
  EXPECT_EQ(paddings.size(), 4u) << "every amount of padding, 0 to 3, was seen";
}

TEST_F(BuilderTest, BackslashAndSlashPathsBothWork) {
  ScriptParts parts;
  parts.files = {"engine.dll,  \t build/engine.dll", "payload.bin,build\\payload.bin"};
  tree().WriteScript(parts);
  ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
  EXPECT_TRUE(fs::exists(tree() / EnginePackage));
}

TEST_F(BuilderTest, ExampleScriptBuildsThePackageTheReadmePromises) {
  // Staged as the example_package target stages it.
  const fs::path setup = std::string(QDPACK_WIN32_DIR) + "/examples/setup.exe";
  ASSERT_TRUE(fs::exists(setup));
  fs::copy_file(setup, tree() / "build/setup.exe");
  fs::copy_file(std::string(QDPACK_SOURCE_DIR) + "/examples/SetupQd.ini", tree() / "SetupQd.ini");
  const RunResult result = tree().Build();
  ASSERT_EQ(result.exitCode, 0) << tree().Log();
  EXPECT_EQ(tree().Log(), "");
  ExpectPackage(tree() / EnginePackage, tree() / "QdPack.exe",
                {ExpectedFile(tree() / "SetupQd.ini"), ExpectedFile(tree() / "build/engine.dll"),
                 ExpectedFile(tree() / "build/setup.exe")});
  // Every text an installer run shows is in the script.
  const std::string script = (tree() / "SetupQd.ini").string();
  for (int n = 2; n <= 14; ++n) {
    char key[8];
    std::snprintf(key, sizeof key, "Msg%02d", n);
    EXPECT_FALSE(IsAbsent(ReadScriptValue("ENU", key, script))) << key;
  }
  for (int n : {2, 3, 4, 5, 7, 8, 9}) {
    char key[8];
    std::snprintf(key, sizeof key, "Err%02d", n);
    EXPECT_FALSE(IsAbsent(ReadScriptValue("ENU", key, script))) << key;
  }

  // The package the example_package target left, if it has run.
  const fs::path built = std::string(QDPACK_BINARY_DIR) + "/example/out/Update2_05_07d.exe";
  if (fs::exists(built)) {
    const fs::path stage = built.parent_path().parent_path();
    ExpectPackage(built, stage / "QdPack.exe",
                  {ExpectedFile(stage / "SetupQd.ini"), ExpectedFile(stage / "build/engine.dll"),
                   ExpectedFile(stage / "build/setup.exe")});
  }
}

TEST_F(BuilderTest, LogThatCannotBeCreatedDoesNotStopTheBuild) {
  fs::create_directories(tree() / "logfile.txt");
  ScriptParts parts;
  parts.files.push_back("x,build\\gone.bin");  // a warning with nowhere to go
  tree().WriteScript(parts);
  ASSERT_EQ(tree().Build().exitCode, 0);
  EXPECT_TRUE(fs::exists(tree() / EnginePackage));
}

TEST_F(BuilderTest, BuildsFromWindowsEndAsOnWindowsAndLeaveEveryFileTheyRead) {
  for (const ParityCase& c : ParityCases()) {
    SCOPED_TRACE(c.name);
    BuildTree tree;
    ArrangeParityCase(tree, c);
    const auto before = TreeFiles(tree.dir.path());
    const RunResult result = tree.Build({"/m", c.script});
    EXPECT_EQ(result.exitCode, c.exitCode) << tree.Log();
    if (c.log) {
      EXPECT_EQ(tree.Log(), *c.log);
    }
    const auto after = TreeFiles(tree.dir.path());
    for (const auto& [name, bytes] : before) {
      const auto found = after.find(name);
      EXPECT_TRUE(found != after.end() && found->second == bytes) << name << " changed";
    }
    if (!c.package.empty()) {
      const PackageView view = ReadPackage(tree / c.package);
      EXPECT_GE(view.items.size(), 2u) << c.package;
    }
  }
}

//===----------------------------------------------------------------------===//
// The removal pass
//===----------------------------------------------------------------------===//

std::string EntryValue(int index) {
  return "f" + std::to_string(index) + ".bin,data\\f" + std::to_string(index) + ".bin";
}

TEST_F(BuilderTest, MissingSourcesLeaveTheListAndTheRestMovesUp) {
  struct Case {
    const char* name;
    int entries;            // File01 is engine.dll, File02.. are data files
    std::set<int> missing;  // indices whose source is missing
  };
  const Case cases[] = {
      {"third of five", 5, {3}},
      {"two in a row", 5, {2, 3}},
      {"the last", 4, {4}},
      {"one of 99", 99, {50}},
      {"99 with the last two", 99, {98, 99}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BuildTree tree;
    fs::create_directories(tree / "data");
    ScriptParts parts;
    parts.files = {"engine.dll,build\\engine.dll"};
    std::vector<std::string> kept = {parts.files[0]};
    std::vector<Expected> items;
    std::string warnings;
    for (int k = 2; k <= c.entries; ++k) {
      parts.files.push_back(EntryValue(k));
      const fs::path source = tree / ("data/f" + std::to_string(k) + ".bin");
      if (c.missing.count(k)) {
        warnings += "Warning: data\\f" + std::to_string(k) + ".bin not found, removing from .ini file\r\n";
        continue;
      }
      WriteAll(source, corpus::Mixed(100 + static_cast<std::size_t>(k), static_cast<std::uint32_t>(k)));
      kept.push_back(EntryValue(k));
    }
    tree.WriteScript(parts);
    const RunResult result = tree.Build();
    ASSERT_EQ(result.exitCode, 0) << tree.Log();
    EXPECT_EQ(tree.Log(), warnings);

    const std::string script = (tree / "SetupQd.ini").string();
    for (int k = 1; k <= MaxFileListEntries; ++k) {
      const std::string value = ReadScriptValue("Files", FileListKey(k), script);
      if (k <= static_cast<int>(kept.size()))
        EXPECT_EQ(value, kept[static_cast<std::size_t>(k - 1)]) << k;
      else
        EXPECT_EQ(value, "@") << "key " << k << " deleted";
    }
    items.push_back(ExpectedFile(tree / "SetupQd.ini"));
    items.push_back(ExpectedFile(tree / "build/engine.dll"));
    for (std::size_t i = 1; i < kept.size(); ++i) {
      const std::string source = kept[i].substr(kept[i].find(",data\\") + 6);
      items.push_back(ExpectedFile(tree / ("data/" + source)));
    }
    ExpectPackage(tree / EnginePackage, tree / "QdPack.exe", items);
  }
}

TEST_F(BuilderTest, MissingFirstFileFailsWithoutVersionFileAndIsRemovedWithIt) {
  // Without VersionFile the version comes from File01, before any removal.
  ScriptParts parts;
  parts.files = {"engine.dll,build\\gone.dll", "payload.bin,build\\payload.bin"};
  tree().WriteScript(parts);
  RunResult result = tree().Build();
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_EQ(tree().Log(), "Unable to get build number from first file in list.\r\n");
  EXPECT_EQ(ReadText(tree() / "SetupQd.ini"), parts.Text()) << "the list is untouched";
  EXPECT_TRUE(fs::is_empty(tree() / "out"));

  // With VersionFile the missing first entry is removed and the build goes on.
  parts.out.push_back("VersionFile=v,build\\engine.dll");
  tree().WriteScript(parts);
  result = tree().Build();
  ASSERT_EQ(result.exitCode, 0) << tree().Log();
  EXPECT_EQ(tree().Log(), "Warning: build\\gone.dll not found, removing from .ini file\r\n");
  EXPECT_EQ(ReadScriptValue("Files", "File01", (tree() / "SetupQd.ini").string()),
            "payload.bin,build\\payload.bin");
  ExpectPackage(tree() / EnginePackage, tree() / "QdPack.exe",
                {ExpectedFile(tree() / "SetupQd.ini"), ExpectedFile(tree() / "build/payload.bin")});

  // With every source missing the list ends up empty.
  parts.files = {"a,build\\a.bin", "b,build\\b.bin"};
  tree().WriteScript(parts);
  result = tree().Build();
  EXPECT_EQ(result.exitCode, 255);
  EXPECT_EQ(tree().Log(),
            "Warning: build\\a.bin not found, removing from .ini file\r\n"
            "Warning: build\\b.bin not found, removing from .ini file\r\n"
            "No input files. Check the .INF syntax.\r\n");
  EXPECT_EQ(ReadScriptValue("Files", "File01", (tree() / "SetupQd.ini").string()), "@");
}

TEST_F(BuilderTest, ReadOnlyScriptIsMadeWritableAndRewritten) {
  ScriptParts parts;
  parts.files = {"engine.dll,build\\engine.dll", "x,build\\gone.bin", "payload.bin,build\\payload.bin"};
  tree().WriteScript(parts);
  fs::permissions(tree() / "SetupQd.ini", fs::perms::owner_read | fs::perms::group_read);
  ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
  EXPECT_NE(fs::status(tree() / "SetupQd.ini").permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(ReadScriptValue("Files", "File02", (tree() / "SetupQd.ini").string()),
            "payload.bin,build\\payload.bin");
}

//===----------------------------------------------------------------------===//
// Failures: one exact line, exit code -1 (255)
//===----------------------------------------------------------------------===//

struct FailureCase {
  const char* name;
  std::function<void(BuildTree&, ScriptParts&)> arrange;
  std::string log;
  std::vector<std::string> args = {"/m", "SetupQd.ini"};
};

TEST_F(BuilderTest, EveryFailureWritesItsLineAndEndsWithMinusOne) {
  const std::string absoluteEngine = fs::absolute(tree() / "build/engine.dll").string();
  const FailureCase cases[] = {
      {"script not found", [](BuildTree&, ScriptParts&) {},
       "Unable to find setupqd.ini file as given on cmd line.\r\n", {"/m", "nothere.ini"}},
      {"command text without a blank", [](BuildTree&, ScriptParts&) {},
       "Unable to find setupqd.ini file as given on cmd line.\r\n", {"/mSetupQd.ini"}},
      {"quoted script path", [](BuildTree&, ScriptParts&) {},
       "Unable to find setupqd.ini file as given on cmd line.\r\n", {"/m", "\"SetupQd.ini\""}},
      {"script path with a blank",
       [](BuildTree& t, ScriptParts& p) {
         fs::create_directories(t / "My Files");
         WriteText(t / "My Files/SetupQd.ini", p.Text());
       },
       "Unable to find setupqd.ini file as given on cmd line.\r\n", {"/m", "My Files/SetupQd.ini"}},
      {"version source without a comma",
       [](BuildTree&, ScriptParts& p) { p.files[0] = "build\\engine.dll"; },
       "No comma in input filename directive. Check the .INI syntax at File01.\r\n"},
      {"VersionFile without a comma",
       [](BuildTree&, ScriptParts& p) { p.out.push_back("VersionFile=build\\engine.dll"); },
       "No comma in input filename directive. Check the .INI syntax at File01.\r\n"},
      {"first file without a version",
       [](BuildTree&, ScriptParts& p) { std::swap(p.files[0], p.files[1]); },
       "Unable to get build number from first file in list.\r\n"},
      {"absolute version source",
       [absoluteEngine](BuildTree&, ScriptParts& p) { p.out.push_back("VersionFile=v," + absoluteEngine); },
       "Unable to get build number from first file in list.\r\n"},
      {"version path longer than the buffers",
       [](BuildTree& t, ScriptParts& p) {
         // The file is there, but the current directory and the source
         // together outgrow the system's 260-character buffers.
         const std::string directory(240, 'd');
         fs::create_directories(t / directory);
         fs::copy_file(t / "build/engine.dll", t / (directory + "/engine.dll"));
         p.out.push_back("VersionFile=v," + directory + "\\engine.dll");
       },
       "Unable to get build number from first file in list.\r\n"},
      {"no OutputName", [](BuildTree&, ScriptParts& p) { p.out = {}; },
       "Output filename directive missing. Check the packing list syntax.\r\n"},
      {"OutputName starting with @", [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=@out.exe"}; },
       "Output filename directive missing. Check the packing list syntax.\r\n"},
      {"no QdFileName", [](BuildTree&, ScriptParts& p) { p.in = {}; },
       "'In' executable filename directive missing. Check the packing list syntax.\r\n"},
      {"output directory missing",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=nodir\\Update%s.exe"}; },
       "Error creating the output file.\r\n"},
      {"pattern with another conversion",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=out\\Update%d.exe"}; },
       "Error creating the output file.\r\n"},
      {"output name longer than the buffers",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=out\\" + std::string(250, 'u') + "%s.exe"}; },
       "Error creating the output file.\r\n"},
      {"stub missing", [](BuildTree&, ScriptParts& p) { p.in = {"QdFileName=nothere.exe"}; },
       "Error reading the Installer file.\r\n"},
      {"list entry without a comma",
       [](BuildTree&, ScriptParts& p) { p.files[1] = "build\\payload.bin"; },
       "No comma in input filename directive. Check the .INI syntax.\r\n"},
      {"wildcard source", [](BuildTree&, ScriptParts& p) { p.files[1] = "p.bin,build\\pay*.bin"; },
       "\r\nError opening an input file.\r\n"},
      {"directory as source", [](BuildTree&, ScriptParts& p) { p.files[1] = "p.bin,build"; },
       "\r\nError opening an input file.\r\n"},
      {"warning, then a failure",
       [](BuildTree&, ScriptParts& p) {
         p.files = {"engine.dll,build\\engine.dll", "x,build\\gone.bin", "nocomma"};
       },
       "Warning: build\\gone.bin not found, removing from .ini file\r\n"
       "No comma in input filename directive. Check the .INI syntax.\r\n"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    BuildTree tree;
    ScriptParts parts;
    c.arrange(tree, parts);
    tree.WriteScript(parts);
    WriteText(tree / "logfile.txt", "an earlier build's log\r\n");
    const RunResult result = tree.Build(c.args);
    EXPECT_EQ(result.exitCode, 255);
    EXPECT_EQ(tree.Log(), c.log);
    // Natively the builder also says it, naming the file at fault: the last
    // line of standard error is the log's, behind "qdpack: error: " and a name.
    const std::size_t from = c.log.find_first_not_of("\r\n", c.log.find_last_of('\n', c.log.size() - 2) + 1);
    const std::string said = c.log.substr(from, c.log.find_last_not_of("\r\n") + 1 - from);
    ASSERT_NE(result.err.rfind("qdpack: error: "), std::string::npos) << result.err;
    EXPECT_TRUE(result.err.ends_with(": " + said + "\n")) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST_F(BuilderTest, SourceThatReadsShortOfItsSizeFailsAsUnreadable) {
  // A system file that reports a size of a page and delivers a few bytes.
  const char* candidates[] = {"/sys/devices/system/cpu/online", "/sys/kernel/uevent_seqnum"};
  const char* source = nullptr;
  for (const char* candidate : candidates) {
    std::error_code error;
    if (fs::file_size(candidate, error) > 64 && !error) {
      source = candidate;
      break;
    }
  }
  if (!source) GTEST_SKIP() << "no file here reads short of its size";
  ScriptParts parts;
  parts.files[1] = std::string("p.bin,") + source;
  tree().WriteScript(parts);
  EXPECT_EQ(tree().Build().exitCode, 255);
  EXPECT_EQ(tree().Log(), "Error reading the input file.\r\n");
}

// Files of any size, from zero bytes up, large and small in turn, two of
// them large enough to be packed in pieces on several threads. Each item
// unpacks to its file: every stream fits its buffer, however small or
// incompressible the file. And each is the item of the file packed alone,
// byte for byte: the memory that threads and items keep from file to file
// carries nothing from one to the next. A piece that cannot be read fails
// the build as a whole file would.
TEST_F(BuilderTest, FilesOfAnySizeInTurnAreEachTheItemOfTheFilePackedAlone) {
  const std::vector<std::vector<std::uint8_t>> files = {
      corpus::Mixed(2 * ImplodePieceSize + 100'000, 21), corpus::Noise(1, 22), corpus::Text(300'000, 23), {},
      corpus::Executable(700'000, 24), corpus::Noise(33, 33), corpus::Runs(5'000, 25), corpus::Noise(53, 53),
      corpus::Mixed(2 * ImplodePieceSize + 5'000, 26), corpus::Noise(4096, 4096), corpus::ZeroHeavy(60'000, 27)};
  ASSERT_GT(PlanImplode(files[0].size()).pieces.size(), 1u);
  ScriptParts parts;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string name = "file" + std::to_string(i) + ".bin";
    WriteAll(tree() / ("build/" + name), files[i]);
    parts.files.push_back(name + ",build\\" + name);
  }
  tree().WriteScript(parts);
  ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
  std::vector<Expected> expected;
  for (const char* name : {"SetupQd.ini", "build/engine.dll", "build/payload.bin"})
    expected.push_back(ExpectedFile(tree() / name));
  for (std::size_t i = 0; i < files.size(); ++i)
    expected.push_back(ExpectedFile(tree() / ("build/file" + std::to_string(i) + ".bin")));
  ExpectPackage(tree() / EnginePackage, tree() / "QdPack.exe", expected);
  const PackageView view = ReadPackage(tree() / EnginePackage);
  ASSERT_EQ(view.items.size(), 3 + files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE("file " + std::to_string(i));
    const std::vector<std::uint8_t>& file = files[i];
    std::vector<std::uint8_t> alone(CompressBound(file.size()));
    alone.resize(static_cast<std::size_t>(
        CompressToMemory(alone.data(), static_cast<std::uint32_t>(alone.size()), file.data(),
                         static_cast<std::uint32_t>(file.size()))));
    const PackageItem& item = view.items[3 + i];
    EXPECT_TRUE(std::vector<std::uint8_t>(view.bytes.begin() + static_cast<std::ptrdiff_t>(item.begin),
                                          view.bytes.begin() + static_cast<std::ptrdiff_t>(item.end)) == alone);
  }

  fs::remove(tree() / EnginePackage);
  FileFaultScope fault({.call = FileCall::Read, .path = "file0.bin", .shortRead = 100});
  EXPECT_EQ(tree().BuildInProcess().exitCode, -1);
  EXPECT_TRUE(fault.Struck());
  EXPECT_EQ(tree().Log(), "Error reading the input file.\r\n");
  EXPECT_FALSE(fs::exists(tree() / EnginePackage));
}

TEST_F(BuilderTest, WriteFailuresOfTheOutputAndTheScriptEndTheBuild) {
  QD_REQUIRE_TOOL(Prlimit);
  // A reference build tells where each item starts; its package stays
  // under its name through every failed build after it.
  tree().WriteScript({});
  ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
  const PackageView view = ReadPackage(tree() / EnginePackage);
  ASSERT_EQ(view.items.size(), 3u);
  const std::size_t scriptStart = view.items[0].begin;
  const std::size_t firstFileStart = view.items[1].begin;

  struct Case {
    const char* name;
    std::size_t limit;
    std::string log;
  };
  const Case cases[] = {
      {"the stub's copy", view.stubSize / 2, "Error writing to the output file.\r\n"},
      {"the script's stream", scriptStart + 1, "Error writing ini to the output file.\r\n"},
      {"a file's stream", firstFileStart + 1, "Error writing to the output file.\r\n"},
      {"the tail", view.tailBegin + 2, "Error writing to the output file.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tree().WriteScript({});
    const RunResult result = tree().BuildLimited("--fsize=" + std::to_string(c.limit));
    EXPECT_EQ(result.exitCode, 255) << result.err;
    EXPECT_EQ(tree().Log(), c.log);
    EXPECT_TRUE(ReadAll(tree() / EnginePackage) == view.bytes) << "the earlier package stays as it was";
    EXPECT_EQ(EntriesIn(tree() / "out"), 1) << "and nothing is left beside it";
  }

  // The removal pass rewrites the script; a script that cannot be written
  // back whole is left as it was, not a line of it lost.
  for (const RewriteLimit& c : RewriteLimits(scriptStart)) {
    SCOPED_TRACE(c.name);
    tree().WriteScript(c.parts);
    const RunResult result = tree().BuildLimited("--fsize=" + std::to_string(c.limit));
    EXPECT_EQ(result.exitCode, 255) << result.err;
    EXPECT_EQ(tree().Log(),
              "Warning: build\\gone.bin not found, removing from .ini file\r\n"
              "Write to  SetupQd.ini failed, exiting.\r\n");
    EXPECT_TRUE(ReadText(tree() / "SetupQd.ini") == c.parts.Text()) << "the script is whole";
  }
}

// Failures the operating system cannot be made to produce on cue, in-process
// against a double of the platform's operations.
TEST_F(BuilderTest, CallsThatFailEndTheBuildWithTheirLine) {
  struct Case {
    const char* name;
    FileFault fault;
    std::string log;
  };
  const Case cases[] = {
      {"a source that reads short", {.call = FileCall::Read, .path = "payload.bin", .shortRead = 100},
       "Error reading the input file.\r\n"},
      {"a source whose close fails", {.call = FileCall::Close, .path = "payload.bin"},
       "Error reading the input file.\r\n"},
      {"a script that reads short", {.call = FileCall::Read, .path = "SetupQd.ini", .shortRead = 10},
       "Error reading the .INI file.\r\n"},
      {"a stub that reads short", {.call = FileCall::Read, .path = "QdPack.exe", .shortRead = 1000},
       "Error reading the Installer file.\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tree().WriteScript({});
    FileFaultScope fault(c.fault);
    EXPECT_EQ(tree().BuildInProcess().exitCode, -1);
    EXPECT_TRUE(fault.Struck());
    EXPECT_EQ(tree().Log(), c.log);
    EXPECT_FALSE(fs::exists(tree() / EnginePackage));
  }
}

// How a build may end when a call on a file failed: the log lines it may
// fail with, and "" where it may go on (a file that was only read has been
// read whole before it is closed; the log's lines are only lost).
std::set<std::string> EndsForFailureOn(const std::string& call) {
  const auto on = [&call](std::string_view name) { return call.find(name) != std::string::npos; };
  const std::string output = "Error writing to the output file.\r\n";
  if (on("logfile.txt") || on("set attributes")) return {""};
  if (on("rename") || on("temporary file")) return {"Error creating the output file.\r\n"};
  if (on("open") && on(".tmp")) return {"Error creating the output file.\r\n", output};
  if (on("close") && !on("written")) {
    if (on(".tmp")) return {"", output};
    if (on("QdPack.exe")) return {"", "Error reading the Installer file.\r\n"};
    if (on("SetupQd.ini")) return {"", "Error reading the .INI file.\r\n"};
    return {"", "Error reading the input file.\r\n"};
  }
  if (on(".tmp")) return {output, "Error writing ini to the output file.\r\n"};
  if (on("QdPack.exe")) return {"Error reading the Installer file.\r\n"};
  if (on("SetupQd.ini")) return {"Error reading the .INI file.\r\n"};
  if (on("engine.dll") || on("payload.bin"))
    return {"\r\nError opening an input file.\r\n", "Error reading the input file.\r\n",
            "Unable to get build number from first file in list.\r\n"};
  return {"(no line for " + call + ")"};
}

// Every call of a build that can fail, failed in turn: the build ends with
// the line of the step that failed, leaving its inputs as they were and
// nothing under the package's name (nor beside it); or, where the failed
// call may be ignored, it writes exactly the package a clean build writes.
TEST_F(BuilderTest, AFaultAtAnyCallEndsTheBuildWithItsLineOrAnExactPackage) {
  tree().WriteScript({});
  const auto inputs = [this] {
    std::vector<std::vector<std::uint8_t>> bytes;
    for (const char* name : {"SetupQd.ini", "QdPack.exe", "build/engine.dll", "build/payload.bin"})
      bytes.push_back(ReadAll(tree() / name));
    return bytes;
  };
  const auto before = inputs();
  int cleanExit = -1;
  const int calls = CountCalls({.call = std::nullopt}, [&] { cleanExit = tree().BuildInProcess().exitCode; });
  ASSERT_EQ(cleanExit, 0) << tree().Log();
  const auto clean = ReadAll(tree() / EnginePackage);
  ASSERT_GT(calls, 20);
  int failed = 0;
  for (int n = 1; n <= calls; ++n) {
    fs::remove(tree() / EnginePackage);
    FileFaultScope fault({.call = std::nullopt, .nth = n});
    const int exitCode = tree().BuildInProcess().exitCode;
    SCOPED_TRACE("call " + std::to_string(n) + ": " + fault.StruckCall());
    ASSERT_TRUE(fault.Struck());
    if (exitCode == 0) {
      EXPECT_TRUE(ReadAll(tree() / EnginePackage) == clean);
      EXPECT_EQ(EndsForFailureOn(fault.StruckCall()).count(""), 1u) << "a failure that looks like success";
    } else {
      ++failed;
      EXPECT_EQ(exitCode, -1);
      EXPECT_EQ(EndsForFailureOn(fault.StruckCall()).count(tree().Log()), 1u) << tree().Log();
      EXPECT_FALSE(fs::exists(tree() / EnginePackage));
      EXPECT_TRUE(inputs() == before);
    }
    EXPECT_EQ(EntriesIn(tree() / "out"), exitCode == 0 ? 1 : 0) << "nothing is left beside the package";
  }
  RecordProperty("calls", calls);
  RecordProperty("failed", failed);
}

// On a terminal the build shows what it packs; the package, the log and the
// exit code are the same as without one.
TEST_F(BuilderTest, ProgressShowsOnATerminalOnlyAndChangesNothing) {
  QD_REQUIRE_TOOL(Script);
  tree().WriteScript({});
  const RunResult plain = tree().Build();
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(plain.err.find("Packing"), std::string::npos);
  const auto package = ReadAll(tree() / EnginePackage);
  fs::remove(tree() / EnginePackage);

  RunOptions options;
  options.workingDirectory = tree().dir.path().string();
  const RunResult shown =
      test::Run(Script.path, {"-q", "-e", "-c", "'" QDPACK_NATIVE_EXE "' /m SetupQd.ini", "/dev/null"}, options);
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_NE(shown.out.find("Packing build\\payload.bin"), std::string::npos) << shown.out;
  EXPECT_TRUE(ReadAll(tree() / EnginePackage) == package);
  EXPECT_EQ(tree().Log(), "");
}

// Under a 256 MiB address-space limit: a sparse 1 GiB source packs in
// pieces, never held whole; one whose size does not fit 32 bits fails to
// allocate, as no buffer for it could be had on a 32-bit system.
TEST_F(BuilderTest, FilesLargerThanMemoryPackInPiecesUpToTheirLimit) {
  QD_REQUIRE_TOOL(Prlimit);
#if defined(QD_ADDRESS_SANITIZER)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#elif defined(QDPACK_IMPLODE_CHECK)
  GTEST_SKIP() << "the checking build holds a file packed in pieces whole, to compare the streams";
#endif
  struct Case {
    std::uintmax_t size;
    int exitCode;
    const char* log;
  };
  for (const Case& c : {Case{std::uintmax_t{1} << 30, 0, ""}, Case{std::uintmax_t{5} << 30, 255, "Error allocating memory.\r\n"}}) {
    SCOPED_TRACE(c.size);
    WriteAll(tree() / "build/big.bin", {});
    fs::resize_file(tree() / "build/big.bin", c.size);
    ScriptParts parts;
    parts.files[1] = "big.bin,build\\big.bin";
    tree().WriteScript(parts);
    const RunResult result = tree().BuildLimited("--as=" + std::to_string(256u << 20));
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(tree().Log(), c.log);
    if (c.exitCode != 0) continue;
    // The source's item unpacks to its zeros.
    const PackageView view = ReadPackage(tree() / EnginePackage);
    ASSERT_EQ(view.items.size(), 3u);
    std::vector<std::uint8_t> unpacked(c.size + 1, 1);
    EXPECT_EQ(DecompressToMemory(unpacked.data(), static_cast<std::uint32_t>(unpacked.size()),
                                 view.bytes.data() + view.items[2].begin,
                                 static_cast<std::uint32_t>(view.items[2].end - view.items[2].begin)),
              static_cast<std::int32_t>(c.size));
    EXPECT_EQ(static_cast<std::uintmax_t>(std::count(unpacked.begin(), unpacked.end() - 1, 0)), c.size);
  }
}

TEST_F(BuilderTest, LongPathsInLogLinesAreCutAndKeepTheirLineEnd) {
  const std::string longSource = "build\\" + std::string(300, 'g') + ".bin";
  ScriptParts parts;
  parts.files = {"engine.dll,build\\engine.dll", "x," + longSource, "payload.bin,build\\payload.bin"};
  tree().WriteScript(parts);
  ASSERT_EQ(tree().Build().exitCode, 0) << tree().Log();
  // The value is cut to 259 characters when it is read; the line keeps its
  // fixed text and its line end and cuts the path to fit 259 characters.
  const std::string source = ("x," + longSource).substr(0, 259).substr(2);
  const std::string head = "Warning: ";
  const std::string end = " not found, removing from .ini file\r\n";
  const std::string expected = head + source.substr(0, 259 - head.size() - end.size()) + end;
  EXPECT_EQ(expected.size(), 259u);
  EXPECT_EQ(tree().Log(), expected);
}

}  // namespace
}  // namespace qd::test
