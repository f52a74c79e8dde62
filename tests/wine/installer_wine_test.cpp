//===- installer_wine_test.cpp - The Windows build installs packages ----------===//
//
// The silent runs and the runs with the dialog of the native installer
// tests, run by the 64-bit Windows build under wine: the same packages (with
// the 64-bit stub and a Windows setup program) must end alike, and so must
// the names of the item-name rule's table, and a few rows that only Windows
// has. The driver answers the dialog by its buttons.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include "e2e/installer_support.h"
#include "e2e/signing_support.h"

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
  ExpectInstalls(Installer::Wine, SilentRunCases());
}

// The native build's table, and the unquoted command line that a package
// path without blanks gives: the log's path, dot and all, is no part of the
// package's own path. Wine gives every process a token that holds the
// Administrators group (at worst for deny only, which counts), so the run
// of a user who is none cannot be made here.
TEST_F(WineInstall, ALoggedRunTellsItsStepsAsOnTheNativeBuild) {
  std::vector<InstallCase> cases = LoggedRunCases();
  std::erase_if(cases, [](const InstallCase& c) { return !c.administrator; });
  ExpectInstalls(Installer::Wine, cases);
}

TEST_F(WineInstall, RunsThatOnlyWindowsHasEndAsTheyMust) {
  const std::vector<InstallCase> cases = {
      // The driver does not quote a path without blanks: the dot in "x.y"
      // is the last one, and the own path is cut there.
      {.behaviour = "an unquoted command line with a dot in a switch does not find its own file: error 3",
       .args = {"/h", "x.y"}, .exitCode = -1, .left = std::vector<std::string>{}},
      {.behaviour = "a switch right behind the closing quote counts: \"path\"/h runs silently",
       .args = {"/h", "-uninstall"}, .glued = true, .setupArgs = "/UNINSTALL"},
  };
  ExpectInstalls(Installer::Wine, cases);
}

// Windows itself refuses some names and maps others to devices: every name
// of the item-name rule's table must end as it does natively, a device name
// included, whose bytes would otherwise go to the device.
TEST_F(WineInstall, ItemNamesAreAcceptedAndRefusedAsOnTheNativeBuild) {
  for (const ItemNameCase& name : ItemNameCases()) {
    SCOPED_TRACE(testing::PrintToString(name.name));
    const auto c = ItemNameInstall(name);
    if (!c) continue;
    InstallTree tree(Installer::Wine);
    const auto items = tree.Compose(*c);
    ExpectInstall(*c, tree.Install(*c), tree, items);
  }
}

TEST_F(WineInstall, DialogRunsEndAsOnTheNativeBuild) {
  ExpectInstalls(Installer::Wine, DialogRunCases());
}

// Each control as "id class enabled visible text", in the window's order.
std::vector<std::string> ControlsOf(const DriverWindow& window) {
  std::vector<std::string> controls;
  for (const DriverControl& c : window.controls)
    controls.push_back(std::to_string(c.id) + " " + c.className + " " + (c.enabled ? "enabled" : "disabled") +
                       " " + (c.visible ? "shown" : "hidden") + " " + c.text);
  return controls;
}

TEST_F(WineInstall, EveryControlShowsItsTextAndStateInEachState) {
  InstallTree tree(Installer::Wine);
  tree.Compose({.behaviour = "walk"});
  DriveOptions options = tree.WineRun();
  options.presses = {1, 1};
  const DriverOutput out = Drive(tree.Package().string(), {}, options);
  ASSERT_EQ(out.windows.size(), 2u) << out.raw;
  EXPECT_EQ(out.exitCode, 0) << out.raw;
  // The state between, while the setup program runs, as that program saw it.
  const DriverOutput working = ParseDriverOutput(ReadText(tree.RunDirectory() / "dialog.txt"));
  ASSERT_EQ(working.windows.size(), 1u) << working.raw;

  const std::string heading = "1012 Static enabled shown Welcome to Qd Engine Setup";
  const std::string intro = "1005 Static enabled shown This wizard installs the Qd Engine.";
  const std::string back = "3 Button disabled shown < &Back";
  // The picture's text is the ordinal of bitmap 103, 0xFFFF and 103 ("g"),
  // as the ANSI code page gives it.
  const std::string picture = "1014 Static enabled shown ?g";
  struct State {
    const char* name;
    const DriverWindow& window;
    std::vector<std::string> controls;
  };
  const State states[] = {
      {"Ready", out.windows[0],
       {"1 Button enabled shown &Next >", "2 Button enabled shown &Cancel", back,
        "1002 msctls_progress32 enabled hidden Progress2", intro,
        "1007 Static enabled shown Press Next to install the Qd Engine.", heading, picture}},
      {"Working", working.windows[0],
       {"1 Button disabled shown &Next >", "2 Button disabled shown &Cancel", back,
        "1002 msctls_progress32 enabled shown Progress2", intro,
        "1007 Static enabled shown Running the setup program...", heading, picture}},
      {"Done", out.windows[1],
       {"1 Button enabled shown Finish", "2 Button disabled shown &Cancel", back,
        "1002 msctls_progress32 enabled shown Progress2", intro,
        "1007 Static enabled shown The Qd Engine has been installed.", heading, picture}},
  };
  for (const State& state : states) {
    SCOPED_TRACE(state.name);
    EXPECT_EQ(state.window.className, "#32770");
    EXPECT_EQ(state.window.caption, "Qd Engine Setup");
    EXPECT_EQ(ControlsOf(state.window), state.controls);
  }
}

// While the setup program runs, the dialog still answers, and a user who
// clicks the disabled Next twice and presses Enter meanwhile does not press
// Finish unseen: the driver, not that input, ends the Done page.
TEST_F(WineInstall, TheDialogAnswersWhileTheSetupProgramRunsAndDropsInputGivenMeanwhile) {
  InstallTree tree(Installer::Wine);
  tree.Compose({.behaviour = "a setup program that waits"});
  const fs::path hold = tree.RunDirectory() / "setup_hold.txt";
  DriveOptions options = tree.WineRun({"QD_SETUP_HOLD=" + WinePath(hold.string())});
  options.presses = {1, 1};
  options.busy = hold.string();
  const DriverOutput out = Drive(tree.Package().string(), {}, options);
  ASSERT_TRUE(out.busy) << "the setup program never waited\n" << out.raw;
  EXPECT_EQ(out.busy->id, 1);
  EXPECT_TRUE(out.busy->answered) << out.raw;
  EXPECT_FALSE(out.busy->hung) << out.raw;
  ASSERT_EQ(out.windows.size(), 2u) << "the input given during the work ended the dialog\n" << out.raw;
  const DriverControl* finish = out.windows[1].Control(1);
  ASSERT_NE(finish, nullptr) << out.raw;
  EXPECT_EQ(finish->text, "Finish");
  EXPECT_TRUE(finish->enabled);
  EXPECT_EQ(out.windows[1].pressed, 1);
  EXPECT_EQ(out.exitCode, 0) << out.raw;
  EXPECT_FALSE(tree.WorkDirectory()) << "the installation did not finish";
}

// A stub whose dialog template cannot be found: the dialog cannot be
// created, nothing is installed, and the run must not end as a success.
TEST_F(WineInstall, ADialogThatCannotBeCreatedIsError5) {
  const InstallCase c{.behaviour = "the dialog cannot be created: error 5, and the script stays",
                      .args = {}, .damage = Damage::NoDialog, .exitCode = -1,
                      .left = std::vector<std::string>{"SetupQd.ini"}, .shown = {"Error: the package data is damaged."}};
  InstallTree tree(Installer::Wine);
  const auto items = tree.Compose(c);
  ExpectInstall(c, tree.Install(c), tree, items);
}

// A release pipeline signs packages: the certificate table after the tail,
// and the checksum set anew by the signer, leave the package installable.
TEST_F(WineInstall, ASignedPackageInstalls) {
  QD_REQUIRE_TOOL(Openssl);
  QD_REQUIRE_TOOL(Osslsigncode);
  InstallTree tree(Installer::Wine);
  SignedPackage signedPackage;
  BuildSignedPackage(signedPackage, fs::path(QDPACK_WIN64_DIR) / "src/QdPack.exe",
                     tree.ContentOf("setup.exe,build\\setup.exe"));
  ASSERT_EQ(signedPackage.failure, "");
  fs::copy_file(signedPackage.package, tree.Package());
  const InstallResult run = tree.Install({.behaviour = "signed"});
  EXPECT_EQ(run.exitCode, 0) << run.report;
  EXPECT_EQ(run.setupArgs, "/NOSHARECOUNT");
  EXPECT_FALSE(run.workDirectory);
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

// Windows looks for a DLL that is not one of its known DLLs beside the
// program first; wine does so when told to prefer native DLLs. A package run
// beside planted copies of the DLLs it uses loads none of them, while a
// program that imports them the usual way does.
TEST_F(WineInstall, DllsLeftBesideAPackageAreNeverLoaded) {
  InstallTree tree(Installer::Wine);
  const InstallCase c{.behaviour = "planted", .setupArgs = "/NOSHARECOUNT"};
  const auto items = tree.Compose(c);
  const fs::path planted = fs::path(QDPACK_WIN64_DIR) / "tests/wine/planted.dll";
  const fs::path folder = tree.Package().parent_path();
  for (const char* name : {"version.dll", "imagehlp.dll", "comctl32.dll"}) fs::copy_file(planted, folder / name);
  const std::string preferPlanted = "WINEDLLOVERRIDES=version,imagehlp,comctl32=n,b";

  DriveOptions options = tree.WineRun();
  options.run.environment = {preferPlanted};
  const DriverOutput out = Drive(tree.Package().string(), {"/h"}, options);
  const auto plantedLoads = [&tree] {
    int loads = 0;
    for (const auto& file : fs::directory_iterator(tree.RunDirectory()))
      loads += file.path().filename().string().starts_with("planted-") ? 1 : 0;
    return loads;
  };
  EXPECT_EQ(out.exitCode, 0) << out.raw;
  EXPECT_TRUE(fs::exists(tree.RunDirectory() / "setup_args.txt")) << "the package installed";
  EXPECT_EQ(plantedLoads(), 0);

  // The control: a program beside the same DLLs that imports them the usual
  // way is caught (it is given no file, so it calls none of their functions).
  fs::copy_file(fs::path(QDPACK_WIN64_DIR) / "tests/wine/image_probe.exe", folder / "probe.exe");
  RunOptions control;
  control.workingDirectory = tree.RunDirectory().string();
  control.environment = {preferPlanted};
  RunWine((folder / "probe.exe").string(), {}, control);
  EXPECT_GT(plantedLoads(), 0) << "the planted DLLs were not found where the control looked";
}

}  // namespace
}  // namespace qd::test
