//===- entry.cpp - Entry point of the Windows builds -------------------------===//
//
// Only Win32 code here. The GUI entry receives the command line without the
// program name and the blanks after it: the argument text.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include "startup/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int) {
  return qd::ProgramMain(instance, argumentText ? argumentText : "");
}
