//===- command_line.h - What the POSIX entry point hands to the platform ---===//
//
// Only POSIX code here.
//
//===----------------------------------------------------------------------===//
#pragma once

namespace qd::platform::posix {

// Keeps argv as the process's command line: argv[0] in double quotes, then
// every argument after one blank.
void RememberCommandLine(int argc, char** argv);

}  // namespace qd::platform::posix
