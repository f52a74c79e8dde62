//===- driver.cpp - Drives a Windows program's boxes and dialogs ----------===//
//
// Starts a program, waits for each of its top-level windows (a message box or
// a dialog), reports what the window shows, presses a button, and reports
// the program's exit code, so that native tests can check the Windows side
// under wine.
//
//   driver.exe [--timeout SECONDS] [--press ID]... [--env NAME=VALUE]... [--hold FILE]
//              [--busy FILE] -- PROGRAM [ARGUMENT]...
//
// Each --press gives the button for the next window state, in turn; when they
// run out, IDOK (1) is pressed. Each --env sets a variable of the program's
// environment (wine sets TMP and TEMP from its own settings, not from ours).
// A window counts again when what it shows changes (a dialog whose button
// turns from Next to Finish), but only while its thread waits for input and
// the button to press is enabled, so work done inside a button handler is
// not interrupted. With --hold, the driver writes each window state's lines
// to FILE before it presses, and waits until FILE is gone: a test can look at
// the screen meanwhile. With --busy, once FILE exists while the button to
// press is disabled (the program is at work, and waits for FILE to go), the
// driver clicks that button twice with the mouse and presses Enter, as an
// impatient user would, reports whether the window answers, and deletes
// FILE. Output, one item per line, fields separated by tabs, texts with
// \\ \t \n \r escaped:
//
//   colours <window> <button face> <button text>     (the system's colours, RRGGBB; first)
//   window  <class> <caption>
//   frame   <left> <top> <right> <bottom>            (the window on the screen)
//   client  <left> <top> <right> <bottom>            (its client area on the screen)
//   text    <text of the static control 0xFFFF>     (when there is one)
//   icon    none | warning | information | question | error | other | covered
//                                                    (a message box's icon)
//   control <id> <class> <enabled 0|1> <visible 0|1> <text>
//   press   <id>
//   busy    <id> <answered 0|1> <hung 0|1>           (clicked while disabled: did the window
//                                                    answer a message within a second; does
//                                                    the system take it as not responding)
//   exit    <the program's 32-bit exit code, signed>
//   timeout                                          (the program was ended)
//   error   <message>
//
// Exit code: 0 when the program ended, 2 for bad arguments, 3 on timeout,
// 4 when the program could not be started.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "window_report.h"

namespace {

using qd::test::AddControlLines;
using qd::test::Escape;
using qd::test::TextOf;
using qd::test::TopWindow;
using qd::test::WindowLines;

constexpr int MessageBoxTextId = 0xFFFF;
constexpr int MessageBoxIconId = 0x0440;

void PrintLine(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

// One argument as the program's C runtime will split it again.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// The screen's pixels of a rectangle, as 32-bit values, row by row.
std::vector<COLORREF> Pixels(HDC source, int x, int y, int width, int height) {
  std::vector<COLORREF> pixels;
  for (int row = 0; row < height; ++row)
    for (int column = 0; column < width; ++column) pixels.push_back(GetPixel(source, x + column, y + row));
  return pixels;
}

// True when no other window covers the rectangle's corners and centre.
bool Uncovered(HWND box, const RECT& rect) {
  const POINT points[] = {{rect.left, rect.top},
                          {rect.right - 1, rect.top},
                          {rect.left, rect.bottom - 1},
                          {rect.right - 1, rect.bottom - 1},
                          {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2}};
  for (POINT point : points) {
    HWND hit = WindowFromPoint(point);
    if (hit != box && !IsChild(box, hit)) return false;
  }
  return true;
}

// The screen's pixels of the icon, taken while no other window covers it
// (tests may run side by side on one display): raised to the top first when
// needed. Empty when it stays covered.
std::vector<COLORREF> ShownIcon(HWND box, const RECT& rect, HDC screen) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  for (int attempt = 0; attempt < 20; ++attempt) {
    if (Uncovered(box, rect)) {
      std::vector<COLORREF> shown = Pixels(screen, rect.left, rect.top, width, height);
      if (Uncovered(box, rect)) return shown;
    }
    SetWindowPos(box, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Sleep(100);
  }
  return {};
}

// Which of the system's icons a message box shows. Icon handles do not cross
// processes, so the icon's pixels on the screen are compared with each system
// icon drawn on the same background.
std::string IconKind(HWND box) {
  HWND control = GetDlgItem(box, MessageBoxIconId);
  if (!control) return {};
  DWORD_PTR icon = 0;
  SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 250, &icon);
  if (!icon || !IsWindowVisible(control)) return "none";

  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);
  RECT rect{};
  GetWindowRect(control, &rect);
  rect.right = rect.left + width;
  rect.bottom = rect.top + height;
  HDC screen = GetDC(nullptr);
  std::vector<COLORREF> shown = ShownIcon(box, rect, screen);
  if (shown.empty()) {
    ReleaseDC(nullptr, screen);
    return "covered";
  }
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HBRUSH background = CreateSolidBrush(shown.front());
  const RECT whole{0, 0, width, height};

  struct Candidate {
    const char* name;
    LPCSTR id;
  };
  const Candidate candidates[] = {{"warning", IDI_WARNING},
                                  {"information", IDI_INFORMATION},
                                  {"question", IDI_QUESTION},
                                  {"error", IDI_ERROR}};
  std::string best = "other";
  std::size_t fewest = shown.size() / 10 + 1;  // a match differs in under a tenth of the pixels
  for (const Candidate& candidate : candidates) {
    FillRect(memory, &whole, background);
    DrawIconEx(memory, 0, 0, LoadIconA(nullptr, candidate.id), width, height, 0, nullptr, DI_NORMAL);
    std::vector<COLORREF> drawn = Pixels(memory, 0, 0, width, height);
    std::size_t differences = 0;
    for (std::size_t k = 0; k < shown.size(); ++k)
      if (shown[k] != drawn[k]) ++differences;
    if (differences < fewest) {
      fewest = differences;
      best = candidate.name;
    }
  }
  DeleteObject(background);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return best;
}

// What the window shows, as output lines.
std::vector<std::string> Describe(HWND window) {
  std::vector<std::string> lines = WindowLines(window);
  if (HWND text = GetDlgItem(window, MessageBoxTextId)) {
    lines.push_back("text\t" + Escape(TextOf(text)));
    std::string icon = IconKind(window);
    if (!icon.empty()) lines.push_back("icon\t" + icon);
  }
  AddControlLines(window, lines);
  return lines;
}

// True while the window's thread takes messages (not busy in a handler).
bool Responsive(HWND window) {
  DWORD_PTR ignored = 0;
  return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, 250, &ignored) != 0;
}

int Usage() {
  std::fputs("usage: driver [--timeout SECONDS] [--press ID]... [--env NAME=VALUE]... [--hold FILE] [--glue]"
             " [--busy FILE] -- PROGRAM [ARGUMENT]...\n",
             stderr);
  return 2;
}

void Send(std::vector<INPUT> inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Clicks the middle of `button` twice and presses Enter, through the
// system's input queue, as a user does: what the window does with that
// input depends on the state it finds its controls in when it takes it.
void ClickTwiceAndPressEnter(HWND button) {
  RECT rect{};
  GetWindowRect(button, &rect);
  SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  const auto mouse = [](DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    return input;
  };
  const auto key = [](DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_RETURN;
    input.ki.dwFlags = flags;
    return input;
  };
  Send({mouse(MOUSEEVENTF_LEFTDOWN), mouse(MOUSEEVENTF_LEFTUP), mouse(MOUSEEVENTF_LEFTDOWN),
        mouse(MOUSEEVENTF_LEFTUP), key(0), key(KEYEVENTF_KEYUP)});
}

// The busy line for a window whose `button` was clicked while disabled.
std::string BusyLine(HWND window, int id) {
  DWORD_PTR ignored = 0;
  const bool answered = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &ignored) != 0;
  return "busy\t" + std::to_string(id) + "\t" + (answered ? "1" : "0") + "\t" + (IsHungAppWindow(window) ? "1" : "0");
}

std::string Colour(int index) {
  char text[8];
  const COLORREF colour = GetSysColor(index);
  std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  ULONGLONG timeoutMs = 30000;
  std::deque<int> presses;
  std::string hold;
  // The program's path in quotes, its first argument right behind the
  // closing quote, with no blank ("C:\path\Pkg.exe"/h).
  bool glue = false;
  std::string busy;
  int i = 1;
  for (; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--") break;
    if (option == "--glue") {
      glue = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    if (option == "--timeout") {
      timeoutMs = std::strtoull(argv[++i], nullptr, 10) * 1000;
    } else if (option == "--press") {
      presses.push_back(static_cast<int>(std::strtol(argv[++i], nullptr, 0)));
    } else if (option == "--hold") {
      hold = argv[++i];
    } else if (option == "--busy") {
      busy = argv[++i];
    } else if (option == "--env") {
      const std::string setting = argv[++i];
      const std::size_t equals = setting.find('=');
      if (equals == std::string::npos) return Usage();
      SetEnvironmentVariableA(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str());
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc) return Usage();
  std::string commandLine;
  for (int k = i + 1; k < argc; ++k) {
    if (glue && k == i + 1)
      commandLine += "\"" + std::string(argv[k]) + "\"";
    else
      commandLine += (k > i + 1 && !(glue && k == i + 2) ? " " : "") + Quote(argv[k]);
  }

  PrintLine("colours\t" + Colour(COLOR_WINDOW) + "\t" + Colour(COLOR_BTNFACE) + "\t" + Colour(COLOR_BTNTEXT));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    PrintLine("error\tcannot start " + Escape(commandLine) + " (" + std::to_string(GetLastError()) + ")");
    return 4;
  }
  CloseHandle(process.hThread);

  const ULONGLONG start = GetTickCount64();
  auto timedOut = [&] { return GetTickCount64() - start > timeoutMs; };
  HWND handled = nullptr;
  std::vector<std::string> handledLines;
  while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
    if (timedOut()) {
      PrintLine("timeout");
      TerminateProcess(process.hProcess, 1);
      CloseHandle(process.hProcess);
      return 3;
    }
    HWND window = TopWindow(process.dwProcessId);
    if (!window) continue;
    // A button that is there but disabled: the window is at work.
    const int next = presses.empty() ? IDOK : presses.front();
    HWND button = GetDlgItem(window, next);
    if (button && !IsWindowEnabled(button)) {
      if (!busy.empty() && GetFileAttributesA(busy.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ClickTwiceAndPressEnter(button);
        PrintLine(BusyLine(window, next));
        DeleteFileA(busy.c_str());
        busy.clear();
      }
      continue;
    }
    if (!Responsive(window)) continue;
    std::vector<std::string> lines = Describe(window);
    if (window == handled && lines == handledLines) continue;
    // Act only on a state that has settled.
    Sleep(150);
    if (!Responsive(window) || Describe(window) != lines) continue;

    for (const std::string& line : lines) PrintLine(line);
    if (!hold.empty()) qd::test::HoldAt(hold, lines, timedOut);
    const int id = next;
    if (!presses.empty()) presses.pop_front();
    PrintLine("press\t" + std::to_string(id));
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
    handled = window;
    handledLines = std::move(lines);
  }

  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  PrintLine("exit\t" + std::to_string(static_cast<std::int32_t>(exitCode)));
  return 0;
}
