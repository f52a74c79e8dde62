//===- recording_setup.cpp - A setup program that tells what it was given ---===//
//
// Stands in for a package's setup program in the installer tests: writes
// its command line to "setup_args.txt" in its current directory (the
// installer's) and ends with the number in "setup_exit.txt" there, else 0.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (std::FILE* args = std::fopen("setup_args.txt", "wb")) {
    std::fputs(GetCommandLineA(), args);
    std::fclose(args);
  }
  int code = 0;
  if (std::FILE* exit = std::fopen("setup_exit.txt", "rb")) {
    char text[32] = {};
    if (std::fgets(text, sizeof text, exit)) code = std::atoi(text);
    std::fclose(exit);
  }
  return code;
}
