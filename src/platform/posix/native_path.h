//===- native_path.h - Paths of scripts written for Windows, on POSIX ------===//
//
// Only POSIX code here. Every path given to the platform layer is resolved as
// Windows resolves it, so that a script written on Windows names the same
// files on a Linux build server:
//   - a backslash separates directories as a slash does; the text is in the
//     code page of text/code_page.h and reaches the system as UTF-8;
//   - "." and ".." are taken lexically, before the disk is asked ("link\.."
//     is the directory that holds the link);
//   - a directory's name loses one trailing dot, and the last name loses all
//     its trailing dots and blanks ("build.\engine.dll. " is
//     "build/engine.dll");
//   - a name that does not exist as written is looked up without regard to
//     case; when several names differ from it only in case, none is taken;
//   - a name holding a character that Windows refuses in file names (control
//     characters, < > " | ? *) names no file at all.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qd::platform::posix {

// The POSIX path of `path`; empty when Windows would refuse the name (every
// system call on an empty path fails).
std::string NativePath(std::string_view path);

// A directory search: the POSIX path of the directory and the last part of
// the path as a UTF-8 pattern (which may hold the wildcards * and ?);
// nullopt when the path ends in a separator or Windows would refuse it.
struct SearchPath {
  std::string directory;
  std::string pattern;
};
[[nodiscard]] std::optional<SearchPath> NativeSearchPath(std::string_view path);

}  // namespace qd::platform::posix
