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
#include <unistd.h>

#include "e2e/installer_support.h"
#include "installer/installer.h"
#include "platform/posix/command_line.h"
#include "startup/run_state.h"
#include "startup/startup.h"
#include "support/file_faults.h"
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
  InstallTree tree(Installer::Native);
  tree.Compose({.behaviour = "rights"});
  for (const fs::path& path : {tree.Package().parent_path(), tree.Temporary(), tree.RunDirectory()})
    fs::permissions(path, fs::perms::all);
  fs::permissions(tree.Package(), fs::perms::owner_all | fs::perms::others_read);
  RunOptions options;
  options.workingDirectory = tree.RunDirectory().string();
  options.environment = {"TMPDIR=" + tree.Temporary().string()};
  const RunResult run = test::Run(Setpriv.path,
                                  {"--reuid=65534", "--regid=65534", "--clear-groups", "/bin/bash", "-c",
                                   "exec -a \"$0\" " QDPACK_NATIVE_EXE " /h", tree.Package().string()},
                                  options);
  EXPECT_EQ(run.exitCode, 255) << run.err;
  const fs::directory_iterator work(tree.Temporary());
  ASSERT_NE(work, fs::directory_iterator());
  EXPECT_TRUE(fs::exists(work->path() / "SetupQd.ini"));
  EXPECT_FALSE(fs::exists(work->path() / "engine.dll"));
}

// Failures the operating system cannot be made to produce on cue, in-process.
TEST_F(NativeInstall, FileOperationsThatFailEndTheRunWithTheirError) {
  struct Case {
    const char* behaviour;
    FileFault fault;
    std::vector<std::string> left;
  };
  const Case cases[] = {
      {"the stub copy cannot be created: error 8", {.call = FileCall::Open, .path = "temp.exe"}, {}},
      {"the script cannot be created: error 8", {.call = FileCall::Open, .path = "SetupQd.ini"}, {}},
      {"a file cannot be written: error 3", {.call = FileCall::Write, .path = "engine.dll"},
       {"SetupQd.ini", "engine.dll"}},
      {"a file whose close fails: error 3", {.call = FileCall::Close, .path = "engine.dll"},
       {"SetupQd.ini", "engine.dll"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    InstallTree tree(Installer::Native);
    tree.Compose({.behaviour = c.behaviour});
    const fs::path work = tree.Temporary() / "work";
    fs::create_directory(work);
    const auto install = [&] {
      std::string argv0 = tree.Package().string();
      std::string silent = "/h";
      char* argv[] = {argv0.data(), silent.data(), nullptr};
      platform::posix::RememberCommandLine(2, argv);
      WorkDirectory = work.string() + "/";
      FileFaultScope fault(c.fault);
      RunInstaller(1, nullptr);
    };
    EXPECT_EXIT(install(), testing::ExitedWithCode(255), "");
    std::vector<std::string> left;
    for (const auto& file : fs::directory_iterator(work)) left.push_back(file.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, c.left);
  }
}

// The package's own start-up: without a fresh work directory of its own, an
// administrator's run stops (error 8) instead of unpacking into the shared
// temporary directory.
TEST_F(NativeInstall, AnAdministratorsRunNeverUnpacksIntoTheSharedTemporaryDirectory) {
  InstallTree tree(Installer::Native);
  tree.Compose({.behaviour = "no work directory"});
  const auto install = [&] {
    std::string argv0 = tree.Package().string();
    std::string silent = "/h";
    char* argv[] = {argv0.data(), silent.data(), nullptr};
    platform::posix::RememberCommandLine(2, argv);
    ::setenv("TMPDIR", tree.Temporary().c_str(), 1);
    FileFaultScope fault({.call = FileCall::MakeDirectory});
    std::exit(ProgramMain(nullptr, "/h"));
  };
  EXPECT_EXIT(install(), testing::ExitedWithCode(255), "");
  EXPECT_TRUE(fs::is_empty(tree.Temporary()));
}

}  // namespace
}  // namespace qd::test
