//===- recording_setup.cpp - A setup program that tells what it was given ---===//
//
// Stands in for a package's setup program in the installer tests: writes
// its command line to "setup_args.txt" in its current directory (the
// installer's) and ends with the number in "setup_exit.txt" there, else 0.
//
// It runs while the installer's dialog waits for it, a state that no driver
// can press its way into, so it also writes what that dialog shows to
// "dialog.txt" (the driver's lines; empty without a dialog). When
// QD_SETUP_HOLD names a file, it writes the same lines there and waits until
// the file is gone (two minutes at most, so that a failed test leaves no
// program behind), so that a test can look at the screen meanwhile.
//
//===----------------------------------------------------------------------===//
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "window_report.h"

namespace {

DWORD ParentProcessId() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  return parent;
}

// What the installer that started this program shows, as the driver's lines.
std::vector<std::string> InstallersWindow() {
  const DWORD installer = ParentProcessId();
  const HWND window = installer != 0 ? qd::test::TopWindow(installer) : nullptr;
  if (!window) return {};
  std::vector<std::string> lines = qd::test::WindowLines(window);
  qd::test::AddControlLines(window, lines);
  return lines;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (std::FILE* args = std::fopen("setup_args.txt", "wb")) {
    std::fputs(GetCommandLineA(), args);
    std::fclose(args);
  }
  const std::vector<std::string> dialog = InstallersWindow();
  qd::test::WriteLinesAtOnce("dialog.txt", dialog);
  if (const char* hold = std::getenv("QD_SETUP_HOLD")) {
    const ULONGLONG start = GetTickCount64();
    qd::test::HoldAt(hold, dialog, [start] { return GetTickCount64() - start > 120000; });
  }
  int code = 0;
  if (std::FILE* exit = std::fopen("setup_exit.txt", "rb")) {
    char text[32] = {};
    if (std::fgets(text, sizeof text, exit)) code = std::atoi(text);
    std::fclose(exit);
  }
  return code;
}
