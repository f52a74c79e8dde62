//===- codec_tool_test.cpp - The qdcodec command-line tool -------------------===//
#include <gtest/gtest.h>

#include <filesystem>

#include "codec_test_support.h"
#include "support/files.h"
#include "support/process.h"

namespace qd::test {
namespace {

const std::string Tool = QDPACK_BINARY_DIR "/tools/qdcodec";

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
}

TEST(CodecTool, ABadStreamGivesAMessageAndNoOutput) {
  ScratchDir dir;
  Bytes stream = Vector("text_1k.binary.large.exact");
  stream.resize(stream.size() / 2);
  WriteAll(dir / "cut.imp", stream);
  const RunResult result =
      test::Run(Tool, {"explode", (dir / "cut.imp").string(), (dir / "cut.out").string()});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("ends before its end-of-stream code"), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "cut.out"));
}

TEST(CodecTool, WrongUsageShowsHowToCallIt) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"implode", "a"}, {"implode", "--dict", "4000", "a", "b"},
        {"explode", "--ascii", "a", "b"}, {"squash", "a", "b"}}) {
    const RunResult result = test::Run(Tool, args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("usage: qdcodec"), std::string::npos);
  }
}

}  // namespace
}  // namespace qd::test
