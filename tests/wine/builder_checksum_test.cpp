//===- builder_checksum_test.cpp - The platform accepts a package's checksum -===//
//
// A package built by the native builder is sealed with the image checksum
// that the platform's own MapFileAndCheckSumA computes, so the installer's
// check on Windows passes. image_probe.exe reports that call's view of the file.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/builder_support.h"

namespace qd::test {
namespace {

// The value after "name=" in a probe line, read as hexadecimal.
std::uint32_t Field(const std::string& line, const std::string& name) {
  const std::size_t at = line.find(" " + name + "=");
  if (at == std::string::npos) return 0xFFFFFFFF;
  return static_cast<std::uint32_t>(std::stoul(line.substr(at + name.size() + 2), nullptr, 16));
}

TEST(BuilderChecksum, MapFileAndCheckSumAcceptsEveryPackageTheNativeBuilderWrites) {
  const std::string probe = std::string(QDPACK_WIN64_DIR) + "/tests/wine/image_probe.exe";
  if (!HaveWindowsBuild() || !std::filesystem::exists(probe)) GTEST_SKIP() << "no Windows builds";
  // Payloads of several sizes give packages of every odd and even length
  // before the tail.
  for (std::size_t size : {100u, 101u, 102u, 103u, 65537u}) {
    SCOPED_TRACE(size);
    BuildTree tree;
    WriteAll(tree / "build/payload.bin", corpus::Mixed(size, static_cast<std::uint32_t>(size)));
    tree.WriteScript({});
    ASSERT_EQ(tree.Build().exitCode, 0) << tree.Log();

    RunOptions options;
    options.workingDirectory = tree.dir.path().string();
    const RunResult result = RunWine(probe, {"out\\Update2_05_07d.exe"}, options);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string& line = result.out;
    ASSERT_EQ(line.rfind("map=0 ", 0), 0u) << line;
    EXPECT_EQ(Field(line, "stored"), Field(line, "computed")) << line;
    std::uint32_t stored = 0;
    EXPECT_EQ(ImageChecksum(ReadAll(tree / EnginePackage), stored), Field(line, "computed"));
  }
}

}  // namespace
}  // namespace qd::test
