//===- signing_support.h - Packages signed as a release pipeline signs them --===//
//
// A package built by the native builder and then signed with osslsigncode,
// with a throw-away certificate and key made by openssl for the one test:
// the signing step of a release pipeline, which appends a certificate table
// after the package's tail and sets the image checksum anew.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <filesystem>
#include <string>

#include "e2e/builder_support.h"

namespace qd::test {

struct SignedPackage {
  BuildTree tree;
  std::filesystem::path certificate;  // the signer's self-signed certificate (PEM)
  std::filesystem::path package;      // the signed package, under the name the builder gave it
  std::string failure;                // empty when the package was built and signed
};

// Builds engine.dll and `setupProgram` as setup.exe with `stub` in front,
// then signs the package. Needs Openssl and Osslsigncode.
inline void BuildSignedPackage(SignedPackage& signedPackage, const std::filesystem::path& stub,
                               const std::vector<std::uint8_t>& setupProgram) {
  namespace fs = std::filesystem;
  BuildTree& tree = signedPackage.tree;
  fs::copy_file(stub, tree / "QdPack.exe", fs::copy_options::overwrite_existing);
  WriteAll(tree / "build/setup.exe", setupProgram);
  ScriptParts parts;
  parts.files = {"engine.dll,build\\engine.dll", "setup.exe,build\\setup.exe"};
  tree.WriteScript(parts);
  if (const RunResult build = tree.Build(); build.exitCode != 0) {
    signedPackage.failure = "the build failed: " + tree.Log();
    return;
  }

  signedPackage.certificate = tree / "signer.pem";
  const RunResult certificate =
      Run(Openssl.path, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=QdPack test signer",
                         "-addext", "extendedKeyUsage=codeSigning", "-keyout", (tree / "signer.key").string(), "-out",
                         signedPackage.certificate.string()});
  if (certificate.exitCode != 0) {
    signedPackage.failure = "openssl made no certificate: " + certificate.err;
    return;
  }
  fs::create_directories(tree / "signed");
  signedPackage.package = tree / "signed" / fs::path(EnginePackage).filename();
  const RunResult sign =
      Run(Osslsigncode.path, {"sign", "-certs", signedPackage.certificate.string(), "-key", (tree / "signer.key").string(),
                              "-n", "Qd Engine update", "-in", (tree / EnginePackage).string(), "-out",
                              signedPackage.package.string()});
  if (sign.exitCode != 0) signedPackage.failure = "osslsigncode did not sign: " + sign.out + sign.err;
}

}  // namespace qd::test
