//===- script.cpp - Reading the package script ------------------------------===//
#include "package/script.h"

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
  std::vector<std::string> list;
  for (int index = 1; index <= MaxFileListEntries; ++index) {
    std::string value = ReadScriptValue(script::Files, FileListKey(index), scriptPath);
    if (IsAbsent(value)) break;
    list.push_back(std::move(value));
  }
  return list;
}

}  // namespace qd
