//===- win32/profile.cpp - Private-profile files through the platform -----===//
//
// The platform's own GetPrivateProfileStringA and WritePrivateProfileStringA.
// A path without a directory part is passed on as it stands, so the platform
// looks it up in its own directory.
//
//===----------------------------------------------------------------------===//
#include "platform/platform.h"

#include <windows.h>

// <windows.h> maps this name onto the old win.ini function; ours is meant.
#undef WriteProfileString

namespace qd::platform {

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view fallback, std::string_view path) {
  char buffer[TextCapacity] = {};
  GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                           std::string(fallback).c_str(), buffer, TextCapacity,
                           std::string(path).c_str());
  buffer[MaxText] = '\0';
  return buffer;
}

bool WriteProfileString(std::string_view section, std::string_view key,
                        std::optional<std::string_view> value, std::string_view path) {
  std::string valueText = value ? std::string(*value) : std::string();
  return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                    value ? valueText.c_str() : nullptr,
                                    std::string(path).c_str()) != FALSE;
}

}  // namespace qd::platform
