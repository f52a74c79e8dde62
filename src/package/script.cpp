//===- script.cpp - Reading the package script ------------------------------===//
#include "package/script.h"

#include <algorithm>

#include "platform/platform.h"
#include "text/text.h"

namespace qd {

std::string ReadScriptValue(std::string_view section, std::string_view key,
                            std::string_view scriptPath, std::string_view fallback) {
  return platform::ReadProfileString(section, key, fallback, scriptPath);
}

std::string FileListKey(int index) { return "File" + text::Decimal(index, 2); }

std::optional<FileListEntry> SplitFileListEntry(std::string_view value) {
  std::size_t comma = value.rfind(',');
  if (comma == std::string_view::npos) return std::nullopt;
  std::string_view source = value.substr(comma + 1);
  std::size_t start = source.find_first_not_of(" \t");
  source.remove_prefix(start == std::string_view::npos ? source.size() : start);
  return FileListEntry{std::string(value.substr(0, comma)), std::string(source)};
}

std::vector<std::string> ReadFileList(std::string_view scriptPath) {
  std::vector<std::string> keys;
  for (int index = 1; index <= MaxFileListEntries; ++index) keys.push_back(FileListKey(index));
  std::vector<std::string> list = platform::ReadProfileStrings(script::Files, keys, AbsentValue, scriptPath);
  const auto absent = std::find_if(list.begin(), list.end(), [](const std::string& value) { return IsAbsent(value); });
  list.erase(absent, list.end());
  return list;
}

}  // namespace qd
