//===- system.cpp - Process, message boxes and controls, Win32 half ---------===//
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

namespace qd::platform {

std::string CommandLine() { return ::GetCommandLineA(); }

void InitControls() { ::InitCommonControls(); }

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

}  // namespace qd::platform
