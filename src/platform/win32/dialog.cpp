//===- dialog.cpp - The progress dialog's window, Win32 half -----------------===//
//
// Only Win32 code here. ProgressDialogProc, the procedure of dialog template
// 101, turns window messages into the logic's events and puts the logic's
// view on the controls, changing only what changed. The work that Next
// starts runs inside its WM_COMMAND, and lets the window handle its messages
// between steps and while it waits, so the dialog keeps painting and
// answering, and input given meanwhile meets the disabled buttons. It also does what only
// a window has: it centres the dialog on the desktop, gives the heading a
// bold font on the system font's metrics, paints the background (window
// colour as far down as the side picture reaches, button face below, and one
// line in the button-text colour exactly at the picture's bottom edge), and
// lets the static controls stand on the window colour.
//
//===----------------------------------------------------------------------===//
#include <windows.h>
#include <commctrl.h>

#include "platform/platform.h"

namespace qd::platform {
namespace {

constexpr int DialogTemplate = 101;
constexpr LONG HeadingWeight = 800;

// One run of the dialog: the logic, the view it wants shown and the view
// the controls show, and the drawing objects made for the window, which go
// with the run.
struct DialogSession {
  explicit DialogSession(DialogLogic& dialogLogic) : logic(dialogLogic) {}
  DialogSession(const DialogSession&) = delete;
  DialogSession& operator=(const DialogSession&) = delete;
  ~DialogSession() {
    if (headingFont) ::DeleteObject(headingFont);
    if (staticBrush) ::DeleteObject(staticBrush);
  }

  DialogLogic& logic;
  DialogView view;
  DialogView shown;
  HFONT headingFont = nullptr;
  HBRUSH staticBrush = nullptr;
  bool pressing = false;  // a press is being handled: its work runs
};

// Puts the session's view on the window: everything, or what differs from
// what is shown.
void Show(HWND window, DialogSession& session, bool everything) {
  const DialogView& view = session.view;
  const DialogView& shown = session.shown;
  if (everything || view.caption != shown.caption) ::SetWindowTextA(window, view.caption.c_str());
  for (int id : DialogViewControls) {
    HWND control = ::GetDlgItem(window, id);
    const DialogControl& wanted = *view.Control(id);
    const DialogControl& had = *shown.Control(id);
    if (id != dialog::ProgressBar && (everything || wanted.text != had.text))
      ::SetWindowTextA(control, wanted.text.c_str());
    if (everything || wanted.enabled != had.enabled) ::EnableWindow(control, wanted.enabled);
    if (everything || wanted.visible != had.visible) ::ShowWindow(control, wanted.visible ? SW_SHOW : SW_HIDE);
  }
  if (everything || view.progress != shown.progress)
    ::SendDlgItemMessageA(window, dialog::ProgressBar, PBM_SETPOS, static_cast<WPARAM>(view.progress), 0);
  // A control that was disabled lost the focus; it gets it back once enabled.
  HWND focus = view.focus != 0 ? ::GetDlgItem(window, view.focus) : nullptr;
  if (focus && ::IsWindowEnabled(focus) && ::GetFocus() != focus) ::SetFocus(focus);
  session.shown = view;
}

// Centres the window on the desktop's client area.
void CentreOnDesktop(HWND window) {
  HWND desktop = ::GetDesktopWindow();
  RECT area{};
  ::GetClientRect(desktop, &area);
  RECT frame{};
  ::GetWindowRect(window, &frame);
  POINT corners[2] = {{frame.left, frame.top}, {frame.right, frame.bottom}};
  ::ScreenToClient(desktop, &corners[0]);
  ::ScreenToClient(desktop, &corners[1]);
  const int x = ((area.right - area.left) - (corners[1].x - corners[0].x)) / 2;
  const int y = ((area.bottom - area.top) - (corners[1].y - corners[0].y)) / 2;
  ::SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

// The heading's font: the system font's, at weight 800.
void SetHeadingFont(HWND window, DialogSession& session) {
  LOGFONTA font{};
  ::GetObjectA(::GetStockObject(SYSTEM_FONT), sizeof font, &font);
  font.lfWeight = HeadingWeight;
  session.headingFont = ::CreateFontIndirectA(&font);
  ::SendDlgItemMessageA(window, dialog::HeadingText, WM_SETFONT, reinterpret_cast<WPARAM>(session.headingFont),
                        TRUE);
}

void Fill(HDC dc, const RECT& area, int colourIndex) {
  HBRUSH brush = ::CreateSolidBrush(::GetSysColor(colourIndex));
  ::FillRect(dc, &area, brush);
  ::DeleteObject(brush);
}

// The background: the window colour down to the side picture's bottom edge
// (its height, whatever the dialog units come to), the button face below,
// and a one-pixel line in the button-text colour along that edge.
void PaintBackground(HWND window, HDC dc) {
  RECT picture{};
  ::GetClientRect(::GetDlgItem(window, dialog::SidePicture), &picture);
  RECT client{};
  ::GetClientRect(window, &client);
  const int edge = picture.bottom;
  Fill(dc, RECT{client.left, client.top, client.right, edge}, COLOR_WINDOW);
  Fill(dc, RECT{client.left, edge, client.right, client.bottom}, COLOR_BTNFACE);
  HPEN pen = ::CreatePen(PS_SOLID, 0, ::GetSysColor(COLOR_BTNTEXT));
  HGDIOBJ previous = ::SelectObject(dc, pen);
  ::MoveToEx(dc, client.left, edge, nullptr);
  ::LineTo(dc, client.right, edge);
  ::SelectObject(dc, previous);
  ::DeleteObject(pen);
}

BOOL Start(HWND window, DialogSession& session) {
  ::SetForegroundWindow(window);
  ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  CentreOnDesktop(window);
  session.logic.Start(session.view);
  Show(window, session, true);
  SetHeadingFont(window, session);
  session.staticBrush = ::CreateSolidBrush(::GetSysColor(COLOR_WINDOW));
  return TRUE;
}

// Handles every message waiting for the thread, as the dialog's own loop
// would: input reaches the controls as it stands, so that a click or a key
// meant for a disabled button is dropped now, not pressed later.
void HandleMessages(HWND window) {
  MSG message{};
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Left for the dialog's own loop, which ends on it.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (::IsDialogMessageA(window, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

// Drops the clicks and keys still waiting: they were given while the work
// ran, before the user could see what the work left.
void DropInput() {
  MSG message{};
  while (::PeekMessageA(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (::PeekMessageA(&message, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
}

// Presses of Next and Cancel (Cancel also stands for Esc and the close box).
// Work that a press runs happens here, inside this one message; between its
// steps, and while it waits, the changed controls are drawn and the window
// answers, but a further press is dropped until this one is handled.
BOOL Command(HWND window, DialogSession& session, int id) {
  if (id != dialog::NextButton && id != dialog::CancelButton) return FALSE;
  if (session.pressing) return TRUE;
  const auto showNow = [window, &session] {
    Show(window, session, false);
    ::RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    HandleMessages(window);
  };
  session.pressing = true;
  const std::optional<int> result = session.logic.Press(id, session.view, showNow);
  session.pressing = false;
  if (result) {
    ::EndDialog(window, *result);
    return TRUE;
  }
  DropInput();
  Show(window, session, false);
  return TRUE;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(window, DWLP_USER, lParam);
    return Start(window, *reinterpret_cast<DialogSession*>(lParam));
  }
  auto* session = reinterpret_cast<DialogSession*>(::GetWindowLongPtrA(window, DWLP_USER));
  if (!session) return FALSE;
  switch (message) {
    case WM_ERASEBKGND:
      PaintBackground(window, reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(session->staticBrush);
    case WM_COMMAND:
      return Command(window, *session, LOWORD(wParam));
    case WM_DESTROY:
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int ShowProgressDialog(void* instance, DialogLogic& logic) {
  DialogSession session(logic);
  const INT_PTR result =
      ::DialogBoxParamA(static_cast<HINSTANCE>(instance), MAKEINTRESOURCEA(DialogTemplate), ::GetDesktopWindow(),
                        ProgressDialogProc, reinterpret_cast<LPARAM>(&session));
  if (result == -1) return dialog::NotShown;
  return static_cast<int>(result);
}

}  // namespace qd::platform
