//===- checksum.h - The image checksum that seals a package ----------------===//
#pragma once

#include <string_view>

namespace qd {

// stamp 0: true when the image checksum of the file at `path` could be
// computed and equals its stored CheckSum field.
// stamp 1: true when the field was already right (the file is then not opened
// for writing) or the computed value has been written into it; false when the
// checksum cannot be computed, the file is no 32-bit PE image or the write fails.
bool CheckImageChecksum(std::string_view path, int stamp);

}  // namespace qd
