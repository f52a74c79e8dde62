//===- win32/profile.cpp - Private-profile files through the platform -----===//
//
// The platform's own GetPrivateProfileStringA and WritePrivateProfileStringA.
// A path without a directory part is passed on as it stands, so the platform
// looks it up in its own directory.
//
// The platform rewrites a file in place, so a write that fails half way (a
// full disk) would leave the file cut short. A write to an existing file
// therefore goes to a copy beside it, made by the platform's own call, and
// the copy then takes the file's place: the file is either the old one or
// the new one. Some implementations of the call report success when their
// own write failed, so the copy must also end with a whole line (in its
// encoding) before it may take the file's place; a copy cut exactly after a
// line end cannot be told from a whole one.
//
//===----------------------------------------------------------------------===//
#include "platform/platform.h"
#include "../halves.h"

#include <windows.h>

// <windows.h> maps this name onto the old win.ini function; ours is meant.
#undef WriteProfileString

namespace qd::platform {
namespace {

[[nodiscard]] bool WriteDirectly(const std::string& section, const std::string& key, const char* value,
                                 const std::string& path) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value, path.c_str()) != FALSE;
}

// Whether the file ends with a line feed, in the encoding its byte-order
// mark names: the platform writes every line whole, so a file cut short by
// a failed write almost always ends inside a line.
[[nodiscard]] bool EndsWithWholeLine(const char* path) {
  HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char mark[2] = {};
  unsigned char end[2] = {};
  DWORD markRead = 0;
  DWORD endRead = 0;
  LARGE_INTEGER size{};
  LARGE_INTEGER endOffset{};
  bool read = ::GetFileSizeEx(file, &size) && size.QuadPart >= 2 &&
              ::ReadFile(file, mark, 2, &markRead, nullptr) && markRead == 2;
  endOffset.QuadPart = size.QuadPart - 2;
  read = read && ::SetFilePointerEx(file, endOffset, nullptr, FILE_BEGIN) &&
         ::ReadFile(file, end, 2, &endRead, nullptr) && endRead == 2;
  ::CloseHandle(file);
  if (!read) return false;
  if (mark[0] == 0xFF && mark[1] == 0xFE) return end[0] == '\n' && end[1] == 0;
  if (mark[0] == 0xFE && mark[1] == 0xFF) return end[0] == 0 && end[1] == '\n';
  return end[1] == '\n';
}

// The directory part of `path`, separator included; empty for a bare name.
std::string DirectoryOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/:");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

}  // namespace

namespace native {

std::vector<std::string> ReadProfile(std::string_view section, std::span<const std::string> keys,
                                     std::string_view fallback, std::string_view path) {
  const std::string sectionText(section);
  const std::string fallbackText(fallback);
  const std::string pathText(path);
  std::vector<std::string> values;
  values.reserve(keys.size());
  for (const std::string& key : keys) {
    char buffer[TextCapacity] = {};
    GetPrivateProfileStringA(sectionText.c_str(), key.c_str(), fallbackText.c_str(), buffer, TextCapacity,
                             pathText.c_str());
    buffer[MaxText] = '\0';
    values.emplace_back(buffer);
  }
  return values;
}

bool WriteProfile(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                  std::string_view path) {
  const std::string sectionText(section);
  const std::string keyText(key);
  const std::string valueText = value ? std::string(*value) : std::string();
  const char* valuePointer = value ? valueText.c_str() : nullptr;
  const std::string target(path);
  const std::string directory = DirectoryOf(target);
  // A bare name is the platform's to find; a file that is not there yet has
  // nothing to lose.
  if (directory.empty() || ::GetFileAttributesA(target.c_str()) == INVALID_FILE_ATTRIBUTES)
    return WriteDirectly(sectionText, keyText, valuePointer, target);

  char copy[MAX_PATH] = {};
  if (::GetTempFileNameA(directory.c_str(), "qd", 0, copy) == 0) return false;
  const bool written = ::CopyFileA(target.c_str(), copy, FALSE) &&
                       WriteDirectly(sectionText, keyText, valuePointer, copy) && EndsWithWholeLine(copy) &&
                       ::MoveFileExA(copy, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!written) ::DeleteFileA(copy);
  return written;
}

}  // namespace native

}  // namespace qd::platform
