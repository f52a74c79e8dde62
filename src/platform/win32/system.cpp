//===- system.cpp - Process, message boxes, text and system, Win32 half -----===//
//
// Only Win32 code here.
//
//===----------------------------------------------------------------------===//
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "../halves.h"
#include "system_library.h"

namespace qd::platform {

std::string CommandLine() { return ::GetCommandLineA(); }

// The common controls are loaded from the system directory (through the
// manifest, version 6), not imported: an imported library's own imports are
// looked for beside the program before our first line runs. The library
// stays loaded while the process lives, for the dialog's progress bar.
void InitControls() {
  static const win32::SystemLibrary controls("comctl32.dll");
  if (const auto init = controls.Find<decltype(InitCommonControls)>("InitCommonControls")) init();
}

BoxAnswer ShowMessageBox(std::string_view text, std::string_view caption, BoxStyle style) {
  UINT flags = MB_OK;
  switch (style) {
    case BoxStyle::Information: flags = MB_OK | MB_ICONINFORMATION; break;
    case BoxStyle::Warning: flags = MB_OK | MB_ICONWARNING | MB_SETFOREGROUND; break;
    case BoxStyle::Plain: flags = MB_OK; break;
    case BoxStyle::Question: flags = MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND; break;
  }
  int answer = ::MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), flags);
  if (answer == IDYES) return BoxAnswer::Yes;
  if (answer == IDNO) return BoxAnswer::No;
  return BoxAnswer::Ok;
}

// One item at a time: the 32-bit program's address space holds one large
// file's buffers, not several.
OrderedShape OrderedWorkShape(std::size_t) { return {.workers = 1, .held = 1}; }

void RunOrdered(const OrderedShape&, std::size_t count, const std::function<void(std::size_t, std::size_t)>& produce,
                const std::function<bool(std::size_t)>& consume, const std::function<void(std::size_t)>& prepare) {
  RunOrderedHere(count, produce, consume, prepare);
}

// A program of the GUI subsystem has no terminal to show progress on.
bool ProgressVisible() { return false; }
void ShowProgress(std::string_view) {}

std::string CutToFit(std::string_view text, std::size_t capacity) {
  if (capacity == 0) return {};
  if (text.size() < capacity) return std::string(text);
  // Walk whole characters of the ANSI code page (a lead byte and its trail
  // byte are one) while they fit.
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t next = end + (::IsDBCSLeadByte(static_cast<BYTE>(text[end])) ? 2 : 1);
    if (next > capacity - 1) break;
    end = next;
  }
  return std::string(text.substr(0, end));
}

std::string SystemDirectory() {
  char directory[TextCapacity] = {};
  const UINT length = ::GetSystemDirectoryA(directory, sizeof directory);
  if (length == 0 || length >= sizeof directory) return {};
  return std::string(directory, length);
}

LocalTime LocalTimeNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

// A program of the Windows subsystem has no console to write to.
void WriteConsoleLine(std::string_view, ConsoleStream) {}
bool HasConsole() { return false; }

}  // namespace qd::platform
