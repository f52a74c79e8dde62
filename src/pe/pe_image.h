//===- pe_image.h - Reading PE images without the operating system ---------===//
//
// The parts of a PE image that the system looks at: the headers that locate
// the CheckSum field, the image checksum rule, and the file version in the
// version resource. Everything here works on bytes the caller supplies and
// needs no operating system, so the POSIX platform layer can name and seal
// Windows files on a Linux build server, the package code can stamp a
// checksum, and the same rules can be tested and fuzzed without a file. Every offset and
// count read from an image is hostile: a malformed image gives "no header" or
// "no version", never a read outside the bytes supplied and never a loop
// without end.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace qd::pe {

//===----------------------------------------------------------------------===//
// Headers
//===----------------------------------------------------------------------===//

// The DOS header is read as this many bytes; the offset H of the PE headers
// is the 32-bit value at PeOffsetField.
inline constexpr std::size_t DosHeaderSize = 64;
inline constexpr std::size_t PeOffsetField = 60;
// The 32-bit image's PE headers, from H: signature 4, file header 20,
// optional header 224.
inline constexpr std::size_t Pe32HeadersSize = 248;
// Positions from H: the optional header's magic and its CheckSum field (the
// same place in 32-bit and 64-bit images).
inline constexpr std::size_t MagicField = 24;
inline constexpr std::size_t CheckSumField = 88;
inline constexpr std::uint16_t Pe32Magic = 0x10B;
inline constexpr std::uint16_t Pe32PlusMagic = 0x20B;

// H, when `dosHeader` holds at least DosHeaderSize bytes starting with "MZ".
[[nodiscard]] std::optional<std::uint32_t> PeHeadersOffset(std::span<const std::uint8_t> dosHeader);
// True when `peHeaders` (the bytes from H) start with "PE" and two zero bytes.
[[nodiscard]] bool HasPeSignature(std::span<const std::uint8_t> peHeaders);
// The optional header magic of `peHeaders`, when there are enough bytes.
[[nodiscard]] std::optional<std::uint16_t> OptionalHeaderMagic(std::span<const std::uint8_t> peHeaders);
// True when `file` (a whole file, or its start) holds a 32-bit or 64-bit
// image's headers up to its CheckSum field: an image that can be sealed.
[[nodiscard]] bool IsImage(std::span<const std::uint8_t> file);

// Little-endian loads from `bytes` at `offset`; nullopt past the end.
[[nodiscard]] std::optional<std::uint16_t> LoadU16(std::span<const std::uint8_t> bytes, std::size_t offset);
[[nodiscard]] std::optional<std::uint32_t> LoadU32(std::span<const std::uint8_t> bytes, std::size_t offset);
void StoreU32(std::span<std::uint8_t, 4> bytes, std::uint32_t value);

//===----------------------------------------------------------------------===//
// The image checksum
//
// The file is read as little-endian 16-bit words (an odd final byte is a word
// whose high byte is 0); the four bytes of the CheckSum field count as zero;
// the words are added with the carry folded back into the low 16 bits; the
// checksum is that sum plus the file's length. Feed the file in pieces of
// any size, in order.
//===----------------------------------------------------------------------===//

struct ChecksumState {
  // File offset of the CheckSum field, or nullopt when the file is no image
  // and every byte counts.
  std::optional<std::uint64_t> fieldOffset;
  std::uint64_t length = 0;  // bytes fed so far
  std::uint64_t sum = 0;     // words added so far, folded only at the end
};

void AddToChecksum(ChecksumState& state, std::span<const std::uint8_t> bytes);
// Adds to `state` the bytes that `next` summed, from where `state` ends on:
// the two stretches then count as one.
void JoinChecksum(ChecksumState& state, const ChecksumState& next);
std::uint32_t FinishChecksum(const ChecksumState& state);

// The file offset of the CheckSum field (H + 88) when the image has the DOS
// and PE signatures and the whole field lies within `fileSize` bytes.
// `dosHeader` is the start of the file, `peHeaders` the bytes from H (at
// least the first CheckSumField + 4 of them, or fewer when the file ends).
[[nodiscard]] std::optional<std::uint64_t> LocateCheckSumField(std::span<const std::uint8_t> dosHeader,
                                                               std::span<const std::uint8_t> peHeaders,
                                                               std::uint64_t fileSize);

// The CheckSum field stored in an image's optional header and the checksum
// computed over the whole file.
struct ImageChecksum {
  std::uint32_t stored = 0;
  std::uint32_t computed = 0;
};

// Both values for an image held whole in memory.
[[nodiscard]] std::optional<ImageChecksum> ImageChecksumOf(std::span<const std::uint8_t> image);

//===----------------------------------------------------------------------===//
// The version resource
//
// Follows the resource directory to type RT_VERSION (16), name 1, and the
// neutral language (else US English, else the first language present), then
// reads the VS_VERSIONINFO block there; its value is the fixed file
// information when it is at least 52 bytes long and carries the signature
// 0xFEEF04BD. PE32 and PE32+ images.
//===----------------------------------------------------------------------===//

inline constexpr std::uint32_t FixedFileInfoSignature = 0xFEEF04BD;

// A file's version resource. `hasFixedInfo` is false when the resource exists
// but holds no fixed file information.
struct VersionResource {
  bool hasFixedInfo = false;
  std::uint32_t fileVersionMS = 0;
  std::uint32_t fileVersionLS = 0;
};

// Reads up to `buffer.size()` bytes at `offset` of the image into `buffer`;
// returns the count read, which is smaller at the end of the image (0 past
// it or on failure).
using ReadAtFn = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> buffer)>;

// nullopt when the image has no version resource or is malformed.
[[nodiscard]] std::optional<VersionResource> FindVersionResource(const ReadAtFn& readAt);
[[nodiscard]] std::optional<VersionResource> FindVersionResource(std::span<const std::uint8_t> image);

//===----------------------------------------------------------------------===//
// Where an image ends in its file
//
// The headers and each section's file data make up the image; whatever a
// file holds after them (a package's items, a certificate table) is no part
// of it. A code-signing step appends a certificate table at the end of the
// file and records it in the security entry of the optional header's data
// directory, whose first field is a file offset, not an address. Its
// signature covers a digest of the rest of the file.
//===----------------------------------------------------------------------===//

struct FileRange {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

struct ImageExtent {
  std::uint16_t magic = 0;  // Pe32Magic or Pe32PlusMagic
  // The end of the headers (SizeOfHeaders) or of the furthest section's
  // file data, whichever lies further.
  std::uint64_t end = 0;
  // The security directory's stretch, when the entry is there and not empty.
  std::optional<FileRange> certificateTable;
  // File offsets of the CheckSum field and of the security directory's
  // entry (8 bytes), when the optional header holds them.
  std::optional<std::uint64_t> checkSumField;
  std::optional<std::uint64_t> certificateEntry;
};

// nullopt when the file holds no PE32 or PE32+ headers.
[[nodiscard]] std::optional<ImageExtent> FindImageExtent(const ReadAtFn& readAt);

// The stretches of a file of `fileSize` bytes that an Authenticode
// signature's image digest covers, in order: the whole file up to its
// certificate table (or its end, when it has none), but the CheckSum field
// and the security directory's entry, which signing changes. nullopt when
// the headers lack either field, or the table does not lie after them.
std::optional<std::vector<FileRange>> AuthenticodeDigestRanges(const ImageExtent& extent, std::uint64_t fileSize);

}  // namespace qd::pe
