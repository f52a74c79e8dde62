//===- profile_test.cpp - Private-profile reading and rewriting -------------===//
//
// The rules of the platform's private-profile functions, as our own reader and
// writer apply them (the wine tests compare both with the platform itself).
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "profile/profile.h"
#include "support/files.h"

namespace qd {
namespace {

using namespace std::string_literals;
using platform::ReadProfileString;
using platform::WriteProfileString;
using test::Utf16;

const std::string Long300(300, 'x');
const std::string Long259(259, 'x');

struct ReadCase {
  const char* behaviour;
  std::string file;
  std::string section;
  std::string key;
  std::string fallback;
  std::string expected;
};

TEST(ProfileRead, FindsValuesByThePlatformsRules) {
  const std::vector<ReadCase> cases = {
      {"sections and keys ignore case", "[CMD]\r\nLang=ENU\r\n", "cmd", "LANG", "@", "ENU"},
      {"blanks around key and value are trimmed", "[A]\r\n  key \t=\t value  \r\n", "A", "key", "@",
       "value"},
      {"blanks around the requested names are trimmed", "[A]\r\nkey=v\r\n", " A\t", " key ", "@", "v"},
      {"a value is cut to 259 characters", "[A]\r\nk=" + Long300 + "\r\n", "A", "k", "@", Long259},
      {"a missing key gives the fallback", "[A]\r\nk=v\r\n", "A", "other", "@", "@"},
      {"a missing section gives the fallback", "[A]\r\nk=v\r\n", "B", "k", "dflt", "dflt"},
      {"a key without '=' gives the fallback", "[A]\r\nk\r\n", "A", "k", "@", "@"},
      {"an empty value is not absent", "[A]\r\nk=\r\n", "A", "k", "@", ""},
      {"double quotes around a value are dropped", "[A]\r\nk = \" a b \" \r\n", "A", "k", "@", " a b "},
      {"single quotes around a value are dropped", "[A]\r\nk='q'\r\n", "A", "k", "@", "q"},
      {"unmatched quotes stay", "[A]\r\nk='q\"\r\n", "A", "k", "@", "'q\""},
      {"a lone quote stays", "[A]\r\nk=\"\r\n", "A", "k", "@", "\""},
      {"the first of repeated keys counts", "[A]\r\nk=1\r\nK=2\r\n", "A", "k", "@", "1"},
      {"only the first of repeated sections is searched", "[A]\r\nk=1\r\n[a]\r\nj=2\r\n", "A", "j", "@",
       "@"},
      {"comment lines are plain entries", "[A]\r\n; note = 1\r\n", "A", "; note", "@", "1"},
      {"a value keeps its own '='", "[A]\r\nk=a=b\r\n", "A", "k", "@", "a=b"},
      {"line feeds alone end lines", "[A]\nk=1\nj=2", "A", "j", "@", "2"},
      {"carriage returns alone end lines", "[A]\rk=1\rj=2\r", "A", "j", "@", "2"},
      {"the last line needs no line end", "[A]\r\nk=last", "A", "k", "@", "last"},
      {"a heading is trimmed inside its brackets", "  [ A B ] trailing\r\nk=1\r\n", "a b", "k", "@", "1"},
      {"a heading ends at its last bracket", "[x]]\r\nk=1\r\n", "x]", "k", "@", "1"},
      {"a '[' line without ']' is an entry", "[A]\r\n[B\r\nk=1\r\n", "A", "k", "@", "1"},
      {"entries before any heading form an unnamed section", "top=1\r\n[A]\r\n", "", "top", "@", "1"},
      {"VT, FF and ^Z are blanks too", "[A]\r\nk=\v1\f\x1A\r\n", "A", "k", "@", "1"},
      {"a UTF-8 byte-order mark is skipped", "\xEF\xBB\xBF[A]\r\nk=1\r\n", "A", "k", "@", "1"},
      {"the fallback loses its trailing spaces", "", "A", "k", "def  ", "def"},
      {"a fallback of spaces keeps one", "", "A", "k", "   ", " "},
      {"quotes around the fallback are dropped", "", "A", "k", "\"q\"", "q"},
      {"the fallback is cut to 259 characters", "", "A", "k", Long300, Long259},
  };
  test::ScratchDir dir;
  const auto path = dir / "script.ini";
  for (const ReadCase& c : cases) {
    test::WriteText(path, c.file);
    EXPECT_EQ(ReadProfileString(c.section, c.key, c.fallback, path.string()), c.expected)
        << c.behaviour;
    // Keys read together read as each alone.
    const std::string keys[] = {c.key, "absent", c.key};
    const std::vector<std::string> together = {
        c.expected, ReadProfileString(c.section, "absent", c.fallback, path.string()), c.expected};
    EXPECT_EQ(platform::ReadProfileStrings(c.section, keys, c.fallback, path.string()), together) << c.behaviour;
  }
}

// A script's diagnostics name lines as an editor numbers them: a CR LF pair
// ends one line, a lone CR or LF one each, and blank lines count.
TEST(ProfileText, NumbersLinesAsAnEditorDoes) {
  const struct {
    const char* behaviour;
    std::string file;
    std::size_t heading;
    std::size_t entry;  // of the key "j"
  } cases[] = {
      {"CR LF", "[A]\r\nk=1\r\n\r\nj=2\r\n", 1, 4},
      {"LF", "\n[A]\nk=1\n\nj=2", 2, 5},
      {"CR", "[A]\rk=1\r\rj=2", 1, 4},
      {"LF then CR is two line ends", "[A]\n\rj=2", 1, 3},
      {"UTF-16 counts its characters' lines", Utf16(u"[A]\r\n\r\nk=\u4E2D\r\nj=2"), 1, 4},
      {"a UTF-8 mark starts line 1", "\xEF\xBB\xBF[A]\nj=2", 1, 2},
  };
  for (const auto& c : cases) {
    const profile::Profile parsed = profile::Parse(c.file);
    const profile::Section* section = profile::FindSection(parsed, "A");
    ASSERT_NE(section, nullptr) << c.behaviour;
    EXPECT_EQ(section->line, c.heading) << c.behaviour;
    const profile::Entry* entry = profile::FindEntry(*section, "j");
    ASSERT_NE(entry, nullptr) << c.behaviour;
    EXPECT_EQ(entry->line, c.entry) << c.behaviour;
  }
}

TEST(ProfileRead, QuotedValueOfFullLengthKeepsAllItsCharacters) {
  test::ScratchDir dir;
  test::WriteText(dir / "s.ini", "[A]\r\nk=\"" + Long259 + "\"\r\n");
  EXPECT_EQ(ReadProfileString("A", "k", "@", (dir / "s.ini").string()), Long259);
}

TEST(ProfileRead, MissingFileGivesTheFallback) {
  test::ScratchDir dir;
  EXPECT_EQ(ReadProfileString("A", "k", "@", (dir / "none.ini").string()), "@");
  EXPECT_EQ(ReadProfileString("A", "k", "@", dir.path().string()), "@") << "a directory";
}

TEST(ProfileRead, BackslashesInThePathSeparateDirectories) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir / "sub");
  test::WriteText(dir / "sub" / "s.ini", "[A]\r\nk=found\r\n");
  std::string windowsStyle = dir.path().string() + "\\sub\\s.ini";
  EXPECT_EQ(ReadProfileString("A", "k", "@", windowsStyle), "found");
}

TEST(ProfileFile, ABareNameNamesNoFileOfTheCurrentDirectory) {
  test::ScratchDir dir;
  test::WriteText(dir / "SetupQd.ini", "[A]\r\nk=here\r\n");
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(ReadProfileString("A", "k", "@", "SetupQd.ini"), "@");
  EXPECT_FALSE(WriteProfileString("A", "k", "new", "SetupQd.ini"));
  EXPECT_EQ(ReadProfileString("A", "k", "@", "./SetupQd.ini"), "here");
  std::filesystem::current_path(previous);
  EXPECT_EQ(test::ReadText(dir / "SetupQd.ini"), "[A]\r\nk=here\r\n");
}

// One write (a value) or deletion (nullopt).
struct Write {
  std::string section;
  std::string key;
  std::optional<std::string> value;
};

struct WriteCase {
  const char* behaviour;
  std::optional<std::string> file;  // nullopt: no file at first
  std::vector<Write> writes;
  std::optional<std::string> expected;  // nullopt: still no file
};

const std::string Script =
    "[In]\r\nQdFileName = QdPack.exe\r\n\r\n[Files]\r\nFile01 = a.dll,   a.dll\r\nFile02 = b.exe, "
    "b.exe\r\n\r\n[CMD]\r\nTitle = T\r\n";

TEST(ProfileWrite, RewritesTheFileAsThePlatformDoes) {
  const std::vector<WriteCase> cases = {
      {"a replaced value normalises every line and drops blank lines",
       Script,
       {{"Files", "File01", "x.dll, x.dll"}},
       "[In]\r\nQdFileName=QdPack.exe\r\n[Files]\r\nFile01=x.dll, x.dll\r\nFile02=b.exe, "
       "b.exe\r\n[CMD]\r\nTitle=T\r\n"},
      {"a deleted key loses its line",
       Script,
       {{"files", "FILE01", std::nullopt}},
       "[In]\r\nQdFileName=QdPack.exe\r\n[Files]\r\nFile02=b.exe, b.exe\r\n[CMD]\r\nTitle=T\r\n"},
      {"a section emptied by deletion keeps its heading",
       "[A]\r\nk=1\r\n[B]\r\nx=1\r\n",
       {{"B", "x", std::nullopt}},
       "[A]\r\nk=1\r\n[B]\r\n"},
      {"a new key goes to the end of its own section",
       Script,
       {{"Files", "File03", "c, c"}},
       "[In]\r\nQdFileName=QdPack.exe\r\n[Files]\r\nFile01=a.dll,   a.dll\r\nFile02=b.exe, "
       "b.exe\r\nFile03=c, c\r\n[CMD]\r\nTitle=T\r\n"},
      {"a new section goes to the end of the file",
       "[A]\r\nk=1",
       {{"B", "j", "2"}},
       "[A]\r\nk=1\r\n[B]\r\nj=2\r\n"},
      {"a replaced key keeps the spelling it has in the file",
       "[Files]\r\nFile01=a\r\n",
       {{"FILES", "file01", "b"}},
       "[Files]\r\nFile01=b\r\n"},
      {"the value's leading blanks are dropped, its trailing ones kept",
       "[A]\r\nk=1\r\n",
       {{"A", "k", " \t v "}},
       "[A]\r\nk=v \r\n"},
      {"writing the value a key already has leaves the file untouched",
       "[A]\r\n k = v \r\n\r\n",
       {{"A", "k", "v"}},
       "[A]\r\n k = v \r\n\r\n"},
      {"deleting an absent key leaves the file untouched",
       "[A]\n k = v \n",
       {{"A", "other", std::nullopt}, {"Z", "k", std::nullopt}},
       "[A]\n k = v \n"},
      {"line feeds become CR LF and comments survive",
       "; about\n[A]\nk=1\n",
       {{"A", "k", "2"}},
       "; about\r\n[A]\r\nk=2\r\n"},
      {"a key without '=' gets its value in place",
       "[A]\r\nflag\r\nk=1\r\n",
       {{"A", "flag", "on"}},
       "[A]\r\nflag=on\r\nk=1\r\n"},
      {"only the first of repeated sections gets a new key",
       "[A]\r\nk=1\r\n[a]\r\nj=2\r\n",
       {{"A", "n", "3"}},
       "[A]\r\nk=1\r\nn=3\r\n[a]\r\nj=2\r\n"},
      {"deletion finds its key in a repeated section",
       "[A]\r\nk=1\r\n[a]\r\nj=2\r\n",
       {{"A", "j", std::nullopt}},
       "[A]\r\nk=1\r\n[a]\r\n"},
      {"a byte-order mark stays",
       "\xEF\xBB\xBF[A]\r\nk=1\r\n",
       {{"A", "k", "2"}},
       "\xEF\xBB\xBF[A]\r\nk=2\r\n"},
      {"a UTF-16 file stays UTF-16, characters beyond the code page included",
       Utf16(u"[Files]\r\nFile01=a,b\r\nFile02=c,d\r\n[T]\r\nt=\u4E2D\r\n"),
       {{"Files", "File01", "\xE9,e"}, {"Files", "File02", std::nullopt}},
       Utf16(u"[Files]\r\nFile01=\u00E9,e\r\n[T]\r\nt=\u4E2D\r\n")},
      {"a UTF-8 file with its mark stays UTF-8",
       "\xEF\xBB\xBF[T]\r\nt=\xE4\xB8\xAD\r\n",
       {{"T", "u", "\x80"}},
       "\xEF\xBB\xBF[T]\r\nt=\xE4\xB8\xAD\r\nu=\xE2\x82\xAC\r\n"},
      {"what follows a NUL is not written back",
       "[A]\r\nk=ab\0cd\r\nn\0m=3\r\nj=1\r\n"s,
       {{"A", "j", "2"}},
       "[A]\r\nk=ab\r\nn=3\r\nj=2\r\n"},
      {"a write creates a missing file", std::nullopt, {{"S", "k", "v"}, {"T", "j", "w"}},
       "[S]\r\nk=v\r\n[T]\r\nj=w\r\n"},
      {"a deletion does not create a missing file", std::nullopt, {{"S", "k", std::nullopt}},
       std::nullopt},
  };
  for (const WriteCase& c : cases) {
    test::ScratchDir dir;
    const auto path = dir / "script.ini";
    if (c.file) test::WriteText(path, *c.file);
    for (const Write& w : c.writes) {
      std::optional<std::string_view> value;
      if (w.value) value = *w.value;
      EXPECT_TRUE(WriteProfileString(w.section, w.key, value, path.string())) << c.behaviour;
    }
    ASSERT_EQ(std::filesystem::exists(path), c.expected.has_value()) << c.behaviour;
    if (c.expected) {
      EXPECT_EQ(test::ReadText(path), *c.expected) << c.behaviour;
    }
  }
}

TEST(ProfileWrite, ARewriteTakesTheFilesPlaceWholeAndKeepsItsLinkAndPermissions) {
  namespace fs = std::filesystem;
  test::ScratchDir dir;
  fs::create_directories(dir / "real");
  test::WriteText(dir / "real/s.ini", "[A]\r\nk=1\r\n");
  fs::permissions(dir / "real/s.ini", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real/s.ini", dir / "link.ini");
  ASSERT_TRUE(WriteProfileString("A", "k", "2", (dir / "link.ini").string()));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(test::ReadText(dir / "real/s.ini"), "[A]\r\nk=2\r\n");
  EXPECT_EQ(fs::status(dir / "real/s.ini").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), fs::directory_iterator()), 1)
      << "no temporary file is left beside it";
}

TEST(ProfileWrite, ARewriteKeepsAnEmptyHeadingAndTheEntriesUnderIt) {
  test::ScratchDir dir;
  const std::string path = (dir / "s.ini").string();
  test::WriteText(path, "[CMD]\r\n[]\r\nLANG=DEU\r\n");
  ASSERT_TRUE(WriteProfileString("Files", "File01", "a, a", path));
  EXPECT_EQ(test::ReadText(path), "[CMD]\r\n[]\r\nLANG=DEU\r\n[Files]\r\nFile01=a, a\r\n");
  EXPECT_EQ(ReadProfileString("CMD", "LANG", "@", path), "@");
}

TEST(ProfileWrite, WrittenValuesReadBack) {
  test::ScratchDir dir;
  const std::string path = (dir / "s.ini").string();
  ASSERT_TRUE(WriteProfileString("Files", "File01", "engine.dll,   ..\\build\\engine.dll", path));
  ASSERT_TRUE(WriteProfileString("Files", "File02", "setup.exe, setup.exe", path));
  ASSERT_TRUE(WriteProfileString("Files", "File01", std::nullopt, path));
  EXPECT_EQ(ReadProfileString("Files", "File01", "@", path), "@");
  EXPECT_EQ(ReadProfileString("FILES", "file02", "@", path), "setup.exe, setup.exe");
}

TEST(ProfileWrite, RefusesWhatCouldNotBeReadBackAndLeavesTheFile) {
  test::ScratchDir dir;
  const auto path = dir / "s.ini";
  const std::string original = "[A]\r\n k = 1 \r\n";
  test::WriteText(path, original);
  EXPECT_FALSE(WriteProfileString("A", "k", "two\r\nlines", path.string()));
  EXPECT_FALSE(WriteProfileString("A", "k=x", "1", path.string()));
  EXPECT_FALSE(WriteProfileString("A\n[B]", "k", "1", path.string()));
  EXPECT_EQ(test::ReadText(path), original);
}

TEST(ProfileWrite, FailsWhenTheFileCannotBeWritten) {
  test::ScratchDir dir;
  EXPECT_FALSE(WriteProfileString("A", "k", "v", (dir / "no" / "such" / "s.ini").string()));
  EXPECT_FALSE(WriteProfileString("A", "k", "v", dir.path().string())) << "a directory";
}

}  // namespace
}  // namespace qd
