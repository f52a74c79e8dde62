//===- image.cpp - Image checksum and version resource, read from the file --===//
//
// Portable: the rules themselves are in src/pe/, and the file is read
// through the table of operations. The POSIX build has no library of the
// system's to ask and uses this; Windows asks its own (win32/image.cpp).
// The checksum is computed as the file is read, a block at a time, so an
// image of any size costs one buffer; the headers that locate the CheckSum
// field come from the first block.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <array>
#include <memory>

#include "pe/pe_image.h"
#include "platform/platform.h"

namespace qd::platform {

namespace {

// The file is read in blocks of this size: few reads, and a block that stays
// in the processor's cache while it is summed.
constexpr std::size_t ChunkSize = std::size_t{1} << 18;

}  // namespace

std::optional<ImageChecksum> ComputeImageChecksum(std::string_view path) {
  File file = OpenForReading(path);
  if (!file.IsOpen()) return std::nullopt;
  const auto size = FileSize(file);
  // The field that holds the length in the checksum is 32 bits wide, and an
  // empty file cannot be mapped as an image.
  if (!size || *size == 0 || *size > 0xFFFFFFFFu) return std::nullopt;

  // The first block read holds the headers of any image but an odd one.
  const auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkSize);
  const std::span<std::uint8_t> buffer(chunk.get(), ChunkSize);
  const auto firstRead = ReadAt(file, 0, buffer);
  if (!firstRead) return std::nullopt;
  const std::span<const std::uint8_t> first = buffer.first(*firstRead);

  pe::ChecksumState state;
  ImageChecksum result;
  // A header that cannot be read is no header that is missing: the sum
  // would count the CheckSum field and come out wrong.
  const auto dos = first.first(std::min(first.size(), pe::DosHeaderSize));
  if (const auto h = pe::PeHeadersOffset(dos)) {
    std::array<std::uint8_t, pe::CheckSumField + 4> far{};
    std::span<const std::uint8_t> headers;
    if (*h <= first.size() && first.size() - *h >= far.size()) {
      headers = first.subspan(*h, far.size());
    } else {
      const auto headersRead = ReadAt(file, *h, far);
      if (!headersRead || !SeekTo(file, first.size())) return std::nullopt;
      headers = std::span(far).first(*headersRead);
    }
    state.fieldOffset = pe::LocateCheckSumField(dos, headers, *size);
    if (state.fieldOffset) result.stored = *pe::LoadU32(headers, pe::CheckSumField);
  }

  pe::AddToChecksum(state, first);
  while (state.length < *size) {
    const std::int64_t got = ReadBytes(file, buffer);
    if (got <= 0) return std::nullopt;  // the file shrank or cannot be read
    pe::AddToChecksum(state, buffer.first(static_cast<std::size_t>(got)));
  }
  if (state.length != *size) return std::nullopt;
  result.computed = pe::FinishChecksum(state);
  return result;
}

std::optional<VersionResource> ReadVersionResource(std::string_view path) {
  File file = OpenForReading(path);
  if (!file.IsOpen()) return std::nullopt;
  // A read that fails finds no resource, as the end of the file does.
  return pe::FindVersionResource([&file](std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return ReadAt(file, offset, buffer).value_or(0);
  });
}

}  // namespace qd::platform
