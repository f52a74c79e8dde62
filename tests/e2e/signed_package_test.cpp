//===- signed_package_test.cpp - A signed package stays a package ------------===//
//
// Signing appends a certificate table after the tail and sets the image
// checksum anew; nothing reads past the last item, so the signed package must
// pass the signer's own check, the installer's checksum test and qdpkg
// verify, and install as it did before. qdpkg verify checks the signature as
// osslsigncode does, and the two must agree on every package of the table.
// Under wine, the same with the 64-bit build is in the Windows tests.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "e2e/installer_support.h"
#include "e2e/signing_support.h"
#include "package/checksum.h"

namespace qd::test {
namespace {

class SignedPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveWindowsBuild()) GTEST_SKIP() << "no Windows build to take the stub and engine.dll from";
    QD_REQUIRE_TOOL(Openssl);
    QD_REQUIRE_TOOL(Osslsigncode);
  }
};

TEST_F(SignedPackage, PassesEveryCheckAndInstallsNatively) {
  InstallTree install(Installer::Native);
  test::SignedPackage signedPackage;
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

// Each package, signed on the 32-bit and on the 64-bit stub, is checked by
// qdpkg verify (with --ca when the case names a CA) and by osslsigncode
// (with the same CA, or the signer's own when the case names none); both
// must pass it or both refuse it.
TEST_F(SignedPackage, VerifyChecksTheSignatureAsOsslsigncodeDoes) {
  enum class Ca { None, Signer, Other };
  struct Case {
    const char* behaviour;
    std::function<void(Bytes&, const PackageView&)> damage;  // the checksum is made right after it
    Ca ca;
    const char* line;  // expected at the start of a line of the report
  };
  const Case cases[] = {
      {"a signed package verifies, and shows its signer", [](Bytes&, const PackageView&) {}, Ca::None,
       "ok: signature: signed by CN=QdPack test signer; the signature over the signed digest holds"},
      {"its chain leads to the signer's own certificate", [](Bytes&, const PackageView&) {}, Ca::Signer,
       "ok: signature: the signer's certificate leads to a CA of "},
      {"a flipped byte in an item, the checksum made right",
       [](Bytes& b, const PackageView& view) { b[view.items[1].begin + 100] ^= 0x10; }, Ca::None,
       "fault: signature: the image digest (SHA256) is "},
      {"a flipped byte in the signature", [](Bytes& b, const PackageView&) { b[b.size() - 300] ^= 0x01; }, Ca::None,
       "fault: signature: the PKCS #7 signature does not hold"},
      {"a chain to another CA", [](Bytes&, const PackageView&) {}, Ca::Other,
       "fault: signature: the signer's certificate does not lead to a CA of "},
  };
  for (const fs::path& stub : {fs::path(StubSource()), fs::path(QDPACK_WIN64_DIR) / "src/QdPack.exe"}) {
    SCOPED_TRACE(stub.string());
    test::SignedPackage signedPackage;
    BuildSignedPackage(signedPackage, stub, ReadAll(EngineSource()));
    ASSERT_EQ(signedPackage.failure, "");
    const fs::path other = signedPackage.tree / "other.pem";
    ASSERT_EQ(test::Run(Openssl.path, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                       "/CN=Another CA", "-keyout", (signedPackage.tree / "other.key").string(),
                                       "-out", other.string()})
                  .exitCode,
              0);
    const PackageView view = ReadPackage(signedPackage.package);
    ASSERT_EQ(view.items.size(), 3u);

    for (const Case& c : cases) {
      SCOPED_TRACE(c.behaviour);
      Bytes bytes = view.bytes;
      c.damage(bytes, view);
      SealChecksum(bytes);
      ScratchDir dir;
      const fs::path package = dir / "signed.exe";
      WriteAll(package, bytes);

      const std::string ca = (c.ca == Ca::Other ? other : signedPackage.certificate).string();
      std::vector<std::string> args = {"verify", package.string()};
      if (c.ca != Ca::None) args.insert(args.begin() + 1, {"--ca", ca});
      const RunResult verify = test::Run(QDPACK_QDPKG_EXE, args);
      const RunResult oracle = test::Run(Osslsigncode.path, {"verify", "-CAfile", ca, "-in", package.string()});
      EXPECT_EQ(verify.exitCode == 0, oracle.exitCode == 0) << verify.out << oracle.out << oracle.err;
      EXPECT_NE(("\n" + verify.out).find(std::string("\n") + c.line), std::string::npos) << verify.out;
    }
  }
}

}  // namespace
}  // namespace qd::test
