//===- stub_invariant_test.cpp - The stub holds the marker text once --------===//
//
// Readers skip the first marker in a package and take the second as the end
// of the stub, so a QdPack.exe that held the marker's text twice, or not at
// all, would make every package built from it unreadable.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/builder_support.h"

namespace qd::test {
namespace {

TEST(StubInvariant, BothWindowsBuildsHoldTheMarkerTextExactlyOnce) {
  for (const std::string directory : {QDPACK_WIN32_DIR, QDPACK_WIN64_DIR}) {
    if (directory.empty()) GTEST_SKIP() << "no Windows builds";
    const std::filesystem::path stub = directory + "/src/QdPack.exe";
    SCOPED_TRACE(stub.string());
    ASSERT_TRUE(std::filesystem::exists(stub));
    EXPECT_EQ(FindMarkers(ReadAll(stub)).size(), 1u);
  }
}

}  // namespace
}  // namespace qd::test
