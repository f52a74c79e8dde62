//===- native_path.h - Paths of scripts written for Windows, on POSIX ------===//
//
// Only POSIX code here. A backslash in any path given to the platform layer is
// a directory separator, as a package author writing scripts on Windows expects.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

namespace qd::platform::posix {

inline std::string NativePath(std::string_view path) {
  std::string native(path);
  for (char& c : native)
    if (c == '\\') c = '/';
  return native;
}

}  // namespace qd::platform::posix
