//===- layout.h - Byte layout of a package ---------------------------------===//
//
// A package is the stub executable, the package marker, and one item per
// packed file (script first): an implode stream, the marker, and the file's
// 8-byte time stamp. No lengths are stored: the marker delimits everything.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qd {

inline constexpr std::size_t PackageMarkerSize = 13;
inline constexpr std::size_t TimeStampSize = 8;

// The package marker "<iiiiiiiiiii>". Its text stands exactly once in the
// stub: here.
std::span<const std::uint8_t, PackageMarkerSize> PackageMarker();

}  // namespace qd
