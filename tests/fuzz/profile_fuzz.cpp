//===- profile_fuzz.cpp - The private-profile reader and writer on any script ===//
//
// A package script is input from whoever wrote the package. The input is a
// script file; the reader must give every value within its limit, and a value
// written must read back as written (leading blanks aside) without harming
// the rest of the file's values. A NUL ends the text it stands in, and blanks
// before it then end a line of the rewritten file, where a read trims them
// (as on Windows): a script with a NUL reads alike from its first rewrite on.
//
//===----------------------------------------------------------------------===//
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::string ScriptPath() {
  static const std::string path = "/tmp/qd-profile-fuzz-" + std::to_string(::getpid()) + ".ini";
  return path;
}

void WriteScript(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(ScriptPath().c_str(), "wb");
  if (!file) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

// Whether the script's text holds a NUL character, in its encoding.
bool HoldsNul(const std::uint8_t* data, std::size_t size) {
  const bool utf16 = size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
  if (!utf16) return size != 0 && std::memchr(data, 0, size) != nullptr;
  for (std::size_t at = 2; at + 1 < size; at += 2)
    if (data[at] == 0 && data[at + 1] == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using qd::platform::ReadProfileString;
  using qd::platform::WriteProfileString;
  WriteScript(data, size);
  const std::string path = ScriptPath();

  const char* sections[] = {"Files", "CMD", "ENU", "", "a"};
  const char* keys[] = {"File01", "File02", "LANG", "", "a"};
  for (const char* section : sections)
    for (const char* key : keys)
      if (ReadProfileString(section, key, "@", path).size() > qd::platform::MaxText) std::abort();

  // Whether a file holding NUL can be rewritten is the platform's affair; that it does not crash is ours.
  if (HoldsNul(data, size)) static_cast<void>(WriteProfileString("QdFuzz", "rewrite", "1", path));
  const std::string before = ReadProfileString("CMD", "LANG", "@", path);
  if (WriteProfileString("Files", "File02", "b.dll, build\\b.dll", path)) {
    if (ReadProfileString("Files", "File02", "@", path) != "b.dll, build\\b.dll") std::abort();
    if (ReadProfileString("CMD", "LANG", "@", path) != before) std::abort();
  }
  if (WriteProfileString("Files", "File02", std::nullopt, path)) {
    if (ReadProfileString("CMD", "LANG", "@", path) != before) std::abort();
  }
  return 0;
}
