//===- layout.cpp - Byte layout of a package -------------------------------===//
//
// The marker's bytes are defined here once, with external linkage, so that
// the stub holds exactly one copy of its text; every other use of the marker
// goes through PackageMarker().
//
//===----------------------------------------------------------------------===//
#include "package/layout.h"

#include <algorithm>

namespace qd {

// Not constexpr and not static: a constant the compiler could see would be
// free to copy or fold it into other places of the executable.
extern const std::array<std::uint8_t, PackageMarkerSize> PackageMarkerBytes;
const std::array<std::uint8_t, PackageMarkerSize> PackageMarkerBytes = {
    '<', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', 'i', '>'};

std::span<const std::uint8_t, PackageMarkerSize> PackageMarker() { return PackageMarkerBytes; }

// Between its first and its last byte the marker holds one letter eleven
// times over, so a scan that probes every eleventh byte meets one of them in
// any marker; only where a probe finds that letter are the eleven offsets
// before it compared with the marker. Compressed data holds the letter
// rarely, so the scan looks at little more than one byte in eleven.
std::optional<std::size_t> FindMarker(std::span<const std::uint8_t> data, std::size_t from) {
  const auto marker = PackageMarker();
  constexpr std::size_t Run = PackageMarkerSize - 2;
  if (from > data.size() || data.size() - from < marker.size()) return std::nullopt;
  const std::size_t last = data.size() - marker.size();  // the last offset a marker fits at
  for (std::size_t probe = from + Run; probe - Run <= last; probe += Run) {
    if (data[probe] != marker[1]) continue;
    for (std::size_t at = probe - Run; at < probe && at <= last; ++at)
      if (std::equal(marker.begin(), marker.end(), data.begin() + static_cast<std::ptrdiff_t>(at)))
        return at;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindStubEnd(std::span<const std::uint8_t> data) {
  const auto first = FindMarker(data, 0);
  if (!first) return std::nullopt;
  return FindMarker(data, *first + PackageMarkerSize);
}

std::optional<Item> FindItem(std::span<const std::uint8_t> data, std::size_t offset) {
  const auto marker = FindMarker(data, offset);
  if (!marker) return std::nullopt;
  const std::size_t stamp = *marker + PackageMarkerSize;
  if (data.size() - stamp < TimeStampSize) return std::nullopt;
  return Item{offset, *marker, DecodeTimeStamp(data.subspan(stamp).first<TimeStampSize>()),
              stamp + TimeStampSize};
}

std::array<std::uint8_t, TimeStampSize> EncodeTimeStamp(std::uint64_t fileTime) {
  std::array<std::uint8_t, TimeStampSize> bytes{};
  for (std::size_t i = 0; i < TimeStampSize; ++i)
    bytes[i] = static_cast<std::uint8_t>(fileTime >> (8 * i));
  return bytes;
}

std::uint64_t DecodeTimeStamp(std::span<const std::uint8_t, TimeStampSize> bytes) {
  std::uint64_t fileTime = 0;
  for (std::size_t i = TimeStampSize; i-- > 0;) fileTime = fileTime << 8 | bytes[i];
  return fileTime;
}

std::size_t TailLength(std::uint64_t length) {
  return static_cast<std::size_t>((4 - length % 4) % 4) + TailZeroSize;
}

}  // namespace qd
