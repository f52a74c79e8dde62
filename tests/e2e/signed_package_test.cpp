//===- signed_package_test.cpp - A signed package stays a package ------------===//
//
// Signing appends a certificate table after the tail and sets the image
// checksum anew; nothing reads past the last item, so the signed package must
// pass the signer's own check, the installer's checksum test and qdpkg
// verify, and install as it did before. Under wine, the same with the 64-bit
// build is in the Windows tests.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>
#include <unistd.h>

#include "e2e/installer_support.h"
#include "e2e/signing_support.h"
#include "package/checksum.h"

namespace qd::test {
namespace {

TEST(SignedPackage, PassesEveryCheckAndInstallsNatively) {
  if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
  QD_REQUIRE_TOOL(Openssl);
  QD_REQUIRE_TOOL(Osslsigncode);
  InstallTree install(Installer::Native);
  SignedPackage signedPackage;
  BuildSignedPackage(signedPackage, StubSource(), install.ContentOf("setup.exe,build\\setup.exe"));
  ASSERT_EQ(signedPackage.failure, "");
  const std::string package = signedPackage.package.string();

  const RunResult signature =
      test::Run(Osslsigncode.path, {"verify", "-CAfile", signedPackage.certificate.string(), "-in", package});
  EXPECT_EQ(signature.exitCode, 0) << signature.out << signature.err;
  EXPECT_TRUE(CheckImageChecksum(package, Stamp::No));
  const RunResult verify = test::Run(QDPACK_QDPKG_EXE, {"verify", package});
  EXPECT_EQ(verify.exitCode, 0) << verify.out;
  EXPECT_NE(verify.out.find("\nok: certificate table: "), std::string::npos) << verify.out;

  if (::geteuid() != 0) GTEST_SKIP() << "installing needs an administrator: run the tests as root";
  fs::copy_file(signedPackage.package, install.Package());
  const InstallResult run = install.Install({.behaviour = "signed"});
  EXPECT_EQ(run.exitCode, 0) << run.report;
  EXPECT_EQ(run.setupArgs, "/NOSHARECOUNT");
  EXPECT_FALSE(run.workDirectory);
}

}  // namespace
}  // namespace qd::test
