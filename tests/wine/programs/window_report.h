//===- window_report.h - A window described in the driver's lines ----------===//
//
// What the Windows test programs report about a top-level window: its class
// and caption, its place on the screen, and each child control. The driver
// (driver.cpp) reports every window it presses; the recording setup program
// reports the installer's dialog while the installer waits for it, a state
// the driver never sees. Both in the lines that ParseDriverOutput reads
// (tests/support/driver_output.h):
//
//   window  <class> <caption>
//   frame   <left> <top> <right> <bottom>   (the window, screen coordinates)
//   client  <left> <top> <right> <bottom>   (its client area, screen coordinates)
//   control <id> <class> <enabled 0|1> <visible 0|1> <text>
//
// Either may also hold at a state: write its lines to a file and wait until
// the test has removed it, so that the test can photograph the screen.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/escape.h"

namespace qd::test {

// The uppermost visible top-level window of a process, or null.
inline HWND TopWindow(DWORD processId) {
  struct Search {
    DWORD processId;
    HWND found;
  } search{processId, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* wanted = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner != wanted->processId || !IsWindowVisible(window)) return TRUE;
        wanted->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A window's text. For a window of another process no message is sent, so
// this works while that process is busy.
inline std::string TextOf(HWND window) {
  char buffer[4096] = {};
  GetWindowTextA(window, buffer, static_cast<int>(sizeof buffer));
  return buffer;
}

inline std::string ClassOf(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, static_cast<int>(sizeof buffer));
  return buffer;
}

inline std::string RectLine(const char* kind, const RECT& rect) {
  return std::string(kind) + "\t" + std::to_string(rect.left) + "\t" + std::to_string(rect.top) + "\t" +
         std::to_string(rect.right) + "\t" + std::to_string(rect.bottom);
}

inline BOOL CALLBACK AddControlLine(HWND control, LPARAM context) {
  auto* lines = reinterpret_cast<std::vector<std::string>*>(context);
  lines->push_back("control\t" + std::to_string(GetDlgCtrlID(control)) + "\t" + Escape(ClassOf(control)) + "\t" +
                   (IsWindowEnabled(control) ? "1" : "0") + "\t" + (IsWindowVisible(control) ? "1" : "0") + "\t" +
                   Escape(TextOf(control)));
  return TRUE;
}

// The window line and the place lines.
inline std::vector<std::string> WindowLines(HWND window) {
  std::vector<std::string> lines{"window\t" + Escape(ClassOf(window)) + "\t" + Escape(TextOf(window))};
  RECT frame{};
  GetWindowRect(window, &frame);
  lines.push_back(RectLine("frame", frame));
  RECT client{};
  GetClientRect(window, &client);
  POINT corners[2] = {{client.left, client.top}, {client.right, client.bottom}};
  ClientToScreen(window, &corners[0]);
  ClientToScreen(window, &corners[1]);
  lines.push_back(RectLine("client", RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y}));
  return lines;
}

// The control lines, in the order of the window's children.
inline void AddControlLines(HWND window, std::vector<std::string>& lines) {
  EnumChildWindows(window, AddControlLine, reinterpret_cast<LPARAM>(&lines));
}

// Writes `lines` to the file `path` as a whole: a reader that finds the file
// finds all of it.
inline void WriteLinesAtOnce(const std::string& path, const std::vector<std::string>& lines) {
  const std::string part = path + ".part";
  if (std::FILE* file = std::fopen(part.c_str(), "wb")) {
    for (const std::string& line : lines) std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
    MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}

// Writes `lines` to `path`, then waits until the file is gone or `expired`:
// someone is looking at the window meanwhile.
template <typename Expired>
void HoldAt(const std::string& path, const std::vector<std::string>& lines, Expired expired) {
  WriteLinesAtOnce(path, lines);
  while (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES && !expired()) Sleep(50);
}

}  // namespace qd::test
