//===- busy_window.cpp - A wizard-like window, for the driver's tests ------===//
//
// A top-level window with a status line and three buttons: Next (100),
// Cancel (2) and a disabled Back (102). Next works for a while inside its
// handler, as an installer does, then turns into Finish; Finish ends the
// program with 0, Cancel with 6.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

namespace {

constexpr int NextId = 100;
constexpr int BackId = 102;
constexpr int StatusId = 103;

bool finished = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == NextId) {
    if (finished) {
      PostQuitMessage(0);
    } else {
      SetDlgItemTextA(window, StatusId, "Working");
      Sleep(2000);  // the work runs inside the handler; nothing is repainted
      SetDlgItemTextA(window, StatusId, "Done");
      SetDlgItemTextA(window, NextId, "Finish");
      finished = true;
    }
    return 0;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
    PostQuitMessage(6);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND Child(HWND parent, const char* className, const char* text, int id, DWORD style, int x) {
  return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, 10, 90, 25, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                         nullptr);
}

}  // namespace

int main() {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "BusyWindow";
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "BusyWindow", "Busy Setup", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                420, 120, nullptr, nullptr, windowClass.hInstance, nullptr);
  Child(window, "Static", "Ready", StatusId, 0, 10);
  Child(window, "Button", "&Next >", NextId, BS_DEFPUSHBUTTON, 110);
  Child(window, "Button", "&Cancel", IDCANCEL, BS_PUSHBUTTON, 210);
  EnableWindow(Child(window, "Button", "< &Back", BackId, BS_PUSHBUTTON, 310), FALSE);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
