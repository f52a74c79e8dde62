//===- pe_version_fuzz.cpp - The PE readers on arbitrary bytes -------------===//
//
// The version reader and the checksum rule take any bytes as an image: they
// must end, stay within the bytes, and the checksum must not depend on how
// the file is split into pieces.
//
//===----------------------------------------------------------------------===//
#include <cstdlib>

#include "pe/pe_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> image(data, size);
  const auto version = qd::pe::FindVersionResource(image);
  if (version && !version->hasFixedInfo && (version->fileVersionMS | version->fileVersionLS) != 0)
    std::abort();

  const auto whole = qd::pe::ImageChecksumOf(image);
  if (!whole) return 0;
  qd::pe::ChecksumState state;
  if (const auto h = qd::pe::PeHeadersOffset(image); h && *h < size)
    state.fieldOffset = qd::pe::LocateCheckSumField(image, image.subspan(*h), size);
  // Pieces of a size taken from the data's first byte.
  const std::size_t piece = 1 + data[0] % 13;
  for (std::size_t at = 0; at < size; at += piece)
    qd::pe::AddToChecksum(state, image.subspan(at, std::min(piece, size - at)));
  if (qd::pe::FinishChecksum(state) != whole->computed) std::abort();
  return 0;
}
