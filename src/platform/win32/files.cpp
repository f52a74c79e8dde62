//===- files.cpp - Files and directories, Win32 half ------------------------===//
//
// Only Win32 code here: the real calls, with the access and sharing that the
// system asks for.
//
//===----------------------------------------------------------------------===//
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <algorithm>
#include <string>

#include "../halves.h"
#include "platform/platform.h"

namespace qd::platform {
namespace {

HANDLE Handle(const File& file) { return reinterpret_cast<HANDLE>(file.Native()); }
HANDLE Handle(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// ReadFile and WriteFile take 32-bit counts.
constexpr std::size_t MaxChunk = 1u << 30;

std::uint64_t Join(FILETIME time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

// What this half gives the table of file operations (see halves.h).
namespace native {

std::intptr_t Open(std::string_view path, OpenMode mode) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD share = 0;
  DWORD disposition = OPEN_EXISTING;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  switch (mode) {
    case OpenMode::Read:
      access = GENERIC_READ;
      share = FILE_SHARE_READ;
      attributes = 0;
      break;
    case OpenMode::Update: break;
    case OpenMode::Create: disposition = CREATE_ALWAYS; break;
    case OpenMode::CreateNew: disposition = CREATE_NEW; break;
    // Every write lands at the end, also beside another program's appends.
    case OpenMode::Append:
      access = FILE_APPEND_DATA;
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      disposition = OPEN_ALWAYS;
      break;
  }
  const std::string text(path);
  HANDLE handle = ::CreateFileA(text.c_str(), access, share, nullptr, disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File::Invalid;
  if (mode == OpenMode::Append && ::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    return File::Invalid;
  }
  return reinterpret_cast<std::intptr_t>(handle);
}

std::int64_t Read(std::intptr_t file, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    auto chunk = static_cast<DWORD>(std::min(buffer.size() - done, MaxChunk));
    DWORD read = 0;
    if (!::ReadFile(Handle(file), buffer.data() + done, chunk, &read, nullptr)) return -1;
    if (read == 0) break;
    done += read;
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t ReadAt(std::intptr_t file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    auto chunk = static_cast<DWORD>(std::min(buffer.size() - done, MaxChunk));
    const std::uint64_t at = offset + done;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD read = 0;
    if (!::ReadFile(Handle(file), buffer.data() + done, chunk, &read, &where))
      return ::GetLastError() == ERROR_HANDLE_EOF ? static_cast<std::int64_t>(done) : -1;
    if (read == 0) break;
    done += read;
  }
  return static_cast<std::int64_t>(done);
}

bool Write(std::intptr_t file, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    auto chunk = static_cast<DWORD>(std::min(data.size() - done, MaxChunk));
    DWORD written = 0;
    if (!::WriteFile(Handle(file), data.data() + done, chunk, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

bool Close(std::intptr_t file) { return ::CloseHandle(Handle(file)) != 0; }

bool SetTimes(std::intptr_t file, std::uint64_t fileTime) {
  FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  return ::SetFileTime(Handle(file), &time, &time, &time) != 0;
}

bool Remove(std::string_view path) { return ::DeleteFileA(std::string(path).c_str()) != 0; }

// Full control for the Administrators group and the system, inherited by
// everything made inside, and nothing inherited from the parent directory.
constexpr const char* AdministratorsOnly = "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

bool MakeDirectory(std::string_view path, DirectoryAccess access) {
  const std::string name(path);
  if (access == DirectoryAccess::Default) return ::CreateDirectoryA(name.c_str(), nullptr) != 0;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(AdministratorsOnly, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr))
    return false;
  const bool made = ::CreateDirectoryA(name.c_str(), &attributes) != 0;
  ::LocalFree(attributes.lpSecurityDescriptor);
  return made;
}


std::optional<std::uint64_t> Size(std::intptr_t file) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(Handle(file), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool Seek(std::intptr_t file, std::uint64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(Handle(file), position, nullptr, FILE_BEGIN) != 0;
}

std::optional<std::uint64_t> LastWriteTime(std::intptr_t file) {
  FILETIME written{};
  if (!::GetFileTime(Handle(file), nullptr, nullptr, &written)) return std::nullopt;
  return Join(written);
}


bool Rename(std::string_view from, std::string_view to) {
  return ::MoveFileExA(std::string(from).c_str(), std::string(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool Exists(std::string_view path) {
  std::string text(path);
  WIN32_FIND_DATAA found{};
  HANDLE search = ::FindFirstFileA(text.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return true;
}

bool SetNormalAttributes(std::string_view path) {
  return ::SetFileAttributesA(std::string(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool RemoveEmptyDirectory(std::string_view path) { return ::RemoveDirectoryA(std::string(path).c_str()) != 0; }

std::string CreateTemporaryFile(std::string_view directory, std::string_view prefix) {
  char buffer[TextCapacity] = {};
  if (::GetTempFileNameA(std::string(directory).c_str(), std::string(prefix).c_str(), 0, buffer) == 0)
    return {};
  return buffer;
}

}  // namespace native

namespace {

[[nodiscard]] std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information)) return std::nullopt;
  return FileIdentity{information.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

}  // namespace

// Asking who a file is reads no data, so it works on files that others hold
// without sharing.
std::optional<FileIdentity> IdentityOf(std::string_view path) {
  const std::string text(path);
  HANDLE handle = ::CreateFileA(text.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  const auto identity = IdentityOfHandle(handle);
  ::CloseHandle(handle);
  return identity;
}

std::optional<FileIdentity> IdentityOf(File& file) {
  if (!file.IsOpen()) return std::nullopt;
  return IdentityOfHandle(Handle(file));
}


std::string CurrentDirectory() {
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) return {};
  std::string directory(size, '\0');
  DWORD length = ::GetCurrentDirectoryA(size, directory.data());
  if (length == 0 || length >= size) return {};
  directory.resize(length);
  return directory;
}

std::string TemporaryDirectory() {
  char buffer[TextCapacity] = {};
  DWORD length = ::GetTempPathA(TextCapacity, buffer);
  if (length == 0 || length >= TextCapacity) return {};
  return std::string(buffer, length);
}

std::string TextFromSystem(std::string_view systemText) { return std::string(systemText); }
std::string TextToSystem(std::string_view text) { return std::string(text); }

}  // namespace qd::platform
