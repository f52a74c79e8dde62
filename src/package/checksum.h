//===- checksum.h - The image checksum that seals a package ----------------===//
#pragma once

#include <string_view>

namespace qd {

// Whether CheckImageChecksum writes the computed checksum into a file whose
// stored one differs.
enum class Stamp { No, Yes };

// Stamp::No: true when the image checksum of the file at `path` could be
// computed and equals its stored CheckSum field.
// Stamp::Yes: true when the field was already right (the file is then not
// opened for writing) or the computed value has been written into it; false
// when the checksum cannot be computed, the file is no 32-bit or 64-bit PE
// image, or the write fails.
[[nodiscard]] bool CheckImageChecksum(std::string_view path, Stamp stamp);

}  // namespace qd
