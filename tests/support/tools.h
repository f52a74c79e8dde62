//===- tools.h - The programs that tests borrow from the machine ------------===//
//
// The build looks each tool up (tests/CMakeLists.txt); a test that needs one
// that is missing is skipped with a message that names it, never failed for
// the wrong reason or passed without having run.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>

namespace qd::test {

struct Tool {
  const char* name;  // as a user would install it
  const char* path;  // empty when the build did not find it

  bool Found() const { return path[0] != '\0'; }
};

inline constexpr Tool Wine64{"wine64", QDPACK_TOOL_WINE64};
inline constexpr Tool Dynamite{"dynamite", QDPACK_TOOL_DYNAMITE};
inline constexpr Tool Objdump{"i686-w64-mingw32-objdump", QDPACK_TOOL_OBJDUMP};
inline constexpr Tool Objdump64{"x86_64-w64-mingw32-objdump", QDPACK_TOOL_OBJDUMP64};
inline constexpr Tool Windres{"i686-w64-mingw32-windres", QDPACK_TOOL_WINDRES};
inline constexpr Tool Prlimit{"prlimit", QDPACK_TOOL_PRLIMIT};
inline constexpr Tool Import{"import (ImageMagick)", QDPACK_TOOL_IMPORT};
inline constexpr Tool ImageStream{"stream (ImageMagick)", QDPACK_TOOL_STREAM};
inline constexpr Tool Setpriv{"setpriv", QDPACK_TOOL_SETPRIV};
inline constexpr Tool Script{"script (util-linux)", QDPACK_TOOL_SCRIPT};
inline constexpr Tool Osslsigncode{"osslsigncode", QDPACK_TOOL_OSSLSIGNCODE};
inline constexpr Tool Openssl{"openssl", QDPACK_TOOL_OPENSSL};
inline constexpr Tool DpkgDeb{"dpkg-deb", QDPACK_TOOL_DPKG_DEB};

}  // namespace qd::test

// Skips the test unless `tool` was found, naming it.
#define QD_REQUIRE_TOOL(tool) \
  if (!(tool).Found()) GTEST_SKIP() << (tool).name << " is not installed; this test needs it"
