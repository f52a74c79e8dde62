//===- script_check_test.cpp - qdpkg check and qdpkg new, as an author uses them ===//
//
// The usual mistakes of a package script, one row each: a script that is
// right but for the row's change, checked with "qdpkg check" in a tree laid
// out as the script expects (the stub, build\engine.dll, build\payload.bin,
// out\), must give exactly the row's diagnostics, with their lines. Then
// the starter script of "qdpkg new": wrong until its files exist, then
// clean, built, and verified.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <sstream>

#include "e2e/installer_support.h"
#include "e2e/parity_cases.h"

namespace qd::test {
namespace {

// A script that is right; the numbers are its lines.
const std::string Clean = std::string(
                              "[In]\r\n"                              // 1
                              "QdFileName=QdPack.exe\r\n"             // 2
                              "[Out]\r\n"                             // 3
                              "OutputName=out\\Update%s.exe\r\n"      // 4
                              "[Files]\r\n"                           // 5
                              "File01=engine.dll,build\\engine.dll\r\n"  // 6
                              "File02=setup.exe,build\\payload.bin\r\n"  // 7
                              "[CMD]\r\n"                             // 8
                              "FileName=setup.exe\r\n"                // 9
                              "Title=Qd Engine Setup\r\n"             // 10
                              "LANG=ENU\r\n") +                       // 11
                          std::string(DefaultTexts);                  // 12: [ENU]

// Clean with each `from` replaced by its `to`.
std::string Changed(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::string script = Clean;
  for (const auto& [from, to] : changes) {
    const std::size_t at = script.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) script.replace(at, from.size(), to);
  }
  return script;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

RunResult Qdpkg(const BuildTree& tree, const std::vector<std::string>& args) {
  RunOptions options;
  options.workingDirectory = tree.dir.path().string();
  return Run(QDPACK_QDPKG_EXE, args, options);
}

class ScriptCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
  }
};

TEST_F(ScriptCheck, NamesEachMistakeWithItsLine) {
  struct Case {
    const char* behaviour;
    std::string script;
    std::vector<std::string> diagnostics;  // each the start of a line, in order
  };
  // What a script says whose second entry, the setup program's, is not read.
  const std::string noSetup = "SetupQd.ini:9: error: FileName setup.exe names no file";
  const Case cases[] = {
      {"a right script, comments and all, passes",
       Changed({{"[Files]\r\n", "; the payload\r\n[Files]\r\n; File03=later.dll,x\r\n"}}), {}},
      {"[CDM] for [CMD]", Changed({{"[CMD]", "[CDM]"}}),
       {"SetupQd.ini: warning: [CMD] Title is missing (the script has no [CMD] section)",
        "SetupQd.ini: error: [CMD] LANG is missing (the script has no [CMD] section): an installer run with the "
        "dialog stops with error 4",
        "SetupQd.ini: error: [CMD] FileName is missing (the script has no [CMD] section)",
        "SetupQd.ini:8: warning: unknown section [CDM]: did you mean [CMD]?"}},
      {"File2 for File02", Changed({{"File02=", "File2="}}),
       {"SetupQd.ini:7: error: File2 is never read: the list's keys have two digits; did you mean File02?",
        noSetup + " of the [Files] list"}},
      {"File01, then File03 without File02", Changed({{"File02=", "File03="}}),
       {"SetupQd.ini:7: error: File03 is never read: the list ends at File01, as File02 is missing",
        noSetup + " of the [Files] list"}},
      {"a list key of three digits", Changed({{"File02=", "File100="}}),
       {"SetupQd.ini:7: error: File100 is never read: the list holds at most 99 entries", noSetup}},
      {"a misspelt list key", Changed({{"File02=", "Fiel02="}}),
       {"SetupQd.ini:7: warning: unknown key Fiel02 in [Files]: did you mean File02?", noSetup}},
      {"a destination with a folder part", Changed({{"File02=setup.exe", "File02=bin\\setup.exe"}}),
       {"SetupQd.ini:7: error: File02's destination bin\\setup.exe is not a plain file name (it has a drive, a root "
        "or a folder part): the installer refuses the package (error 3)", noSetup}},
      {"a device name as destination and setup program",
       Changed({{"File02=setup.exe", "File02=con.exe"}, {"FileName=setup.exe", "FileName=con.exe"}}),
       {"SetupQd.ini:7: error: File02's destination con.exe is a device name that Windows reserves",
        "SetupQd.ini:9: error: FileName con.exe names the program con.exe, which is a device name that Windows "
        "reserves: the installer stops with error 4"}},
      {"a destination listed twice", Changed({{"[CMD]", "File03=ENGINE.DLL.,build\\payload.bin\r\n[CMD]"}}),
       {"SetupQd.ini:8: error: File03's destination ENGINE.DLL. names the same file as File01 (line 6)"}},
      {"the script's own name as destination", Changed({{"[CMD]", "File03=setupqd.ini,build\\payload.bin\r\n[CMD]"}}),
       {"SetupQd.ini:8: error: File03's destination setupqd.ini is the name of the installer's own script"}},
      {"an entry without a comma", Changed({{"File02=setup.exe,build\\payload.bin", "File02=setup.exe"}}),
       {"SetupQd.ini:7: error: File02 has no comma between its destination and its source: the builder stops",
        noSetup}},
      {"no [Cmd] FileName", Changed({{"FileName=setup.exe\r\n", ""}}),
       {"SetupQd.ini:8: error: [CMD] FileName is missing: the installer has no setup program to run (error 4)"}},
      {"a FileName that is not among the destinations", Changed({{"FileName=setup.exe", "FileName=install.exe"}}),
       {"SetupQd.ini:9: error: FileName install.exe names no file of the [Files] list"}},
      {"a FileName outside the work directory", Changed({{"FileName=setup.exe", "FileName=..\\setup.exe /q"}}),
       {"SetupQd.ini:9: error: FileName ..\\setup.exe /q names the program ..\\setup.exe, which is not a plain file "
        "name"}},
      {"a FileName with arguments runs its listed program", Changed({{"FileName=setup.exe", "FileName=setup /q"}}),
       {}},
      {"texts missing for LANG", Changed({{"Msg05=The Qd Engine has been installed.\r\n", ""},
                                          {"Err08=Error: no temporary files.\r\n", ""}}),
       {"SetupQd.ini:12: warning: [ENU] has no Msg05: the dialog shows \"@\" in its place",
        "SetupQd.ini:12: warning: [ENU] has no Err08: error 8 shows \"@\""}},
      {"LANG naming a section the script lacks", Changed({{"LANG=ENU", "LANG=DEU"}}),
       {"SetupQd.ini:11: error: LANG names [DEU], which the script does not have"}},
      {"no LANG", Changed({{"LANG=ENU\r\n", ""}}),
       {"SetupQd.ini:8: error: [CMD] LANG is missing: an installer run with the dialog stops with error 4"}},
      {"a first file without a version", Changed({{"build\\engine.dll", "build\\payload.bin"}}),
       {"SetupQd.ini:6: error: the first file, build\\payload.bin, has no version resource: the builder cannot name "
        "the package, and the installer refuses it (error 3)"}},
      {"a first file that is missing", Changed({{"build\\engine.dll", "build\\missing.dll"}}),
       {"SetupQd.ini:6: error: the first file, build\\missing.dll, is not found (from the current directory)"}},
      {"a later source that is missing", Changed({{"build\\payload.bin", "build\\gone.bin"}}),
       {"SetupQd.ini:7: warning: File02's source build\\gone.bin is not found (from the current directory): the "
        "builder drops the entry",
        "SetupQd.ini:9: error: FileName setup.exe runs File02, whose source is not found"}},
      {"a missing stub", Changed({{"QdFileName=QdPack.exe", "QdFileName=Stub.exe"}}),
       {"SetupQd.ini:2: error: the stub Stub.exe is not found (from the current directory): the builder stops"}},
      {"an output folder that does not exist", Changed({{"out\\Update", "dist\\Update"}}),
       {"SetupQd.ini:4: error: the folder dist does not exist"}},
      {"an output pattern the builder does not take", Changed({{"Update%s.exe", "Update%d.exe"}}),
       {"SetupQd.ini:4: error: OutputName out\\Update%d.exe is no name the builder takes"}},
      {"a misspelt key, with the one meant", Changed({{"Title=", "Tilte="}}),
       {"SetupQd.ini:8: warning: [CMD] Title is missing: the dialog shows \"@\" for the title",
        "SetupQd.ini:10: warning: unknown key Tilte in [CMD]: did you mean Title?"}},
      {"a key in the wrong section", Changed({{"Title=", "Titel="}, {"[In]\r\n", "[In]\r\nTitle=x\r\n"}}),
       {"SetupQd.ini:2: warning: Title is a key of [CMD], not of [In]: it is not read here",
        "SetupQd.ini:9: warning: [CMD] Title is missing", "SetupQd.ini:11: warning: unknown key Titel in [CMD]"}},
      {"a section given twice", Changed({{"[ENU]", "[Cmd]\r\nFileName=other.exe\r\n[ENU]"}}),
       {"SetupQd.ini:12: warning: [Cmd] again: only the first [Cmd], at line 8, is read, so no key here is"}},
      {"Windows-1252 text without a byte-order mark",
       Changed({{"Title=Qd Engine Setup", "Title=Qd Engine f\xFCr Sie"}}),
       {"SetupQd.ini:10: warning: text outside ASCII in a script without a byte-order mark is read as Windows-1252: "
        "if that is not its encoding"}},
      {"UTF-8 text without a byte-order mark", Changed({{"Title=Qd Engine Setup", "Title=Qd Engine f\xC3\xBCr Sie"}}),
       {"SetupQd.ini:10: warning: text outside ASCII in a script without a byte-order mark is read as Windows-1252; "
        "this looks like UTF-8"}},
      {"UTF-8 text with a byte-order mark", "\xEF\xBB\xBF" + Changed({{"Qd Engine Setup", "Qd Engine f\xC3\xBCr Sie"}}),
       {}},
      {"UTF-16 keeps its lines", Utf16Script(Changed({{"File02=", "File2="}})),
       {"SetupQd.ini:7: error: File2 is never read", noSetup}},
  };
  BuildTree tree;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    WriteText(tree / "SetupQd.ini", c.script);
    const RunResult run = Qdpkg(tree, {"check", "SetupQd.ini"});
    const bool errors = std::any_of(c.diagnostics.begin(), c.diagnostics.end(),
                                    [](const std::string& d) { return d.find(": error: ") != std::string::npos; });
    EXPECT_EQ(run.exitCode, errors ? 1 : 0) << run.out << run.err;
    std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    lines.pop_back();  // the count
    ASSERT_EQ(lines.size(), c.diagnostics.size()) << run.out;
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_TRUE(lines[i].starts_with(c.diagnostics[i])) << lines[i];
  }
}

TEST_F(ScriptCheck, TheStarterScriptPassesOnceItsFilesExistAndBuildsAPackage) {
  BuildTree tree;
  fs::remove(tree / "QdPack.exe");
  fs::remove_all(tree / "out");
  const RunResult made = Qdpkg(tree, {"new", "Setup.ini"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(Qdpkg(tree, {"new", "Setup.ini"}).exitCode, 1) << "an existing script is never replaced";
  const std::string starter = ReadText(tree / "Setup.ini");
  for (const char* key : {"Msg02", "Msg14", "Err02", "Err09"}) EXPECT_NE(starter.find(key), std::string::npos) << key;

  const RunResult before = Qdpkg(tree, {"check", "Setup.ini"});
  EXPECT_EQ(before.exitCode, 1);
  EXPECT_NE(before.out.find("the stub QdPack.exe is not found"), std::string::npos) << before.out;
  EXPECT_NE(before.out.find("the folder out does not exist"), std::string::npos) << before.out;

  fs::copy_file(StubSource(), tree / "QdPack.exe");
  fs::create_directory(tree / "out");
  fs::copy_file(tree / "build/payload.bin", tree / "build/setup.exe");
  const RunResult after = Qdpkg(tree, {"check", "Setup.ini"});
  EXPECT_EQ(after.exitCode, 0) << after.out;
  EXPECT_EQ(after.out, "Setup.ini: no errors, no warnings\n");

  ASSERT_EQ(tree.Build({"/m", "Setup.ini"}).exitCode, 0) << tree.Log();
  const RunResult verify = Qdpkg(tree, {"verify", std::string(EnginePackage)});
  EXPECT_EQ(verify.exitCode, 0) << verify.out;
}

}  // namespace
}  // namespace qd::test
