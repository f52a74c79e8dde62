//===- item_name_test.cpp - The installer and qdpkg verify judge names alike -===//
//
// Every name of the rule's table is given to a package as its second file:
// the native installer must install it or stop with error 3 before anything
// is unpacked, and qdpkg verify must pass the package or name the fault,
// exactly as the rule says. And over the installer's own tables of runs:
// verify passes a package only when the installer would not refuse it.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e/installer_support.h"

namespace qd::test {
namespace {

RunResult Verify(const fs::path& package) { return Run(QDPACK_QDPKG_EXE, {"verify", package.string()}); }

TEST(ItemNames, TheInstallerAndVerifyAcceptAndRefuseAlike) {
  if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
  std::vector<ItemNameCase> cases = ItemNameCases();
  cases.push_back({"FIRST.DLL.", NameRefusal::Duplicate});  // the first file's name again
  for (const ItemNameCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.name));
    const auto install = ItemNameInstall(c);
    if (!install) continue;
    InstallTree tree(Installer::Native);
    const auto items = tree.Compose(*install);

    const RunResult verify = Verify(tree.Package());
    EXPECT_EQ(verify.exitCode, c.refusal ? 1 : 0) << verify.out;
    const std::string fault = c.refusal == NameRefusal::Duplicate
                                  ? "fault: File02 (FIRST.DLL.) names the same file as File01 (first.dll)"
                                  : "fault: File02 names ";
    EXPECT_EQ(verify.out.find(fault) != std::string::npos, c.refusal.has_value()) << verify.out;

    if (::geteuid() == 0) ExpectInstall(*install, tree.Install(*install), tree, items);
  }
}

TEST(ItemNames, VerifyPassesOnlyPackagesTheInstallerWouldNotRefuse) {
  if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
  std::vector<InstallCase> cases = SilentRunCases();
  for (const InstallCase& c : DialogRunCases()) cases.push_back(c);
  for (const InstallCase& c : cases) {
    SCOPED_TRACE(c.behaviour);
    // A run fails for the package's sake, not for its setup program's or its user's.
    const bool cancelled = std::find(c.answers.begin(), c.answers.end(), Answer::Cancel) != c.answers.end();
    const bool refused = c.exitCode == -1 && c.setupExit == 0 && !cancelled;
    InstallTree tree(Installer::Native);
    tree.Compose(c);
    const RunResult verify = Verify(tree.Package());
    EXPECT_EQ(verify.exitCode, refused ? 1 : 0) << verify.out;
  }
}

}  // namespace
}  // namespace qd::test
