//===- version.h - The file version that names a package ---------------------===//
//
// The builder names a package after the file version of its first file, and
// the installer requires that the first file it unpacked has one.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <string_view>

namespace qd {

// Reads the four numbers of the file version of the file at `path`. Each
// output may be null and is then not written. True when the file has a
// version resource that could be read; when that resource holds no fixed file
// information the result is true and no number is written.
[[nodiscard]] bool QueryFileVersion(std::string_view path, std::uint32_t* major, std::uint32_t* minor,
                                    std::uint32_t* build, std::uint32_t* revision);

}  // namespace qd
