//===- builder.h - The package builder ("/m") -------------------------------===//
#pragma once

#include <string_view>

namespace qd {

// Builds a package from the packing list named after the last blank of
// `commandText` (the whole argument text, switch included). Returns 0 when
// the package has been written; every failure writes its line to
// "logfile.txt" in the current directory and ends the process with -1.
int BuildPackage(std::string_view commandText);

}  // namespace qd
