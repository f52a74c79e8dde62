//===- product_image_test.cpp - What QdPack.exe is as a Windows image -------===//
//
// The product is a 32-bit GUI executable that needs nothing but the
// operating system's own libraries, and carries its icon, version block,
// manifest, and the progress dialog's template and side picture. The
// resources are read from what windres makes of the built image.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>

#include "support/files.h"
#include "support/process.h"
#include "support/tools.h"
#include "pe/pe_image.h"

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

TEST(Product, CarriesTheProgressDialogTemplate) {
  if (std::string(QDPACK_WIN32_DIR).empty()) GTEST_SKIP() << "no Windows builds";
  QD_REQUIRE_TOOL(Windres);
  const std::string product = std::string(QDPACK_WIN32_DIR) + "/src/QdPack.exe";
  const std::string resources = qd::test::Run(Windres.path, {"-i", product, "-O", "rc"}).out;
  // As windres writes a template back: a control of class Button or Static
  // given by its atom (0x80, 0x82) is a DEFPUSHBUTTON, PUSHBUTTON or LTEXT,
  // or the number 130; a font of weight 0, not italic, character set 1 shows
  // no more than its size and name; the progress bar's class is in capitals,
  // as windres stores it. Then styles, and extended style and help id.
  EXPECT_NE(resources.find("101 DIALOGEX 0, 0, 336, 222\n"
                           "STYLE 0x80c800c0\n"  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
                           "CAPTION \"?\"\n"
                           "FONT 8, \"MS Sans Serif\"\n"
                           "BEGIN\n"
                           "  DEFPUSHBUTTON \"?\", 1, 217, 199, 49, 14, 0x50010001\n"
                           "  PUSHBUTTON \"?\", 2, 275, 199, 49, 14, 0x50010000\n"
                           "  PUSHBUTTON \"?\", 3, 168, 199, 49, 14, 0x58010000\n"
                           "  CONTROL \"Progress2\", 1002, \"MSCTLS_PROGRESS32\", 0x50800001, 115, 158, 195, 9, 0x20, 0\n"
                           "  LTEXT \"?\", 1005, 115, 40, 196, 60, 0x50020000, 0x20, 0\n"
                           "  LTEXT \"?\", 1007, 115, 132, 195, 22, 0x50020000, 0x20, 0\n"
                           "  LTEXT \"?\", 1012, 115, 7, 195, 24, 0x50020000, 0x20, 0\n"
                           "  CONTROL 103, 1014, 130, 0x5000000e, 0, 0, 336, 193, 0x20, 0\n"
                           "END\n"),
            std::string::npos)
      << resources;
}

// The data of the product's resource with this numeric type and name, from
// the .res file windres makes of it: entries of a header (the data's size,
// the header's size, type, name) and the data, each on a 4-byte boundary.
std::vector<std::uint8_t> ProductResource(std::uint16_t type, std::uint16_t name) {
  ScratchDir dir;
  Run(Windres.path, {"-i", std::string(QDPACK_WIN32_DIR) + "/src/QdPack.exe", "-O", "res", "-o",
                     (dir / "product.res").string()});
  const std::vector<std::uint8_t> res = ReadAll(dir / "product.res");
  const auto u16 = [&res](std::size_t at) { return at + 2 <= res.size() ? res[at] | res[at + 1] << 8 : 0; };
  const auto u32 = [&u16](std::size_t at) { return static_cast<std::size_t>(u16(at) | u16(at + 2) << 16); };
  for (std::size_t at = 0; at + 16 <= res.size(); at = (at + u32(at + 4) + u32(at) + 3) / 4 * 4)
    if (u16(at + 8) == 0xFFFF && u16(at + 10) == type && u16(at + 12) == 0xFFFF && u16(at + 14) == name)
      return {res.begin() + static_cast<std::ptrdiff_t>(at + u32(at + 4)),
              res.begin() + static_cast<std::ptrdiff_t>(at + u32(at + 4) + u32(at))};
  return {};
}

TEST(Product, CarriesADarkSidePictureWithAnEmblemNearItsTop) {
  if (std::string(QDPACK_WIN32_DIR).empty()) GTEST_SKIP() << "no Windows builds";
  QD_REQUIRE_TOOL(Windres);
  const std::vector<std::uint8_t> bitmap = ProductResource(2, 103);
  constexpr int Width = 164, Height = 314, RowBytes = 84;
  ASSERT_EQ(bitmap.size(), 40u + 16 * 4 + RowBytes * Height) << "header, 16 colours, rows of 4-bit pixels";
  const auto u32 = [&bitmap](std::size_t at) { return *pe::LoadU32(bitmap, at); };
  // Header size, width, height (positive: bottom-up), 1 plane and 4 bits,
  // no compression, the pixels' size, 3780 pixels per metre both ways.
  EXPECT_EQ((std::vector{u32(0), u32(4), u32(8), u32(12), u32(16), u32(20), u32(24), u32(28)}),
            (std::vector<std::uint32_t>{40, Width, Height, 1 | 4 << 16, 0, RowBytes * Height, 3780, 3780}));
  // The standard 16-colour palette: blue, green, red and a zero byte each,
  // which read as one little-endian number is 0x00RRGGBB.
  const std::uint32_t standard[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                      0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                      0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(u32(40 + 4 * i), standard[i]) << "colour " << i;
  // Dark: black, navy or teal nearly everywhere; the emblem's bright colours
  // only in the top two fifths.
  int dark = 0, brightLow = 0, brightHigh = 0;
  for (int row = 0; row < Height; ++row) {
    const int y = Height - 1 - row;  // bottom-up
    for (int x = 0; x < Width; ++x) {
      const std::uint8_t pair = bitmap[40 + 64 + static_cast<std::size_t>(row * RowBytes + x / 2)];
      const int index = x % 2 == 0 ? pair >> 4 : pair & 0x0F;
      if (index == 0 || index == 4 || index == 6) ++dark;
      if (index >= 9) ++(y < Height * 2 / 5 ? brightHigh : brightLow);
    }
  }
  EXPECT_GT(dark, Width * Height * 9 / 10);
  EXPECT_GT(brightHigh, 200) << "an emblem near the top";
  EXPECT_EQ(brightLow, 0);
}

}  // namespace
}  // namespace qd::test
