//===- test_images.h - Small PE images made byte by byte for tests ---------===//
//
// A minimal image: DOS header, PE headers (32-bit or 64-bit optional header),
// one section ".rsrc" whose resource directory leads, in three levels, to a
// VS_VERSIONINFO block. Each field that a reader looks at can be set, so tests
// can make well-formed and broken images alike.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qd::test {

struct ImageShape {
  std::uint16_t magic = 0x10B;
  std::uint32_t peOffset = 0x80;
  std::uint32_t checkSum = 0;
  bool withResource = true;
  std::uint16_t typeId = 16;       // RT_VERSION
  std::uint16_t nameId = 1;
  std::vector<std::uint16_t> languages = {0x409};
  std::uint16_t valueLength = 52;  // 0: a block without fixed file information
  std::uint32_t signature = 0xFEEF04BD;
  std::uint32_t versionMS = 0x00020005;
  std::uint32_t versionLS = 0x00070003;
  std::size_t trailing = 0;        // bytes of 0x5A after the section
};

// Offsets within the image that tests patch.
inline constexpr std::size_t SectionOffset = 0x200;  // the file offset of ".rsrc"
inline constexpr std::uint32_t SectionRva = 0x1000;

inline void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::vector<std::uint8_t> MakeImage(const ImageShape& shape = {}) {
  const bool plus = shape.magic == 0x20B;
  const std::size_t optionalSize = plus ? 240 : 224;
  const std::size_t h = shape.peOffset;
  std::vector<std::uint8_t> b(SectionOffset + 0x200, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 60, shape.peOffset);
  b[h] = 'P';
  b[h + 1] = 'E';
  Put16(b, h + 4, plus ? 0x8664 : 0x14C);
  Put16(b, h + 6, 1);                                         // sections
  Put16(b, h + 20, static_cast<std::uint16_t>(optionalSize));
  Put16(b, h + 22, 0x0102);
  const std::size_t opt = h + 24;
  Put16(b, opt, shape.magic);
  Put32(b, opt + 56, 0x2000);                                 // SizeOfImage
  Put32(b, opt + 60, SectionOffset);                          // SizeOfHeaders
  Put32(b, opt + 64, shape.checkSum);
  const std::size_t directories = opt + (plus ? 112 : 96);
  Put32(b, directories - 4, 16);                              // NumberOfRvaAndSizes

  // Section header.
  const std::size_t sh = opt + optionalSize;
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (std::size_t i = 0; i < 8; ++i) b[sh + i] = static_cast<std::uint8_t>(name[i]);
  Put32(b, sh + 8, 0x200);
  Put32(b, sh + 12, SectionRva);
  Put32(b, sh + 16, 0x200);
  Put32(b, sh + 20, SectionOffset);
  Put32(b, sh + 36, 0x40000040);

  if (shape.withResource) {
    // Root, type and name directories with one entry each; a language
    // directory with one entry per language, all pointing at one data entry.
    const std::size_t r = SectionOffset;
    const std::size_t languageDir = 0x30;
    const std::size_t dataEntry = languageDir + 16 + 8 * shape.languages.size();
    const std::size_t block = dataEntry + 16;
    Put16(b, r + 14, 1);
    Put32(b, r + 16, shape.typeId);
    Put32(b, r + 20, 0x80000018);
    Put16(b, r + 0x18 + 14, 1);
    Put32(b, r + 0x18 + 16, shape.nameId);
    Put32(b, r + 0x18 + 20, 0x80000000 | languageDir);
    Put16(b, r + languageDir + 14, static_cast<std::uint16_t>(shape.languages.size()));
    for (std::size_t i = 0; i < shape.languages.size(); ++i) {
      Put32(b, r + languageDir + 16 + 8 * i, shape.languages[i]);
      Put32(b, r + languageDir + 20 + 8 * i, static_cast<std::uint32_t>(dataEntry));
    }
    const std::size_t blockSize = 40 + shape.valueLength;
    Put32(b, r + dataEntry, SectionRva + static_cast<std::uint32_t>(block));
    Put32(b, r + dataEntry + 4, static_cast<std::uint32_t>(blockSize));
    const std::size_t v = r + block;
    Put16(b, v, static_cast<std::uint16_t>(blockSize));
    Put16(b, v + 2, shape.valueLength);
    const std::string key = "VS_VERSION_INFO";
    for (std::size_t i = 0; i < key.size(); ++i) b[v + 6 + 2 * i] = static_cast<std::uint8_t>(key[i]);
    if (shape.valueLength >= 52) {
      Put32(b, v + 40, shape.signature);
      Put32(b, v + 44, 0x00010000);
      Put32(b, v + 48, shape.versionMS);
      Put32(b, v + 52, shape.versionLS);
      Put32(b, v + 56, shape.versionMS);
      Put32(b, v + 60, shape.versionLS);
    }
    Put32(b, directories + 16, SectionRva);
    Put32(b, directories + 20, static_cast<std::uint32_t>(block + blockSize));
  }
  b.insert(b.end(), shape.trailing, 0x5A);
  return b;
}

}  // namespace qd::test
