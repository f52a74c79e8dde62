//===- codec_tool_test.cpp - The qdcodec command-line tool -------------------===//
#include <gtest/gtest.h>

#include <filesystem>

#include "codec_test_support.h"
#include "support/files.h"
#include "support/process.h"

namespace qd::test {
namespace {

namespace fs = std::filesystem;

const std::string Tool = QDPACK_BINARY_DIR "/tools/qdcodec";

bool Mentions(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

TEST(CodecTool, ImplodesWithTheChosenSettingsAndExplodesBack) {
  ScratchDir dir;
  const auto packed = dir / "text.imp";
  const auto unpacked = dir / "text.out";
  const std::string input = (VectorDir() / "cross_8708.bin").string();
  struct Case {
    std::vector<std::string> options;
    const char* exact;
  };
  for (const Case& c : {Case{{}, "cross_8708.binary.large.exact"},
                        Case{{"--ascii", "--dict", "2048"}, "cross_8708.ascii.medium.exact"},
                        Case{{"--dict", "1024"}, "cross_8708.binary.small.exact"}}) {
    std::vector<std::string> args = {"implode"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {input, packed.string()});
    ASSERT_EQ(test::Run(Tool, args).exitCode, 0) << c.exact;
    EXPECT_TRUE(ReadAll(packed) == Vector(c.exact)) << c.exact;
    const RunResult back = test::Run(Tool, {"explode", packed.string(), unpacked.string()});
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_TRUE(ReadAll(unpacked) == Vector("cross_8708.bin")) << c.exact;
  }
  // Larger than the tool's buffers, and through a link to where nothing is yet.
  const Bytes large = corpus::Mixed(3'000'000, 9);
  WriteAll(dir / "large.bin", large);
  fs::create_symlink("large.out", dir / "link.out");
  ASSERT_EQ(test::Run(Tool, {"implode", (dir / "large.bin").string(), packed.string()}).exitCode, 0);
  ASSERT_EQ(test::Run(Tool, {"explode", packed.string(), (dir / "link.out").string()}).exitCode, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.out"));
  EXPECT_TRUE(ReadAll(dir / "large.out") == large);
}

// The names a user may give the input again as the output.
TEST(CodecTool, RefusesToWriteOverItsInputUnderAnyName) {
  ScratchDir dir;
  const Bytes stream = Vector("text_1k.binary.large.exact");
  WriteAll(dir / "in.imp", stream);
  fs::create_hard_link(dir / "in.imp", dir / "hard.imp");
  fs::create_symlink("in.imp", dir / "soft.imp");
  fs::create_directory(dir / "sub");
  const std::string in = (dir / "in.imp").string();
  for (const std::string& out : {in, (dir / "hard.imp").string(), (dir / "soft.imp").string(),
                                 (dir / "sub/../in.imp").string()}) {
    for (const char* command : {"implode", "explode"}) {
      const RunResult result = test::Run(Tool, {command, in, out});
      EXPECT_EQ(result.exitCode, 1) << command << " " << out;
      EXPECT_TRUE(Mentions(result.err, "are the same file")) << result.err;
      EXPECT_TRUE(ReadAll(dir / "in.imp") == stream) << command << " " << out;
    }
  }
  // Reading through a link is fine when the output is another file.
  EXPECT_EQ(test::Run(Tool, {"explode", (dir / "soft.imp").string(), (dir / "out").string()}).exitCode, 0);
}

// A run that fails leaves the earlier output as it was and nothing beside it.
TEST(CodecTool, AFailedRunLeavesTheOldOutputAndNoPartialFile) {
  ScratchDir dir;
  Bytes cut = Vector("mixed_300k.binary.large.exact");
  cut.resize(cut.size() / 2);
  WriteAll(dir / "cut.imp", cut);
  WriteAll(dir / "big.bin", Vector("mixed_300k.bin"));
  WriteText(dir / "out", "earlier output");
  struct Case {
    const char* what;
    std::string command;
    const char* message;
  };
  const std::string tool = "'" + Tool + "' ";
  for (const Case& c :
       {Case{"a cut stream", tool + "explode cut.imp out", "ends before its end-of-stream code"},
        Case{"a missing input", tool + "implode none.bin out", "cannot open none.bin"},
        Case{"a full disk", "exec prlimit --fsize=20000 -- " + tool + "implode big.bin out",
             "cannot write out"}}) {
    RunOptions options;
    options.workingDirectory = dir.path().string();
    const RunResult result = test::Run("/bin/sh", {"-c", c.command}, options);
    EXPECT_EQ(result.exitCode, 1) << c.what;
    EXPECT_TRUE(Mentions(result.err, c.message)) << c.what << ": " << result.err;
    EXPECT_EQ(ReadText(dir / "out"), "earlier output") << c.what;
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 3u) << c.what;
  }
}

TEST(CodecTool, AnswersHelpAndVersionAndRefusesWrongUsage) {
  const RunResult help = test::Run(Tool, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(Mentions(help.out, "implode") && Mentions(help.out, "explode")) << help.out;
  const RunResult implodeHelp = test::Run(Tool, {"implode", "--help"});
  EXPECT_EQ(implodeHelp.exitCode, 0);
  EXPECT_TRUE(Mentions(implodeHelp.out, "--dict")) << implodeHelp.out;
  const RunResult version = test::Run(Tool, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "qdcodec " QDPACK_VERSION "\n");

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"implode", "a"}, {"implode", "--dict", "4000", "a", "b"},
        {"explode", "--ascii", "a", "b"}, {"squash", "a", "b"}, {"explode", "a", "b", "c"}}) {
    const RunResult result = test::Run(Tool, args);
    EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
    EXPECT_TRUE(Mentions(result.err, "qdcodec: ") && Mentions(result.err, "--help")) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
}

}  // namespace
}  // namespace qd::test
