//===- layout_fuzz.cpp - The package layout reader on arbitrary bytes -------===//
//
// Walks a buffer as the installer walks its own file: the stub's end, then
// item after item until none is left. Every item must lie within the buffer,
// end in a marker, and move the walk forward.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstdlib>

#include "package/layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const auto stubEnd = qd::FindStubEnd(bytes);
  if (!stubEnd) return 0;
  if (*stubEnd + qd::PackageMarkerSize > size) std::abort();
  const auto marker = qd::PackageMarker();
  std::size_t at = qd::FirstItemOffset(*stubEnd);
  while (const auto item = qd::FindItem(bytes, at)) {
    if (item->streamBegin != at || item->streamEnd < at || item->next <= at || item->next > size)
      std::abort();
    if (!std::equal(marker.begin(), marker.end(), bytes.begin() + static_cast<std::ptrdiff_t>(item->streamEnd)))
      std::abort();
    if (item->timeStamp != qd::DecodeTimeStamp(bytes.subspan(item->streamEnd + qd::PackageMarkerSize)
                                                   .first<qd::TimeStampSize>()))
      std::abort();
    at = item->next;
  }
  return 0;
}
