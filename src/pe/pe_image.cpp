//===- pe_image.cpp - Reading PE images without the operating system -------===//
//
// Offsets into an image are carried as 64-bit values and checked against what
// a read actually returned, so no sum of hostile 32-bit fields can wrap or
// reach past the bytes the caller has. The resource walk visits exactly three
// directory levels, so a directory that points at itself cannot loop.
//
//===----------------------------------------------------------------------===//
#include "pe/pe_image.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

namespace qd::pe {

//===----------------------------------------------------------------------===//
// Headers
//===----------------------------------------------------------------------===//

std::optional<std::uint16_t> LoadU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 2) return std::nullopt;
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::optional<std::uint32_t> LoadU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return std::nullopt;
  return static_cast<std::uint32_t>(bytes[offset]) |
         static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[offset + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

void StoreU32(std::span<std::uint8_t, 4> bytes, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::optional<std::uint32_t> PeHeadersOffset(std::span<const std::uint8_t> dosHeader) {
  if (dosHeader.size() < DosHeaderSize || dosHeader[0] != 'M' || dosHeader[1] != 'Z')
    return std::nullopt;
  return LoadU32(dosHeader, PeOffsetField);
}

bool HasPeSignature(std::span<const std::uint8_t> peHeaders) {
  return peHeaders.size() >= 4 && peHeaders[0] == 'P' && peHeaders[1] == 'E' &&
         peHeaders[2] == 0 && peHeaders[3] == 0;
}

std::optional<std::uint16_t> OptionalHeaderMagic(std::span<const std::uint8_t> peHeaders) {
  return LoadU16(peHeaders, MagicField);
}

bool IsImage(std::span<const std::uint8_t> file) {
  const auto h = PeHeadersOffset(file);
  if (!h || *h > file.size()) return false;
  const auto headers = file.subspan(*h);
  const auto magic = OptionalHeaderMagic(headers);
  return HasPeSignature(headers) && magic && (*magic == Pe32Magic || *magic == Pe32PlusMagic) &&
         headers.size() >= CheckSumField + 4;
}

//===----------------------------------------------------------------------===//
// The image checksum
//===----------------------------------------------------------------------===//

namespace {

// Folds a sum of 16-bit words into 16 bits, the carry added back in. Adding
// words with the fold after every addition gives this same value: both are
// congruent modulo 0xFFFF, and both are 0 only when every word is 0.
std::uint64_t Fold(std::uint64_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return sum;
}

// Eight bytes as a little-endian value.
std::uint64_t LoadLittle64(const std::uint8_t* bytes) {
  std::uint64_t value = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, bytes, sizeof value);
  } else {
    for (std::size_t i = 8; i-- > 0;) value = value << 8 | bytes[i];
  }
  return value;
}

// Adds bytes that sit at file offset `position` onwards: a byte at an even
// offset is a word's low byte, one at an odd offset its high byte.
//
// From an even offset on, eight bytes are taken at a time. Each 32-bit half
// of them is a word plus the next word times 0x10000, which is congruent to
// the two words' sum modulo 0xFFFF, and is 0 only when both words are: so
// adding the halves is adding the words, as Fold counts. Each step adds less
// than 2^33; folding to 33 bits after every 2^20 steps keeps the sum far
// from wrapping.
std::uint64_t AddBytes(std::uint64_t sum, std::uint64_t position,
                       std::span<const std::uint8_t> bytes) {
  constexpr std::size_t StepsBetweenFolds = std::size_t{1} << 20;
  std::size_t i = 0;
  if (position % 2 != 0 && !bytes.empty()) sum += static_cast<std::uint64_t>(bytes[i++]) << 8;
  while (bytes.size() - i >= 8) {
    const std::size_t end = i + std::min((bytes.size() - i) / 8, StepsBetweenFolds) * 8;
    for (; i < end; i += 8) {
      const std::uint64_t eight = LoadLittle64(bytes.data() + i);
      sum += (eight & 0xFFFFFFFF) + (eight >> 32);
    }
    sum = (sum & 0xFFFFFFFF) + (sum >> 32);
  }
  for (; i + 1 < bytes.size(); i += 2) sum += bytes[i] | static_cast<std::uint64_t>(bytes[i + 1]) << 8;
  if (i < bytes.size()) sum += bytes[i];
  return sum;
}

}  // namespace

void AddToChecksum(ChecksumState& state, std::span<const std::uint8_t> bytes) {
  const std::uint64_t begin = state.length;
  const std::uint64_t end = begin + bytes.size();
  std::uint64_t sum = state.sum;
  if (!state.fieldOffset || *state.fieldOffset >= end || *state.fieldOffset + 4 <= begin) {
    sum = AddBytes(sum, begin, bytes);
  } else {
    // The field's bytes in this piece count as zero: add what lies around them.
    const std::uint64_t fieldBegin = std::max(*state.fieldOffset, begin);
    const std::uint64_t fieldEnd = std::min(*state.fieldOffset + 4, end);
    const auto before = static_cast<std::size_t>(fieldBegin - begin);
    const auto after = static_cast<std::size_t>(fieldEnd - begin);
    sum = AddBytes(sum, begin, bytes.first(before));
    sum = AddBytes(sum, fieldEnd, bytes.subspan(after));
  }
  state.sum = Fold(sum);
  state.length = end;
}

void JoinChecksum(ChecksumState& state, const ChecksumState& next) {
  state.sum = Fold(state.sum + next.sum);
  state.length = next.length;
}

std::uint32_t FinishChecksum(const ChecksumState& state) {
  return static_cast<std::uint32_t>(Fold(state.sum) + state.length);
}

std::optional<std::uint64_t> LocateCheckSumField(std::span<const std::uint8_t> dosHeader,
                                                 std::span<const std::uint8_t> peHeaders,
                                                 std::uint64_t fileSize) {
  const auto h = PeHeadersOffset(dosHeader);
  if (!h || !HasPeSignature(peHeaders) || peHeaders.size() < CheckSumField + 4) return std::nullopt;
  const std::uint64_t field = std::uint64_t{*h} + CheckSumField;
  if (field + 4 > fileSize) return std::nullopt;
  return field;
}

std::optional<ImageChecksum> ImageChecksumOf(std::span<const std::uint8_t> image) {
  if (image.empty() || image.size() > 0xFFFFFFFFu) return std::nullopt;
  ChecksumState state;
  ImageChecksum result;
  if (const auto h = PeHeadersOffset(image); h && *h < image.size()) {
    state.fieldOffset = LocateCheckSumField(image, image.subspan(*h), image.size());
    if (state.fieldOffset)
      result.stored = *LoadU32(image, static_cast<std::size_t>(*state.fieldOffset));
  }
  AddToChecksum(state, image);
  result.computed = FinishChecksum(state);
  return result;
}

//===----------------------------------------------------------------------===//
// The version resource
//===----------------------------------------------------------------------===//

namespace {

constexpr std::uint32_t ResourceDirectoryIndex = 2;
constexpr std::uint32_t SecurityDirectoryIndex = 4;
constexpr std::uint32_t RtVersion = 16;
constexpr std::uint32_t VersionInfoName = 1;
constexpr std::uint32_t LanguageNeutral = 0;
constexpr std::uint32_t LanguageUsEnglish = 0x409;
constexpr std::uint32_t HighBit = 0x80000000u;
constexpr std::size_t FileHeaderSize = 24;  // signature and file header
constexpr std::size_t SectionHeaderSize = 40;
constexpr std::size_t FixedFileInfoSize = 52;
// A version block's length is a 16-bit field.
constexpr std::size_t MaxVersionBlock = 0xFFFF;

// Reads exactly `count` bytes at `offset`, or fewer when the image ends.
std::vector<std::uint8_t> ReadUpTo(const ReadAtFn& readAt, std::uint64_t offset, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  const std::size_t got = readAt(offset, bytes);
  bytes.resize(std::min(got, count));
  return bytes;
}

struct Section {
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t rawOffset = 0;
};

// What the PE headers say, as far as the readers below need it.
struct Headers {
  std::uint64_t peOffset = 0;  // H
  std::uint16_t magic = 0;
  std::vector<std::uint8_t> optional;  // the whole optional header
  std::size_t directoryCountField = 0;  // NumberOfRvaAndSizes, by magic
  std::vector<Section> sections;
};

constexpr std::size_t SizeOfHeadersField = 60;  // in the optional header

// The headers of a PE32 or PE32+ image; nullopt when the file has none.
[[nodiscard]] std::optional<Headers> ReadHeaders(const ReadAtFn& readAt) {
  const auto dos = ReadUpTo(readAt, 0, DosHeaderSize);
  const auto h = PeHeadersOffset(dos);
  if (!h) return std::nullopt;
  const auto fileHeader = ReadUpTo(readAt, *h, FileHeaderSize);
  if (fileHeader.size() < FileHeaderSize || !HasPeSignature(fileHeader)) return std::nullopt;
  const std::uint16_t sectionCount = *LoadU16(fileHeader, 6);
  const std::uint16_t optionalSize = *LoadU16(fileHeader, 20);
  const std::uint64_t optionalOffset = std::uint64_t{*h} + FileHeaderSize;

  Headers headers;
  headers.peOffset = *h;
  headers.optional = ReadUpTo(readAt, optionalOffset, optionalSize);
  if (headers.optional.size() < optionalSize) return std::nullopt;
  headers.magic = LoadU16(headers.optional, 0).value_or(0);
  switch (headers.magic) {
    case Pe32Magic: headers.directoryCountField = 92; break;
    case Pe32PlusMagic: headers.directoryCountField = 108; break;
    default: return std::nullopt;
  }

  const auto table = ReadUpTo(readAt, optionalOffset + optionalSize,
                              std::size_t{sectionCount} * SectionHeaderSize);
  for (std::size_t at = 0; at + SectionHeaderSize <= table.size(); at += SectionHeaderSize)
    headers.sections.push_back({*LoadU32(table, at + 12), *LoadU32(table, at + 16), *LoadU32(table, at + 20)});
  return headers;
}

// The data directory's entry `index`: its address (or file offset) and size,
// when the optional header holds it.
[[nodiscard]] std::optional<FileRange> DataDirectory(const Headers& headers, std::uint32_t index) {
  const auto count = LoadU32(headers.optional, headers.directoryCountField);
  if (!count || *count <= index) return std::nullopt;
  const std::size_t entry = headers.directoryCountField + 4 + 8 * std::size_t{index};
  const auto address = LoadU32(headers.optional, entry);
  const auto size = LoadU32(headers.optional, entry + 4);
  if (!address || !size) return std::nullopt;
  return FileRange{*address, *size};
}

// The image as its sections map relative virtual addresses to file offsets.
class ImageView {
 public:
  ImageView(const ReadAtFn& readAt, std::vector<Section> sections)
      : readAt_(readAt), sections_(std::move(sections)) {}

  // `count` bytes at `rva`, or fewer when the section's file data or the file
  // ends before them; empty when no section holds `rva`.
  std::vector<std::uint8_t> Read(std::uint32_t rva, std::size_t count) const {
    for (const Section& s : sections_) {
      if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize) continue;
      const std::uint32_t within = rva - s.virtualAddress;
      const std::size_t available = s.rawSize - within;
      return ReadUpTo(readAt_, std::uint64_t{s.rawOffset} + within, std::min(count, available));
    }
    return {};
  }

 private:
  const ReadAtFn& readAt_;
  std::vector<Section> sections_;
};

// One entry of a resource directory: its name or id and where it points.
struct DirectoryEntry {
  std::uint32_t name = 0;
  std::uint32_t target = 0;
};

// The entries of the directory at `offset` from the resource root, as far as
// the image holds them.
std::vector<DirectoryEntry> ReadDirectory(const ImageView& image, std::uint32_t root,
                                          std::uint32_t offset) {
  if (offset > 0xFFFFFFFFu - root) return {};
  const auto header = image.Read(root + offset, 16);
  if (header.size() < 16) return {};
  const std::size_t count = std::size_t{*LoadU16(header, 12)} + *LoadU16(header, 14);
  if (root + offset > 0xFFFFFFFFu - 16) return {};
  const auto raw = image.Read(root + offset + 16, count * 8);
  std::vector<DirectoryEntry> entries;
  for (std::size_t i = 0; i + 8 <= raw.size(); i += 8)
    entries.push_back({*LoadU32(raw, i), *LoadU32(raw, i + 4)});
  return entries;
}

// The target of the entry with numeric id `id`.
[[nodiscard]] std::optional<std::uint32_t> FindId(const std::vector<DirectoryEntry>& entries, std::uint32_t id) {
  for (const auto& e : entries)
    if ((e.name & HighBit) == 0 && (e.name & 0xFFFF) == id) return e.target;
  return std::nullopt;
}

// Reads the fixed file information out of a VS_VERSIONINFO block: a 16-bit
// length, value length and type, a zero-terminated UTF-16 key, padding to 32
// bits, then the value.
VersionResource ParseVersionBlock(std::span<const std::uint8_t> block) {
  VersionResource result;
  const auto length = LoadU16(block, 0);
  const auto valueLength = LoadU16(block, 2);
  if (!length || !valueLength) return result;
  block = block.first(std::min<std::size_t>(block.size(), *length));
  std::size_t keyEnd = 6;
  while (true) {
    const auto c = LoadU16(block, keyEnd);
    if (!c) return result;
    keyEnd += 2;
    if (*c == 0) break;
  }
  const std::size_t value = (keyEnd + 3) & ~std::size_t{3};
  if (*valueLength < FixedFileInfoSize || value > block.size() ||
      block.size() - value < FixedFileInfoSize)
    return result;
  if (LoadU32(block, value) != FixedFileInfoSignature) return result;
  result.hasFixedInfo = true;
  result.fileVersionMS = *LoadU32(block, value + 8);
  result.fileVersionLS = *LoadU32(block, value + 12);
  return result;
}

}  // namespace

std::optional<VersionResource> FindVersionResource(const ReadAtFn& readAt) {
  auto headers = ReadHeaders(readAt);
  if (!headers) return std::nullopt;
  const auto resources = DataDirectory(*headers, ResourceDirectoryIndex);
  if (!resources || resources->offset == 0) return std::nullopt;
  const auto root = static_cast<std::uint32_t>(resources->offset);

  // The section table maps the resource's addresses to file offsets.
  const ImageView image(readAt, std::move(headers->sections));

  // Type RT_VERSION, name 1, then a language: three levels, no more.
  const auto type = FindId(ReadDirectory(image, root, 0), RtVersion);
  if (!type || (*type & HighBit) == 0) return std::nullopt;
  const auto name = FindId(ReadDirectory(image, root, *type & ~HighBit), VersionInfoName);
  if (!name || (*name & HighBit) == 0) return std::nullopt;
  const auto languages = ReadDirectory(image, root, *name & ~HighBit);
  auto language = FindId(languages, LanguageNeutral);
  if (!language) language = FindId(languages, LanguageUsEnglish);
  if (!language && !languages.empty()) language = languages.front().target;
  if (!language || (*language & HighBit) != 0 || *language > 0xFFFFFFFFu - root)
    return std::nullopt;

  // The data entry: the block's address and size.
  const auto dataEntry = image.Read(root + *language, 8);
  if (dataEntry.size() < 8) return std::nullopt;
  const std::uint32_t size = *LoadU32(dataEntry, 4);
  if (size == 0) return std::nullopt;
  const auto block = image.Read(*LoadU32(dataEntry, 0), std::min<std::size_t>(size, MaxVersionBlock));
  if (block.empty()) return std::nullopt;
  return ParseVersionBlock(block);
}

std::optional<VersionResource> FindVersionResource(std::span<const std::uint8_t> image) {
  const ReadAtFn readAt = [image](std::uint64_t offset, std::span<std::uint8_t> buffer) {
    if (offset >= image.size()) return std::size_t{0};
    const auto from = image.subspan(static_cast<std::size_t>(offset));
    const std::size_t count = std::min(from.size(), buffer.size());
    std::copy_n(from.begin(), count, buffer.begin());
    return count;
  };
  return FindVersionResource(readAt);
}

//===----------------------------------------------------------------------===//
// Where an image ends in its file
//===----------------------------------------------------------------------===//

std::optional<ImageExtent> FindImageExtent(const ReadAtFn& readAt) {
  const auto headers = ReadHeaders(readAt);
  if (!headers) return std::nullopt;
  ImageExtent extent;
  extent.magic = headers->magic;
  extent.end = LoadU32(headers->optional, SizeOfHeadersField).value_or(0);
  for (const Section& s : headers->sections)
    if (s.rawSize != 0) extent.end = std::max(extent.end, std::uint64_t{s.rawOffset} + s.rawSize);
  const auto security = DataDirectory(*headers, SecurityDirectoryIndex);
  if (security && security->size != 0) extent.certificateTable = security;
  const std::uint64_t optionalOffset = headers->peOffset + FileHeaderSize;
  if (headers->optional.size() >= CheckSumField - FileHeaderSize + 4)
    extent.checkSumField = optionalOffset + (CheckSumField - FileHeaderSize);
  const std::size_t entry = headers->directoryCountField + 4 + 8 * std::size_t{SecurityDirectoryIndex};
  const auto count = LoadU32(headers->optional, headers->directoryCountField);
  if (count && *count > SecurityDirectoryIndex && headers->optional.size() >= entry + 8)
    extent.certificateEntry = optionalOffset + entry;
  return extent;
}

std::optional<std::vector<FileRange>> AuthenticodeDigestRanges(const ImageExtent& extent, std::uint64_t fileSize) {
  if (!extent.checkSumField || !extent.certificateEntry) return std::nullopt;
  const std::uint64_t checkSum = *extent.checkSumField;
  const std::uint64_t entry = *extent.certificateEntry;
  const std::uint64_t end = extent.certificateTable ? extent.certificateTable->offset : fileSize;
  if (checkSum + 4 > entry || entry + 8 > end || end > fileSize) return std::nullopt;
  return std::vector<FileRange>{{0, checkSum}, {checkSum + 4, entry - checkSum - 4}, {entry + 8, end - entry - 8}};
}

}  // namespace qd::pe
