//===- installer_wine_test.cpp - The Windows build installs packages ----------===//
//
// The silent runs of the native installer tests, run by the 64-bit Windows
// build under wine: the same packages (with the 64-bit stub and a Windows
// setup program) must end alike, and a few rows that only Windows has.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include "e2e/installer_support.h"

namespace qd::test {
namespace {

class WineInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild() || !fs::exists(QDPACK_WIN64_DIR "/tests/wine/recording_setup.exe"))
      GTEST_SKIP() << "no Windows builds";
  }
};

TEST_F(WineInstall, SilentRunsEndAsOnTheNativeBuild) {
  for (const InstallCase& c : SilentRunCases()) {
    InstallTree tree(Installer::Wine);
    const auto items = tree.Compose(c);
    ExpectInstall(c, tree.Install(c), tree, items);
  }
}

TEST_F(WineInstall, RunsThatOnlyWindowsHasEndAsTheyMust) {
  const InstallCase cases[] = {
      // The driver does not quote a path without blanks: the dot in "x.y"
      // is the last one, and the own path is cut there.
      {.behaviour = "an unquoted command line with a dot in a switch does not find its own file: error 3",
       .args = {"/h", "x.y"}, .exitCode = -1, .left = std::vector<std::string>{}},
  };
  for (const InstallCase& c : cases) {
    InstallTree tree(Installer::Wine);
    const auto items = tree.Compose(c);
    ExpectInstall(c, tree.Install(c), tree, items);
  }
}

// Without a work directory of its own, an administrator's run stops with
// error 8, reported against the bare script name (nothing was unpacked
// anywhere), instead of unpacking into the temporary directory.
TEST_F(WineInstall, AnAdministratorsRunWithoutAWorkDirectoryStopsWithError8) {
  InstallTree tree(Installer::Wine);
  tree.Compose({.behaviour = "no work directory"});
  DriveOptions options;
  options.run.workingDirectory = tree.RunDirectory().string();
  const std::string missing = WinePath((tree.Temporary() / "missing").string());
  options.environment = {"TMP=" + missing, "TEMP=" + missing};
  const DriverOutput out = Drive(tree.Package().string(), {}, options);
  ASSERT_EQ(out.windows.size(), 1u) << out.raw;
  EXPECT_EQ(out.windows[0].caption, "Error Code: 8 (SetupQd.ini)\n");
  EXPECT_EQ(out.exitCode, -1);
  EXPECT_TRUE(fs::is_empty(tree.Temporary()));
}

}  // namespace
}  // namespace qd::test
