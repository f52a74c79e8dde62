//===- profile_crosscheck_test.cpp - Our profile files against the platform's -===//
//
// The same tricky scripts go through our reader and through the platform's
// GetPrivateProfileStringA (profile_probe.exe under wine); every value must
// agree. The same writes and deletions must leave byte-identical files.
//
// Unicode scripts (UTF-16 in either byte order, UTF-8 with its mark) and NUL
// characters are in, since a script saved on Windows may hold them.
//
// Left out on purpose, where our reader does the sound thing and wine does
// not: a quoted value of exactly 259 characters (wine drops its last
// character), section or key arguments with blanks around them in a write
// (wine keeps trailing blanks of a new section's name). Left out as well:
// characters of a Unicode script that Windows-1252 lacks but the platform
// maps to a look-alike letter (U+0100 to "A"), which we read as "?", and
// malformed UTF-8 after a UTF-8 mark.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/escape.h"
#include "support/files.h"
#include "support/process.h"

namespace qd::test {
namespace {

using namespace std::string_literals;

const std::string Probe = QDPACK_WIN64_DIR "/tests/wine/profile_probe.exe";

// One private-profile operation: a read (with its fallback), a write or a
// deletion.
struct Operation {
  enum Kind { Read, Write, Delete } kind;
  std::string section;
  std::string key;
  std::string text;  // the fallback of a read, the value of a write
};

// The operations to run on one file.
struct Batch {
  std::filesystem::path ini;
  std::vector<Operation> ops;
};

// Runs every batch through the platform under wine, in one run of the probe;
// for each batch one result line per operation ("r <value>" or "w <0|1>").
std::vector<std::vector<std::string>> RunOnPlatform(const std::vector<Batch>& batches) {
  ScratchDir dir;
  std::string script;
  for (const Batch& batch : batches) {
    script += "f\t" + Escape(WinePath(batch.ini.string())) + "\n";
    for (const Operation& op : batch.ops) {
      const char* kind = op.kind == Operation::Read ? "r" : op.kind == Operation::Write ? "w" : "d";
      script += std::string(kind) + "\t" + Escape(op.section) + "\t" + Escape(op.key);
      if (op.kind != Operation::Delete) script += "\t" + Escape(op.text);
      script += "\n";
    }
  }
  const auto opsFile = dir / "ops.txt";
  WriteText(opsFile, script);
  RunResult run = RunWine(Probe, {WinePath((dir / "unused.ini").string()), "-f", WinePath(opsFile.string())});
  EXPECT_EQ(run.exitCode, 0) << run.err;

  std::vector<std::vector<std::string>> results;
  std::string line;
  for (char c : run.out) {
    if (c != '\n') {
      line += c;
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "f") {
      results.emplace_back();
    } else if (!results.empty()) {
      results.back().push_back(line.size() >= 2 ? line.substr(0, 2) + Unescape(line.substr(2)) : line);
    }
    line.clear();
  }
  return results;
}

std::vector<std::string> RunOnOurs(const std::filesystem::path& ini, const std::vector<Operation>& ops) {
  std::vector<std::string> results;
  for (const Operation& op : ops) {
    if (op.kind == Operation::Read) {
      results.push_back("r " + platform::ReadProfileString(op.section, op.key, op.text, ini.string()));
      continue;
    }
    std::optional<std::string_view> value;
    if (op.kind == Operation::Write) value = op.text;
    bool ok = platform::WriteProfileString(op.section, op.key, value, ini.string());
    results.push_back(ok ? "w 1" : "w 0");
  }
  return results;
}

const std::string Long300(300, 'v');

struct Script {
  const char* name;
  std::string text;
};

const std::vector<Script> TrickyScripts = {
    {"a typical script",
     "[In]\r\nQdFileName = QdPack.exe\r\n\r\n[Out]\r\nOutputName = out\\Update%s.exe\r\n\r\n[Files]\r\n"
     "File01 = engine.dll,     ..\\build\\engine.dll\r\nFile02 = setup.exe,\t..\\build\\setup.exe\r\n\r\n"
     "[CMD]\r\nFileName = setup.exe\r\nTitle    = Qd Engine Setup\r\nLANG     = ENU\r\n\r\n[ENU]\r\n"
     "Msg02 = Welcome to\r\nMsg09 = &Next >\r\nErr04 = Installer not properly configured.\r\n"},
    {"comments, quotes and keys without '='",
     "; leading comment\r\n# hash = 1\r\n[A]\r\n; k = commented\r\nk = \"quoted\"\r\nj = 'single'\r\n"
     "q = \"half\r\nq2 = \" padded \" \r\nnoeq\r\nempty =\r\ntwice\r\ntwice = later\r\n"},
    {"repeated sections and keys",
     "[A]\r\nk=first\r\nk=second\r\n[a]\r\nk=third\r\nj=only-in-second\r\n[B]\r\nj=b\r\n[A]\r\nz=last\r\n"},
    {"line feeds only, no final newline", "[A]\nk = lf\n\n[B]\nj=1\nk=2"},
    {"carriage returns only and mixed ends", "[A]\rk=cr\r\n\n\r[B]\n\rj=2\r"},
    {"blanks, tabs and odd headings",
     "top = 1\r\n  \t[ A ]  trailing\t\r\n\tk\t=\t tabbed \t \r\nj=  \r\n[x]]\r\nk=bracket\r\n[B\r\nk=notsec\r\n"
     "[]\r\nk=empty-name\r\n"},
    {"long values and lines", "[A]\r\nk=" + Long300 + "\r\nq=\"" + Long300 + "\"\r\nj=" + std::string(259, 'w') +
                                  "\r\n"},
    {"case differences", "[cmd]\r\nlang=enu\r\nTITLE=T\r\n[Enu]\r\nERR04=e\r\n"},
    {"blank-like control characters", "[A]\r\nk=\v1\f\x1A\r\n\x1A[B]\r\nj=2\r\n"},
    {"a byte-order mark", "\xEF\xBB\xBF[A]\r\nk=bom\r\n"},
    {"an empty file", ""},
    {"UTF-16 with its mark",
     Utf16(u"[A]\r\nk=v\u00E9\u20AC\u4E2D\U0001F600x\r\nj = \"q\u00FC\" \r\n[\u00C9]\r\nk=e\r\n[B]\r\nj=b\r\n")},
    {"UTF-16 big-endian with its mark", Utf16(u"[A]\r\nk=v\u00E9\u20AC\r\n[Files]\r\nFile02=x,y\r\n", true)},
    {"UTF-8 with its mark and more than ASCII", "\xEF\xBB\xBF[A]\r\nk=v\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD\r\nj=\xC2\x81\r\n"},
    {"Windows-1252 bytes", "[A]\r\nk=v\xE9\x80\x81\xFF\r\n[\xC9]\r\nj=1\r\n"},
    {"UTF-16 without a mark", Utf16(u"[A]\r\nk=v\r\n").substr(2)},
    {"NUL characters",
     "[ B \0C ]\r\nj=x\r\n[A]\r\nk=ab\0cd\r\nj = x \0 y\r\nn\0m = 3\r\nq=\0\r\n\0lead=1\r\nz=a\0\r\n"s},
    {"NUL characters in UTF-16", Utf16(u"[A]\r\nk=ab\0cd\r\nn\0m=3\r\n"s)},
};

TEST(ProfileCrossCheck, ReadsGiveThePlatformsValues) {
  const std::vector<std::string> sections = {"A", "a", " A ", "B", "", "CMD", "cmd", "ENU", "Files",
                                             "x]", "[B", "Missing", "\xC9", "B "};
  const std::vector<std::string> keys = {"k", "K", " k ", "j", "q", "q2", "z", "noeq", "empty", "top", "LANG",
                                         "Title", "Err04", "File02", "; k", "# hash", "twice", "n", "lead"};
  std::vector<Operation> reads;
  for (const std::string& section : sections)
    for (const std::string& key : keys) reads.push_back({Operation::Read, section, key, "@"});
  const std::vector<std::string> fallbacks = {"", " ", "def  ", " def\t", "\"q\"", "'", Long300};
  for (const std::string& fallback : fallbacks) reads.push_back({Operation::Read, "Missing", "k", fallback});

  ScratchDir dir;
  std::vector<Batch> batches;
  for (std::size_t n = 0; n < TrickyScripts.size(); ++n) {
    batches.push_back({dir / ("script" + std::to_string(n) + ".ini"), reads});
    WriteText(batches.back().ini, TrickyScripts[n].text);
  }
  std::vector<std::vector<std::string>> platform = RunOnPlatform(batches);
  ASSERT_EQ(platform.size(), batches.size());
  for (std::size_t n = 0; n < batches.size(); ++n) {
    std::vector<std::string> ours = RunOnOurs(batches[n].ini, reads);
    ASSERT_EQ(platform[n].size(), reads.size()) << TrickyScripts[n].name;
    for (std::size_t i = 0; i < reads.size(); ++i) {
      EXPECT_EQ(ours[i], platform[n][i]) << TrickyScripts[n].name << ": [" << reads[i].section << "] "
                                         << reads[i].key << " default '" << reads[i].text << "'";
    }
  }
}

TEST(ProfileCrossCheck, WritesLeaveTheFileThePlatformLeaves) {
  struct Sequence {
    const char* name;
    std::optional<std::string> file;  // nullopt: no file at first
    std::vector<Operation> ops;
  };
  using O = Operation;
  const std::string list =
      "[In]\r\nQdFileName = QdPack.exe\r\n\r\n[Files]\r\nFile01 = a.dll, a.dll\r\n"
      "File02 = b.dll,\tmissing.dll\r\nFile03 = c.dll, c.dll\r\nFile04=d.dll,d.dll\r\n\r\n[CMD]\r\nTitle = T\r\n";
  const std::vector<Sequence> sequences = {
      {"the builder closing a gap in the list", list,
       {{O::Write, "Files", "File02", "c.dll, c.dll"}, {O::Write, "Files", "File03", "d.dll,d.dll"},
        {O::Delete, "Files", "File04", ""}, {O::Read, "Files", "File03", "@"}}},
      {"the builder removing the last entry", list, {{O::Delete, "Files", "File04", ""}}},
      {"deleting every entry", list,
       {{O::Delete, "files", "file01", ""}, {O::Delete, "FILES", "FILE02", ""}, {O::Delete, "Files", "File03", ""},
        {O::Delete, "Files", "File04", ""}}},
      {"new keys and sections in a messy file", TrickyScripts[1].text,
       {{O::Write, "A", "new", "1"}, {O::Write, "B", "k", "2"}, {O::Write, "a", "NOEQ", "set"},
        {O::Write, "A", "twice", "first"}, {O::Delete, "A", "twice", ""},
        {O::Write, "A", "empty", ""}}},
      {"writing the same value leaves the file alone", TrickyScripts[3].text, {{O::Write, "a", "K", "lf"}}},
      {"deleting absent keys leaves the file alone", TrickyScripts[5].text,
       {{O::Delete, "A", "none", ""}, {O::Delete, "None", "k", ""}}},
      {"repeated sections", TrickyScripts[2].text,
       {{O::Write, "A", "j", "added"}, {O::Delete, "A", "j", ""}, {O::Delete, "A", "j", ""},
        {O::Write, "A", "k", "changed"}}},
      {"values with blanks, tabs, quotes and length", TrickyScripts[0].text,
       {{O::Write, "CMD", "Title", "  padded  "}, {O::Write, "CMD", "LANG", "\t\"quoted\""},
        {O::Write, "ENU", "Msg02", Long300}, {O::Write, "ENU", "Msg09", "a=b"}}},
      // Without the heading "[]": the platform's rewrite drops it and moves its
      // entries into the section before, which ours does not (see the unit tests).
      {"line ends and odd headings",
       TrickyScripts[4].text + TrickyScripts[5].text.substr(0, TrickyScripts[5].text.find("[]")),
       {{O::Write, "x]", "k", "n"}, {O::Write, "", "top", "2"}, {O::Write, "B", "z", "3"}}},
      {"a byte-order mark", TrickyScripts[9].text, {{O::Write, "A", "k", "changed"}}},
      {"a UTF-16 script keeps its encoding and what the code page lacks",
       Utf16(u"[Files]\r\nFile01=a,b\r\nFile02=c,d\r\nFile03=e,f\r\n[T]\r\nt=\u4E2D\r\n"),
       {{O::Write, "Files", "File02", "\xE9,\x80"}, {O::Delete, "Files", "File03", ""}, {O::Write, "U", "u", "\xFF"},
        {O::Read, "Files", "File02", "@"}}},
      {"a UTF-16 big-endian script", TrickyScripts[12].text, {{O::Write, "Files", "File02", "z,z"}}},
      {"a UTF-8 script with its mark", TrickyScripts[13].text, {{O::Write, "A", "j", "\xE9"}}},
      {"Windows-1252 bytes as they stand", TrickyScripts[14].text, {{O::Write, "A", "k", "\x81\xE9"}}},
      {"what follows a NUL is lost on a rewrite",
       "[A]\r\nk=ab\0cd\r\nj = x \0 y\r\nn\0m = 3\r\nq=\0\r\nz=a\0\r\n"s, {{O::Write, "A", "k2", "2"}}},
      {"no file: writes create it", std::nullopt,
       {{O::Write, "Files", "File01", "a, a"}, {O::Write, "CMD", "Title", "T"}, {O::Write, "files", "File02", "b, b"}}},
      {"no file: a deletion creates nothing", std::nullopt, {{O::Delete, "Files", "File01", ""}}},
      {"an empty file", "", {{O::Write, "A", "k", "v"}}},
  };

  ScratchDir dir;
  std::vector<Batch> batches;
  for (std::size_t n = 0; n < sequences.size(); ++n) {
    batches.push_back({dir / ("platform" + std::to_string(n) + ".ini"), sequences[n].ops});
    if (sequences[n].file) WriteText(batches.back().ini, *sequences[n].file);
  }
  std::vector<std::vector<std::string>> platformResults = RunOnPlatform(batches);
  ASSERT_EQ(platformResults.size(), batches.size());

  for (std::size_t n = 0; n < sequences.size(); ++n) {
    const Sequence& sequence = sequences[n];
    const auto& theirs = batches[n].ini;
    const auto ours = dir / ("ours" + std::to_string(n) + ".ini");
    if (sequence.file) WriteText(ours, *sequence.file);
    std::vector<std::string> ourResults = RunOnOurs(ours, sequence.ops);
    EXPECT_EQ(ourResults, platformResults[n]) << sequence.name;
    ASSERT_EQ(std::filesystem::exists(ours), std::filesystem::exists(theirs)) << sequence.name;
    if (std::filesystem::exists(theirs)) {
      EXPECT_EQ(ReadText(ours), ReadText(theirs)) << sequence.name;
    }
  }
}

}  // namespace
}  // namespace qd::test
