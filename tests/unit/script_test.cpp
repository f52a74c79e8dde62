//===- script_test.cpp - The package script's values and file list ---------===//
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/script.h"
#include "support/files.h"

namespace qd {
namespace {

TEST(ScriptFileList, SplitsEntriesAtTheLastComma) {
  struct Case {
    const char* behaviour;
    std::string value;
    std::string destination;
    std::string source;
  };
  const std::vector<Case> cases = {
      {"plain entry", "engine.dll,..\\build\\engine.dll", "engine.dll", "..\\build\\engine.dll"},
      {"blanks and tabs before the source are dropped", "a.dll, \t \tsrc\\a.dll", "a.dll", "src\\a.dll"},
      {"blanks before the comma stay in the destination", "a.dll  ,a", "a.dll  ", "a"},
      {"blanks after the source stay", "a,b  ", "a", "b  "},
      {"a comma in the destination stays there", "one,two.dll, src.dll", "one,two.dll", "src.dll"},
      {"an empty source", "a.dll,", "a.dll", ""},
      {"an empty destination", ",src", "", "src"},
  };
  for (const Case& c : cases) {
    auto entry = SplitFileListEntry(c.value);
    ASSERT_TRUE(entry) << c.behaviour;
    EXPECT_EQ(entry->destination, c.destination) << c.behaviour;
    EXPECT_EQ(entry->source, c.source) << c.behaviour;
  }
}

TEST(ScriptFileList, EntryWithoutCommaIsASyntaxError) {
  EXPECT_FALSE(SplitFileListEntry("engine.dll"));
  EXPECT_FALSE(SplitFileListEntry(""));
}

TEST(ScriptFileList, KeysAreNumberedWithTwoDigits) {
  EXPECT_EQ(FileListKey(1), "File01");
  EXPECT_EQ(FileListKey(10), "File10");
  EXPECT_EQ(FileListKey(99), "File99");
  EXPECT_EQ(FileListKey(100), "File100");
}

std::string ListScript(const std::vector<int>& present) {
  std::string text = "[FILES]\r\n";
  for (int i : present) text += FileListKey(i) + " = d" + std::to_string(i) + ", s\r\n";
  return text;
}

TEST(ScriptFileList, ReadsFromFile01UpToTheFirstAbsentKey) {
  struct Case {
    const char* behaviour;
    std::string script;
    std::size_t expectedCount;
  };
  std::vector<int> all;
  for (int i = 1; i <= 100; ++i) all.push_back(i);
  const std::vector<Case> cases = {
      {"a gap ends the list", ListScript({1, 3}), 1},
      {"no File01 means an empty list", ListScript({2, 3}), 0},
      {"99 entries are read in full, a 100th never", ListScript(all), 99},
      {"a value starting with @ ends the list", "[Files]\r\nFile01=a,a\r\nFile02=@b,b\r\nFile03=c,c\r\n", 1},
      {"an empty value does not end the list", "[Files]\r\nFile01=\r\nFile02=b,b\r\n", 2},
      {"no script at all", "", 0},
  };
  test::ScratchDir dir;
  const auto path = dir / "SetupQd.ini";
  for (const Case& c : cases) {
    test::WriteText(path, c.script);
    std::vector<std::string> list = ReadFileList(path.string());
    EXPECT_EQ(list.size(), c.expectedCount) << c.behaviour;
  }
  test::WriteText(path, ListScript({1, 2}));
  EXPECT_EQ(ReadFileList(path.string()), (std::vector<std::string>{"d1, s", "d2, s"}));
}

TEST(ScriptValues, AValueStartingWithAtCountsAsAbsent) {
  test::ScratchDir dir;
  const auto path = dir / "SetupQd.ini";
  test::WriteText(path, "[cmd]\r\nlang = ENU\r\nFileName = @setup.exe\r\nTitle =\r\n");
  EXPECT_EQ(ReadScriptValue(script::CMD, script::LANG, path.string()), "ENU");
  EXPECT_EQ(ReadScriptValue(script::Cmd, script::LANG, path.string()), "ENU");
  EXPECT_TRUE(IsAbsent(ReadScriptValue(script::Cmd, script::FileName, path.string())));
  EXPECT_FALSE(IsAbsent(ReadScriptValue(script::Cmd, script::Title, path.string())));
  EXPECT_TRUE(IsAbsent(ReadScriptValue(script::Cmd, "Missing", path.string())));
  EXPECT_EQ(ReadScriptValue(script::Out, script::VersionFile, path.string(), ""), "");
}

}  // namespace
}  // namespace qd
