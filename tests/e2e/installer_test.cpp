//===- installer_test.cpp - The native build installs packages -----------------===//
//
// Runs the installer of the native build over packages ("exec -a package
// qdpack /h", or without "/h" through the dialog on the terminal, answered
// by keys on standard input), as root (the rights an installer needs), and
// checks each outcome: exit code, what the run showed, what the setup
// program was given, and what stayed in the work directory. The same cases
// run under wine in the Windows tests.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/installer_support.h"
#include "installer/installer.h"
#include "platform/posix/command_line.h"
#include "startup/startup.h"
#include "support/file_faults.h"
#include "support/in_process.h"
#include "support/tools.h"

namespace qd::test {
namespace {

class NativeInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
    if (::geteuid() != 0) GTEST_SKIP() << "installing needs an administrator: run the tests as root";
  }
};

TEST_F(NativeInstall, SilentRunsEndAsTheirSetupProgramOrErrorSays) {
  ExpectInstalls(Installer::Native, SilentRunCases());
}

TEST_F(NativeInstall, DialogRunsEndAsTheUserAnswers) {
  std::vector<InstallCase> cases = DialogRunCases();
  cases.push_back({.behaviour = "a restart agreed to ends with 3010, removes the files, and asks for the restart",
                   .args = {}, .answers = {Answer::Next, Answer::Next, Answer::Yes}, .setupExit = 3010,
                   .exitCode = 3010, .setupArgs = "/NOSHARECOUNT", .shown = {"does not restart the system"}});
  ExpectInstalls(Installer::Native, cases);
}

// Every state of the dialog as the terminal draws it: caption, heading,
// introduction, status, the progress bar while it shows, and the buttons
// with their captions, states and keys.
TEST_F(NativeInstall, TheTerminalDrawsEachStateOfTheDialog) {
  InstallTree tree(Installer::Native);
  const InstallCase c{.behaviour = "walk", .args = {}, .answers = {Answer::Next, Answer::Next}};
  tree.Compose(c);
  const std::string top =
      "\n=== Qd Engine Setup ===\nWelcome to Qd Engine Setup\nThis wizard installs the Qd Engine.\n";
  const std::string busy = "Buttons: < Back (disabled) | Next > (disabled) | Cancel (disabled)\n";
  EXPECT_EQ(tree.Install(c).report,
            top + "Press Next to install the Qd Engine.\n"
                  "Buttons: < Back (disabled) | Next > (Enter) | Cancel (Esc or c)\n" +
            top + "Unpacking the files...\n[#####---------------] 25%\n" + busy +
            top + "Running the setup program...\n[##########----------] 50%\n" + busy +
            top + "The Qd Engine has been installed.\n[####################] 100%\n"
                  "Buttons: < Back (disabled) | Finish (Enter) | Cancel (disabled)\n");
}

TEST_F(NativeInstall, TheTerminalTakesItsKeysFromStandardInput) {
  const std::vector<InstallCase> cases = {
      {.behaviour = "c cancels", .args = {}, .keys = "c", .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini"}},
      {.behaviour = "other keys, and a cursor key's sequence, do nothing; Enter presses Next, then Finish",
       .args = {}, .keys = "x\x1b[A\r\n\n", .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "the end of the input at the start cancels", .args = {}, .exitCode = -1,
       .left = std::vector<std::string>{"SetupQd.ini"}},
      {.behaviour = "once the work is done, Cancel finishes as Finish does",
       .args = {}, .keys = "\nc\x1b", .setupArgs = "/NOSHARECOUNT"},
  };
  ExpectInstalls(Installer::Native, cases);
}

// On a terminal of its own: the script's Windows-1252 texts in the
// terminal's character set, and none of their control characters; Ctrl-C
// as Cancel; the restart question's answers; keys typed during the work;
// and whatever ends the run, the terminal reads lines with echo again.
TEST_F(NativeInstall, OnATerminalTheDialogShowsTextsSafelyAndKeepsTheTerminalSane) {
  const std::vector<std::string> all = {"SetupQd.ini", "engine.dll", "setup.exe"};
  const std::string foreign = "[CMD]\r\nFileName=setup.exe\r\nTitle=Qd f\xFCr \x80 \x81\x1b[31mrot\tx\r\nLANG=ENU\r\n";
  const TerminalTurn next{"Next > (Enter)", "\r"};
  const TerminalTurn finish{"Finish (Enter)", "\r"};
  const std::vector<InstallCase> cases = {
      {.behaviour = "a UTF-8 terminal shows the characters; escapes and other controls show as ?",
       .commands = foreign, .args = {}, .terminal = {next, finish}, .locale = "C.UTF-8",
       .setupArgs = "/NOSHARECOUNT", .shown = {"=== Qd f\xC3\xBCr \xE2\x82\xAC ??[31mrot?x ===",
                                               "Welcome to Qd f\xC3\xBCr"},
       .hidden = {"\x1b[31m", "\t", "\xFC"}},
      {.behaviour = "an ASCII terminal shows ? for what it lacks",
       .commands = foreign, .args = {}, .terminal = {next, finish}, .locale = "C", .setupArgs = "/NOSHARECOUNT",
       .shown = {"=== Qd f?r ? ??[31mrot?x ==="}, .hidden = {"\x1b[31m", "\xFC", "\xC3"}},
      {.behaviour = "Ctrl-C at the start cancels", .args = {}, .terminal = {{"Next > (Enter)", "\x03"}},
       .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini"}, .hidden = {"Error"}},
      {.behaviour = "Ctrl-C once the work is done finishes, as Cancel does then",
       .args = {}, .terminal = {next, {"Finish (Enter)", "\x03"}}, .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "Ctrl-C during the work ends the run there",
       .args = {}, .terminal = {next, {"The setup program waits.", "\x03"}}, .setupWaits = true,
       .exitCode = -1, .left = all,
       .setupArgs = "/NOSHARECOUNT"},
      {.behaviour = "the restart question shows its answers; Enter is No",
       .args = {}, .terminal = {next, finish, {"Restart now? [y/N] ", "\r"}}, .setupExit = 3010, .exitCode = 3010,
       .left = all, .setupArgs = "/NOSHARECOUNT", .hidden = {"does not restart"}},
      // Had the keys typed during the work stayed, Enter would have pressed
      // Finish unseen and "yes" answered the question.
      {.behaviour = "keys typed during the work are dropped once it is done",
       .args = {},
       .terminal = {next, {"Running the setup program...", "\ryes\r"}, {"yes", "", "setup_hold"}, finish,
                    {"Restart now? [y/N] ", "\r"}},
       .setupWaits = true, .setupExit = 3010, .exitCode = 3010, .left = all, .setupArgs = "/NOSHARECOUNT",
       .hidden = {"does not restart"}},
  };
  ExpectInstalls(Installer::Native, cases);
}

// A run whose standard input is closed reads no key from any file it opens
// instead: the end of the input cancels the dialog.
TEST_F(NativeInstall, ARunWithoutStandardInputIsCancelled) {
  InstallTree tree(Installer::Native);
  tree.Compose({.behaviour = "no input"});
  RunOptions options;
  options.workingDirectory = tree.RunDirectory().string();
  options.environment = {"TMPDIR=" + tree.Temporary().string()};
  const RunResult run =
      test::Run("/bin/bash", {"-c", "exec -a \"$0\" " QDPACK_NATIVE_EXE " <&-", tree.Package().string()}, options);
  EXPECT_EQ(run.exitCode, 255) << run.err;
  EXPECT_NE(run.err.find("Buttons: < Back (disabled) | Next > (Enter) | Cancel (Esc or c)\n"), std::string::npos);
  const fs::directory_iterator work(tree.Temporary());
  ASSERT_NE(work, fs::directory_iterator());
  EXPECT_TRUE(fs::exists(work->path() / "SetupQd.ini"));
  EXPECT_FALSE(fs::exists(work->path() / "engine.dll"));
}

TEST_F(NativeInstall, APackageTheBuilderWroteInstalls) {
  BuildTree build;
  ScriptParts parts;
  parts.files = {"engine.dll,build\\engine.dll", "setup.exe,build\\setup.exe"};
  InstallTree tree(Installer::Native);
  WriteAll(build / "build/setup.exe", tree.ContentOf("x,build\\setup.exe"));
  build.WriteScript(parts);
  ASSERT_EQ(build.Build().exitCode, 0) << build.Log();
  fs::copy_file(build / EnginePackage, tree.Package());
  const InstallResult run = tree.Install({.behaviour = "built"});
  EXPECT_EQ(run.exitCode, 0) << run.report;
  EXPECT_EQ(run.setupArgs, "/NOSHARECOUNT");
  EXPECT_FALSE(run.workDirectory);
}

TEST_F(NativeInstall, AUserWhoIsNoAdministratorIsStoppedAfterTheScript) {
  QD_REQUIRE_TOOL(Setpriv);
  ExpectInstalls(Installer::Native, {{.behaviour = "error 9 leaves the script alone", .administrator = false,
                                      .exitCode = -1, .left = std::vector<std::string>{"SetupQd.ini"}}});
}

// One table with the wine tests: each run's log tells its steps and ends
// with its outcome; a folder named log-install holds the log, and is no
// switch.
TEST_F(NativeInstall, ALoggedRunTellsItsStepsAndEndsWithItsOutcome) {
  QD_REQUIRE_TOOL(Setpriv);
  ExpectInstalls(Installer::Native, LoggedRunCases());
}

// Clears what the last run left: its work directory, and the files its
// setup program was handed.
void ClearRun(const InstallTree& tree) {
  for (const auto& entry : fs::directory_iterator(tree.Temporary())) fs::remove_all(entry.path());
  fs::remove_all(tree.RunDirectory() / "handed");
}

// The setup program was handed each entry's file, byte for byte as packed.
void ExpectHanded(const InstallTree& tree, const std::vector<PackedItem>& items,
                  const std::vector<std::string>& entries = InstallCase{}.entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string name = entries[i].substr(0, entries[i].find(','));
    EXPECT_TRUE(ReadAll(tree.RunDirectory() / "handed" / name) == items[i + 1].content) << name;
  }
}

// A log only looks on. Whatever befalls it (each of its calls failing in
// turn; a folder, a pipe without a reader, or the package itself named as
// the log), the run installs exactly as it would without one, and nothing
// is logged after a line that could not be written.
TEST_F(NativeInstall, ARunWhoseLogCannotBeWrittenInstallsAsWithoutOne) {
  InstallTree tree(Installer::Native);
  const auto items = tree.Compose({.behaviour = "log faults"});
  const Bytes package = ReadAll(tree.Package());
  WriteText(tree.RunDirectory() / "setup_exit.txt", "0");
  const fs::path pipe = tree.Log().parent_path() / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const auto expectInstalled = [&](const fs::path& log) {
    fs::remove(tree.Log());
    ClearRun(tree);
    const InProcessResult run = tree.InstallInProcess({"/h", "/log=" + log.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(fs::is_empty(tree.Temporary()));
    EXPECT_TRUE(ReadText(tree.RunDirectory() / "setup_args.txt").ends_with("setup.exe /NOSHARECOUNT"));
    ExpectHanded(tree, items);
    EXPECT_TRUE(ReadAll(tree.Package()) == package);
  };
  const auto lines = [&tree] {
    const std::string log = fs::exists(tree.Log()) ? ReadText(tree.Log()) : "";
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  };
  const int calls = CountCalls({.call = std::nullopt, .path = "qd.log"}, [&] { expectInstalled(tree.Log()); });
  const int events = lines();
  ASSERT_EQ(calls, events + 2) << "an open, a write for each event, a close";
  for (int n = 1; n <= calls; ++n) {
    FileFaultScope fault({.call = std::nullopt, .path = "qd.log", .nth = n});
    expectInstalled(tree.Log());
    SCOPED_TRACE(fault.StruckCall());
    EXPECT_EQ(lines(), n == calls ? events : std::max(n - 2, 0));
  }
  for (const fs::path& log : {tree.Log().parent_path(), pipe, tree.Package()}) {
    SCOPED_TRACE(log);
    expectInstalled(log);
  }
}

// How a silent install may end when a call failed, by what it was on: the
// errors it may stop with, and 0 where it may go on (a file that cannot be
// deleted stays; a file that was only read has been read before its close).
std::set<int> EndsForFailureOn(const std::string& call) {
  const auto on = [&call](std::string_view name) { return call.find(name) != std::string::npos; };
  if (on("remove") || (on("close") && !on("written"))) return {0};
  if (on("make work directory")) return {8};
  if (on("open") && (on("temp.exe") || on("SetupQd.ini"))) return {8};
  if (on("run program")) return {7};
  if (on("Update.exe")) return {2, 3};  // the checksum is read from the package too
  if (on("temp.exe") || on("SetupQd.ini") || on("engine.dll") || on("setup.exe") || on(".bin")) return {3};
  return {};
}

// The error number a run reported: from the console line of a silent run,
// or from the box of a run with the dialog (the script's text, or the
// fallback box's caption).
int ReportedError(const std::string& err) {
  if (const std::size_t line = err.find("qdpack: error "); line != std::string::npos)
    return std::stoi(err.substr(line + 14));
  if (const std::size_t caption = err.find("Error Code: "); caption != std::string::npos)
    return std::stoi(err.substr(caption + 12));
  for (int number = 2; number <= 9; ++number) {
    const std::string key = "Err0" + std::to_string(number) + "=";
    const std::size_t text = DefaultTexts.find(key);
    if (text == std::string_view::npos) continue;
    const std::string_view shown = DefaultTexts.substr(text + key.size(), DefaultTexts.find('\r', text) - text - key.size());
    if (err.find(shown) != std::string::npos) return number;
  }
  return 0;
}

// Every call of an install that can fail, failed in turn: the run ends with
// the error of the step that failed, leaving what it had unpacked; or, where
// the failed call may be ignored (a file that cannot be deleted), it
// succeeds, and then the setup program was handed complete files. A silent
// run, and the dialog's work, started with Next and ended with Finish.
// Unpacked bytes reach each file a block of 256 KiB at a time: files that
// are empty, or end just before, at or after a block's end, install byte
// for byte, and a write that fails, whichever block of whichever file it
// carries (a file's last, short block too), is error 3.
TEST_F(NativeInstall, AFaultAtAnyCallEndsTheRunWithItsErrorOrACompleteInstall) {
  constexpr std::size_t Block = 256 * 1024;
  InstallCase c{.behaviour = "sweep", .entries = {"engine.dll,build\\engine.dll"}};
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, Block - 1, Block, Block + 1, 3 * Block + 4097})
    c.entries.push_back("f" + std::to_string(size) + ".bin,sized\\" + std::to_string(size));
  c.entries.push_back("setup.exe,build\\setup.exe");
  const struct {
    const char* run;
    std::vector<std::string> args;
    std::string keys;
  } runs[] = {{"silent", {"/h"}, ""}, {"with the dialog", {}, "\n\n"}};
  for (const auto& kind : runs) {
    SCOPED_TRACE(kind.run);
    InstallTree tree(Installer::Native);
    const auto items = tree.Compose(c);
    WriteText(tree.RunDirectory() / "setup_exit.txt", "0");
    const auto install = [&] { return tree.InstallInProcess(kind.args, kind.keys); };
    InProcessResult clean;
    const int calls = CountCalls({.call = std::nullopt}, [&] { clean = install(); });
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    ExpectHanded(tree, items, c.entries);
    ASSERT_GT(calls, 20);
    for (int n = 1; n <= calls; ++n) {
      ClearRun(tree);
      FileFaultScope fault({.call = std::nullopt, .nth = n});
      const InProcessResult run = install();
      SCOPED_TRACE("call " + std::to_string(n) + ": " + fault.StruckCall());
      ASSERT_TRUE(fault.Struck());
      if (run.exitCode == 0) {
        EXPECT_EQ(EndsForFailureOn(fault.StruckCall()).count(0), 1u) << "a failure that looks like success";
        ExpectHanded(tree, items, c.entries);
        continue;
      }
      EXPECT_EQ(run.exitCode, -1);
      EXPECT_EQ(EndsForFailureOn(fault.StruckCall()).count(ReportedError(run.err)), 1u) << run.err;
      if (fault.StruckCall().starts_with("write ")) {
        EXPECT_EQ(ReportedError(run.err), 3) << run.err;
      }
    }
    RecordProperty(std::string("calls ") + kind.run, calls);
  }
}

// Someone who may write into the temporary directory renames the work
// directory the moment it exists and puts a link to a folder of theirs in its
// place: the run goes on in its own directory, wherever that now is, and
// nothing is written into theirs, nor started from it.
TEST_F(NativeInstall, AWorkDirectorySwappedForALinkIsNeverUsedThroughIt) {
  InstallTree tree(Installer::Native);
  const auto items = tree.Compose({.behaviour = "swapped"});
  WriteText(tree.RunDirectory() / "setup_exit.txt", "0");
  const fs::path theirs = tree.Temporary().parent_path() / "theirs";
  fs::create_directory(theirs);
  WriteText(theirs / "setup.exe", "#!/bin/sh\ntouch \"$OLDPWD/theirs-ran\"\n");
  fs::permissions(theirs / "setup.exe", fs::perms::owner_all);
  FileFaultScope swap({.nth = 0, .afterWorkDirectory = [&](const std::string& shown) {
                         const fs::path work = fs::path(shown).parent_path();
                         fs::rename(work, tree.Temporary() / "moved");
                         fs::create_directory_symlink(theirs, work);
                       }});
  const InProcessResult run = tree.InstallInProcess();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(EntriesIn(theirs), 1) << "theirs is untouched";
  EXPECT_FALSE(fs::exists(tree.RunDirectory() / "theirs-ran"));
  EXPECT_TRUE(ReadAll(tree.RunDirectory() / "handed/engine.dll") == items[1].content) << "ours ran, with our files";
  EXPECT_TRUE(fs::is_empty(tree.Temporary() / "moved")) << "and cleaned up after itself";
}

// A write past a file-size limit is error 3, said on the console: no signal
// ends the run without a word.
TEST_F(NativeInstall, AWritePastAFileSizeLimitIsError3) {
  QD_REQUIRE_TOOL(Prlimit);
  InstallTree tree(Installer::Native);
  tree.Compose({.behaviour = "limited"});
  RunOptions options;
  options.workingDirectory = tree.RunDirectory().string();
  options.environment = {"TMPDIR=" + tree.Temporary().string()};
  const RunResult run = test::Run(
      Prlimit.path, {"--fsize=65536", "--", "/bin/bash", "-c", "exec -a \"$0\" " QDPACK_NATIVE_EXE " /h",
                     tree.Package().string()},
      options);
  EXPECT_EQ(run.exitCode, 255);
  EXPECT_NE(run.err.find("qdpack: error 3: "), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qd::test
