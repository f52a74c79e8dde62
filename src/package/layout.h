//===- layout.h - Byte layout of a package ---------------------------------===//
//
// A package is the stub executable, the package marker, and one item per
// packed file (script first): an implode stream, the marker, and the file's
// 8-byte time stamp; then zero bytes up to a multiple of 4 and four more.
// No lengths are stored: the marker delimits everything, so the stub holds
// the marker's text exactly once (the constant its own reader searches for),
// and a reader skips that first match and takes the second as the stub's end.
//
// The readers work on the bytes a caller has read and never look past them:
// when the data ends before the next marker (or inside the time stamp after
// it), there is no item.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qd {

inline constexpr std::size_t PackageMarkerSize = 13;
inline constexpr std::size_t TimeStampSize = 8;
// A package's last bytes: up to 3 zero bytes of padding, then these 4.
inline constexpr std::size_t TailZeroSize = 4;

// The package marker "<iiiiiiiiiii>". Its text stands exactly once in the
// stub: here.
std::span<const std::uint8_t, PackageMarkerSize> PackageMarker();

// The offset of the first marker at or after `from` that lies wholly within
// `data`.
[[nodiscard]] std::optional<std::size_t> FindMarker(std::span<const std::uint8_t> data, std::size_t from);

// The length of the stub: the offset of the second marker in `data`. Item 0
// starts PackageMarkerSize bytes after it (FirstItemOffset).
[[nodiscard]] std::optional<std::size_t> FindStubEnd(std::span<const std::uint8_t> data);
inline std::size_t FirstItemOffset(std::size_t stubEnd) { return stubEnd + PackageMarkerSize; }

// One item: its stream is data[streamBegin, streamEnd), the marker follows,
// then the time stamp; the next item starts at `next`.
struct Item {
  std::size_t streamBegin = 0;
  std::size_t streamEnd = 0;
  std::uint64_t timeStamp = 0;
  std::size_t next = 0;
};

// The item that starts at `offset`; nullopt when `data` ends before a marker
// and the full time stamp after it.
[[nodiscard]] std::optional<Item> FindItem(std::span<const std::uint8_t> data, std::size_t offset);

// A time stamp as stored: two 32-bit little-endian words, the low word first.
std::array<std::uint8_t, TimeStampSize> EncodeTimeStamp(std::uint64_t fileTime);
std::uint64_t DecodeTimeStamp(std::span<const std::uint8_t, TimeStampSize> bytes);

// How many zero bytes end a package whose items end at `length`: padding to a
// multiple of 4, then TailZeroSize more.
std::size_t TailLength(std::uint64_t length);

}  // namespace qd
