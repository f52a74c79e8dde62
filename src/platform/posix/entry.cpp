//===- entry.cpp - Entry point of the native build ---------------------------===//
//
// Only POSIX code here. The argument text is the arguments joined by blanks,
// as the Windows entry receives the command line without the program name,
// in the platform's code page.
//
//===----------------------------------------------------------------------===//
#include <string>

#include "platform/posix/command_line.h"
#include "startup/startup.h"

int main(int argc, char** argv) {
  qd::platform::posix::RememberCommandLine(argc, argv);
  return qd::ProgramMain(nullptr, qd::platform::posix::ArgumentText(argc, argv));
}
