//===- layout_fuzz.cpp - The package readers on arbitrary bytes --------------===//
//
// Walks a buffer as the installer walks its own file: the stub's end, then
// item after item until none is left. Every item must lie within the buffer,
// end in a marker, and move the walk forward; and the reader that streams a
// file in pieces must find the same pieces as the reader of the whole file,
// whether it decodes each item or only passes over it.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstdlib>

#include "package/layout.h"
#include "package/reader.h"
#include "support/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  // The streaming reader delivers the data in reads of a size taken from it.
  const std::size_t step = size == 0 ? 1 : std::size_t{1} + data[0] % 97;
  qd::PackageReader reader(qd::test::ReadsOf(bytes, 0, step), 0, size);
  const auto ignore = [](std::span<const std::uint8_t>) { return true; };
  // One that only passes over the items, in reads of another size.
  qd::PackageReader skipper(qd::test::ReadsOf(bytes, 0, 2 * step + 1), 0, size);

  const auto stubEnd = qd::FindStubEnd(bytes);
  const qd::Piece stub = reader.CopyStub(ignore);
  if (skipper.CopyStub(ignore).status != stub.status) std::abort();
  if ((stub.status == qd::PieceStatus::Ok) != stubEnd.has_value()) std::abort();
  if (!stubEnd) return 0;
  if (*stubEnd + qd::PackageMarkerSize > size || stub.packedSize != *stubEnd) std::abort();
  const auto marker = qd::PackageMarker();
  std::size_t next = qd::FirstItemOffset(*stubEnd);
  for (;;) {
    const auto item = qd::FindItem(bytes, next);
    const qd::Piece piece = reader.UnpackItem(ignore);
    const qd::Piece skipped = skipper.SkipItem();
    if (!item) {
      if (piece.status == qd::PieceStatus::Ok || skipped.status == qd::PieceStatus::Ok) std::abort();
      return 0;
    }
    if (skipped.status != qd::PieceStatus::Ok || skipped.packedSize != item->streamEnd - next ||
        skipped.timeStamp != item->timeStamp || skipper.Position() != item->next)
      std::abort();
    if (item->streamBegin != next || item->streamEnd < next || item->next <= next || item->next > size)
      std::abort();
    if (!std::equal(marker.begin(), marker.end(), bytes.begin() + static_cast<std::ptrdiff_t>(item->streamEnd)))
      std::abort();
    if (item->timeStamp != qd::DecodeTimeStamp(bytes.subspan(item->streamEnd + qd::PackageMarkerSize)
                                                   .first<qd::TimeStampSize>()))
      std::abort();
    // Where the whole file has an item, the streaming reader finds the same
    // one, whether or not its stream decodes.
    if (piece.status == qd::PieceStatus::NoMarker || piece.packedSize != item->streamEnd - next) std::abort();
    if (piece.status == qd::PieceStatus::Ok && (piece.timeStamp != item->timeStamp || reader.Position() != item->next))
      std::abort();
    if (piece.status != qd::PieceStatus::Ok) return 0;
    next = item->next;
  }
}
