//===- setup.cpp - The example payload's setup program ----------------------===//
//
// A stand-in for the setup program that a package runs at the end of
// unpacking. It shows nothing and ends with the exit code it is told:
// "/exit=N" on its command line, else the number in the file
// "setup_exit.txt" beside the program, else 0. So 3010 asks for a restart
// and any other non-zero code is a failed setup.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

// The code after "/exit=" in the command line, if it is there.
bool CodeFromCommandLine(int& code) {
  const char* commandLine = GetCommandLineA();
  const char* at = std::strstr(commandLine, "/exit=");
  if (!at) return false;
  code = std::atoi(at + 6);
  return true;
}

// The number in "setup_exit.txt" in the program's own directory, if any.
bool CodeFromFile(int& code) {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  static constexpr char FileName[] = "setup_exit.txt";
  char* slash = std::strrchr(path, '\\');
  char* end = slash ? slash + 1 : path;
  if (static_cast<std::size_t>(end - path) + sizeof FileName > MAX_PATH) return false;
  std::memcpy(end, FileName, sizeof FileName);
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char text[32] = {};
  DWORD read = 0;
  BOOL ok = ReadFile(file, text, sizeof text - 1, &read, nullptr);
  CloseHandle(file);
  if (!ok) return false;
  code = std::atoi(text);
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int code = 0;
  if (!CodeFromCommandLine(code)) CodeFromFile(code);
  return code;
}
