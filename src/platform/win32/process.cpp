//===- process.cpp - Starting programs, rights and restart, Win32 half ------===//
//
// Only Win32 code here: the calls that start and wait for a program, test
// the process token for the Administrators group, enable the shutdown
// privilege and ask for a restart.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <string>
#include <vector>

#include "../halves.h"
#include "platform/platform.h"

namespace qd::platform {

namespace {

// Waits until `process` has ended. With `whileWaiting`, the wait also ends
// whenever the thread's windows have messages, for it to take them: a
// dialog that waits here still repaints and answers the system.
void WaitForEnd(HANDLE process, const std::function<void()>& whileWaiting) {
  if (whileWaiting) {
    for (;;) {
      const DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      if (woken != WAIT_OBJECT_0 + 1) break;
      whileWaiting();
    }
  }
  ::WaitForSingleObject(process, INFINITE);
}

}  // namespace

std::optional<std::uint32_t> native::RunProgram(const ProgramCommand& command,
                                               const std::function<void()>& whileWaiting) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::vector<char> line(command.line.begin(), command.line.end());
  line.push_back('\0');
  // The program is named outright, so that no blank in its path makes the
  // system look for a shorter name elsewhere.
  if (!::CreateProcessA(command.program.c_str(), line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process))
    return std::nullopt;
  // Wait for the end, then read the code: a program may well end with 259.
  WaitForEnd(process.hProcess, whileWaiting);
  DWORD exitCode = 0;
  const bool known = ::GetExitCodeProcess(process.hProcess, &exitCode) != 0;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  if (!known) return std::nullopt;
  return exitCode;
}

bool IsUserAdministrator() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_READ, &token)) return false;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
  bool member = false;
  if (::GetLastError() == ERROR_INSUFFICIENT_BUFFER && size != 0) {
    // The groups, as one zero-filled block of exactly the reported size.
    std::vector<std::uint8_t> buffer(size);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (::GetTokenInformation(token, TokenGroups, buffer.data(), size, &size) &&
        ::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                   0, &administrators)) {
      const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
      // The attributes do not count: a group held for deny only is held.
      for (DWORD i = 0; i < groups->GroupCount && !member; ++i)
        member = ::EqualSid(groups->Groups[i].Sid, administrators) != 0;
      ::FreeSid(administrators);
    }
  }
  ::CloseHandle(token);
  return member;
}

bool IsNtPlatform() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  return ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  ::LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  TOKEN_PRIVILEGES previous{};
  DWORD length = 0;
  ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof previous, &previous, &length);
  ::CloseHandle(token);
}

void RequestRestart() { ::ExitWindowsEx(EWX_REBOOT, 0); }

}  // namespace qd::platform
