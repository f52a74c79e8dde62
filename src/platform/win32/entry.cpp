//===- entry.cpp - Entry point of the Windows builds -------------------------===//
//
// Only Win32 code here. The argument text, the command line without the
// program name and the blanks after it, is taken from the command line
// itself: the C runtime's own split loses a switch that follows the closing
// quote with no blank ("C:\path\Pkg.exe"/h).
//
// Before anything else, the process's own DLL searches are kept to the
// system directory, so that a DLL someone left beside a downloaded package
// is never loaded into it. The setup program it starts searches as usual.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include "startup/startup.h"

namespace {

void SearchSystemDirectoryOnly() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  // Systems without it: at least the current directory leaves the search.
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) ::SetDllDirectoryA("");
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  SearchSystemDirectoryOnly();
  const char* commandLine = ::GetCommandLineA();
  return qd::ProgramMain(instance, qd::ArgumentTextOf(commandLine ? commandLine : ""));
}
