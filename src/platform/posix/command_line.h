//===- command_line.h - What the POSIX entry point hands to the platform ---===//
//
// Only POSIX code here.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>

namespace qd::platform::posix {

// Keeps argv as the process's command line: argv[0] in double quotes, then
// every argument after one blank; in the platform's code page, as Windows
// hands a program its command line.
void RememberCommandLine(int argc, char** argv);

// The argument text of the entry point: the arguments after argv[0] joined by
// blanks, in the platform's code page.
std::string ArgumentText(int argc, char** argv);

}  // namespace qd::platform::posix
