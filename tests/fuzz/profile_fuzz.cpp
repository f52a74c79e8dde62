//===- profile_fuzz.cpp - The private-profile reader and writer on any script ===//
//
// A package script is input from whoever wrote the package. The input is a
// script file; the reader must give every value within its limit, and a value
// written must read back as written (leading blanks aside) without harming
// the rest of the file's values.
//
//===----------------------------------------------------------------------===//
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
