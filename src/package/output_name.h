//===- output_name.h - The package's file name from a file version ---------===//
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qd {

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
