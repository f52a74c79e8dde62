//===- codec.h - Implode-format compressor and decompressor ----------------===//
//
// The system's own codec for the implode stream format: ExplodeStream and
// ImplodeStream work through read and write callbacks on a caller-owned,
// zero-filled state record; CompressToMemory and DecompressToMemory run them
// from one memory buffer into another with binary literals and the
// 4096-byte dictionary, the settings of every stream in a package.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>

namespace qd {

// Compresses `sourceSize` bytes at `source` into at most `destinationCapacity`
// bytes at `destination`: the stream's length, or -1 when it does not fit or
// no work memory can be had.
std::int32_t CompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                              const std::uint8_t* source, std::uint32_t sourceSize);

// Decompresses the stream of `sourceSize` bytes at `source` into at most
// `destinationCapacity` bytes at `destination`: the number of bytes produced,
// or -1. A malformed stream also shows the box "Value of uiRep" with the
// decoder's result.
std::int32_t DecompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                                const std::uint8_t* source, std::uint32_t sourceSize);

}  // namespace qd
