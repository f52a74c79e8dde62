//===- product_image_test.cpp - What QdPack.exe is as a Windows image -------===//
//
// The product is a 32-bit GUI executable that needs nothing but the
// operating system's own libraries, and carries its icon, version block and
// manifest.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>

#include "support/process.h"
#include "support/tools.h"

namespace qd::test {
namespace {

std::string ObjdumpOf(const Tool& objdump, const std::string& buildDir) {
  return qd::test::Run(objdump.path, {"-p", buildDir + "/src/QdPack.exe"}).out;
}

std::set<std::string> ImportedLibraries(const std::string& dump) {
  std::set<std::string> imported;
  const std::regex dll("DLL Name: (\\S+)");
  for (auto it = std::sregex_iterator(dump.begin(), dump.end(), dll); it != std::sregex_iterator(); ++it) {
    std::string name = (*it)[1];
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    imported.insert(name);
  }
  return imported;
}

TEST(Product, IsA32BitGuiImage) {
  if (std::string(QDPACK_WIN32_DIR).empty()) GTEST_SKIP() << "no Windows builds";
  QD_REQUIRE_TOOL(Objdump);
  const std::string dump = ObjdumpOf(Objdump, QDPACK_WIN32_DIR);
  EXPECT_NE(dump.find("Magic\t\t\t010b\t(PE32)"), std::string::npos);
  EXPECT_NE(dump.find("(Windows GUI)"), std::string::npos);
}

// A package runs from folders where anyone may leave a DLL. Both builds
// import only DLLs that Windows loads from its own directory whatever lies
// beside the program (comctl32 through the manifest's side-by-side
// dependency); any other is loaded from the system directory at run time.
TEST(Product, BothBuildsImportOnlyDllsThatCannotBePlantedBesideThem) {
  if (std::string(QDPACK_WIN32_DIR).empty()) GTEST_SKIP() << "no Windows builds";
  QD_REQUIRE_TOOL(Objdump);
  QD_REQUIRE_TOOL(Objdump64);
  const std::set<std::string> allowed{"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "comctl32.dll",
                                      "msvcrt.dll"};
  for (const auto& [objdump, buildDir] : {std::pair{Objdump, QDPACK_WIN32_DIR}, std::pair{Objdump64, QDPACK_WIN64_DIR}}) {
    const std::set<std::string> imported = ImportedLibraries(ObjdumpOf(objdump, buildDir));
    EXPECT_FALSE(imported.empty()) << buildDir;
    for (const std::string& name : imported) EXPECT_TRUE(allowed.count(name)) << buildDir << " imports " << name;
  }
}

TEST(Product, CarriesItsIconVersionBlockAndManifest) {
  if (std::string(QDPACK_WIN32_DIR).empty()) GTEST_SKIP() << "no Windows builds";
  QD_REQUIRE_TOOL(Windres);
  const std::string product = std::string(QDPACK_WIN32_DIR) + "/src/QdPack.exe";
  const std::string resources = qd::test::Run(Windres.path, {"-i", product, "-O", "rc"}).out;
  // One 32 x 32 icon of 16 colours at 4 bits, in icon group 109.
  EXPECT_NE(resources.find("109 14 /* RT_GROUP_ICON */"), std::string::npos);
  EXPECT_NE(resources.find("\"\\040\\040\\020\\000\", 1, 4,"), std::string::npos);
  EXPECT_NE(resources.find("FILEVERSION 1, 14, 83, 0"), std::string::npos);
  EXPECT_NE(resources.find("VALUE \"ProductName\", \"Qd Engine Updater\""), std::string::npos);
  EXPECT_NE(resources.find("VALUE \"FileVersion\", \"1.14.83a\""), std::string::npos);
  EXPECT_NE(resources.find("VALUE \"Translation\", 0x409, 1200"), std::string::npos);
  // The manifest, as windres prints it: quotation marks doubled.
  EXPECT_NE(resources.find("name=\"\"Qdengine.exe\"\" version=\"\"1.0.0.0\"\" processorArchitecture=\"\"X86\"\""),
            std::string::npos);
  EXPECT_NE(resources.find("Microsoft.Windows.Common-Controls\"\" version=\"\"6.0.0.0\"\""), std::string::npos);
}

}  // namespace
}  // namespace qd::test
