//===- planted.cpp - A DLL that someone left beside a package ------------------===//
//
// Copied beside a program under the name of a system DLL, it tells when it is
// loaded: it writes "planted-NAME.txt" into the current directory, NAME being
// the file name it was loaded from.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <cstring>
#include <string>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module, path, MAX_PATH);
  const char* slash = std::strrchr(path, '\\');
  const std::string marker = std::string("planted-") + (slash ? slash + 1 : path) + ".txt";
  HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return TRUE;
}
