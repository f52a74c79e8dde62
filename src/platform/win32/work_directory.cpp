//===- work_directory.cpp - The installer's work directory, Win32 half ------===//
//
// Only Win32 code here. The work directory takes the name the system's
// temporary-file call gives ("QD" and four hex digits), and is held open
// from the moment it is made without sharing deletion, so that no one can
// rename it, or delete it and put another in its place, while the run uses
// it by path. It is let go of just before it is removed.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <string>

#include "../halves.h"
#include "platform/platform.h"

namespace qd::platform {

namespace native {

std::optional<WorkDirectory> MakeWorkDirectory(DirectoryAccess access) {
  const std::string temporary = TemporaryDirectory();
  if (temporary.empty()) return std::nullopt;
  const std::string name = native::CreateTemporaryFile(temporary, "QD");
  if (name.empty()) return std::nullopt;
  // The directory's path and its separator must fit a 260-character buffer.
  if (!native::Remove(name) || name.size() + 1 > MaxText || !native::MakeDirectory(name, access))
    return std::nullopt;
  HANDLE handle = ::CreateFileA(name.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    ::RemoveDirectoryA(name.c_str());
    return std::nullopt;
  }
  const std::string path = name + "\\";
  return WorkDirectory(path, path, reinterpret_cast<std::intptr_t>(handle), File::Invalid, name);
}

bool RemoveWorkDirectory(WorkDirectory& directory) {
  CloseDirectoryHandle(directory.TakeHandle());
  return ::RemoveDirectoryA(directory.Name().c_str()) != 0;
}

void CloseDirectoryHandle(std::intptr_t handle) {
  if (handle != File::Invalid) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace native

std::string ShownPath(std::string_view path) { return std::string(path); }

}  // namespace qd::platform
