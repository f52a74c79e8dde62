//===- version.h - File version and the package's output name ---------------===//
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qd {

// Reads the four numbers of the file version of the file at `path`. Each
// output may be null and is then not written. True when the file has a
// version resource that could be read; when that resource holds no fixed file
// information the result is true and no number is written.
bool QueryFileVersion(std::string_view path, std::uint32_t* major, std::uint32_t* minor,
                      std::uint32_t* build, std::uint32_t* revision);

// The package's file name: a value holding "%" is a pattern whose "%s"
// receives the build tag "%d_%02d_%02d%c"; any other value is used unchanged.
// The letter's code is revision + 97 below 500 and revision - 403 from 500 on;
// codes up to 255 are written as that byte, larger ones as "_" and the
// revision in decimal (2.5.7.300 gives "2_05_07_300"). Empty (refused) when
// the name would be longer than 259 characters, or when the pattern holds a
// conversion other than one "%s" (optionally "%-W.Ps") and "%%".
std::string MakeOutputName(std::string_view outputNameValue, std::uint32_t major,
                           std::uint32_t minor, std::uint32_t build, std::uint32_t revision);

}  // namespace qd
