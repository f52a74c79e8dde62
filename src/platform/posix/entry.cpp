//===- entry.cpp - Entry point of the native build ---------------------------===//
//
// Only POSIX code here. The argument text is the arguments joined by blanks,
// as the Windows entry receives the command line without the program name.
//
//===----------------------------------------------------------------------===//
#include <string>

#include "platform/posix/command_line.h"
#include "startup/startup.h"

int main(int argc, char** argv) {
  qd::platform::posix::RememberCommandLine(argc, argv);
  std::string argumentText;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) argumentText += ' ';
    argumentText += argv[i];
  }
  return qd::ProgramMain(nullptr, argumentText);
}
