//===- installer_test.cpp - The native build installs packages -----------------===//
//
// Runs the installer of the native build over packages ("exec -a package
// qdpack /h"), as root (the rights an installer needs), and checks each
// outcome: exit code, what the setup program was given, and what stayed in
// the work directory. The same cases run under wine in the Windows tests.
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
  for (const InstallCase& c : SilentRunCases()) {
    InstallTree tree(Installer::Native);
    const auto items = tree.Compose(c);
    ExpectInstall(c, tree.Install(c), tree, items);
  }
}

TEST_F(NativeInstall, ABadStreamShowsTheDecodersResultFirst) {
  InstallTree tree(Installer::Native);
  const InstallCase c{.behaviour = "bad stream", .damage = Damage::Stream};
  tree.Compose(c);
  EXPECT_NE(tree.Install(c).report.find("Value of uiRep\n"), std::string::npos);
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
