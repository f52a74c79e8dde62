//===- script.h - The package script "SetupQd.ini" --------------------------===//
//
// Every read of the package script goes through here: values are read with the
// default "@", and a value whose first character is "@" counts as absent.
// The file list runs from "File01" up to the first absent key, 99 at most.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qd {

// The name of the script inside a package's work directory.
inline constexpr std::string_view ScriptFileName = "SetupQd.ini";

inline constexpr std::string_view AbsentValue = "@";
inline constexpr int MaxFileListEntries = 99;

// Sections and keys, written as in the script.
namespace script {
inline constexpr std::string_view In = "In";
inline constexpr std::string_view Out = "Out";
inline constexpr std::string_view Files = "Files";
inline constexpr std::string_view Cmd = "Cmd";
inline constexpr std::string_view CMD = "CMD";
inline constexpr std::string_view QdFileName = "QdFileName";
inline constexpr std::string_view OutputName = "OutputName";
inline constexpr std::string_view VersionFile = "VersionFile";
inline constexpr std::string_view Title = "Title";
inline constexpr std::string_view FileName = "FileName";
inline constexpr std::string_view LANG = "LANG";
}  // namespace script

// True when the value counts as absent: its first character is "@".
inline bool IsAbsent(std::string_view value) { return !value.empty() && value.front() == '@'; }

// Reads one value of the script (at most 259 characters); `fallback` when
// the file, the section or the key is absent.
std::string ReadScriptValue(std::string_view section, std::string_view key,
                            std::string_view scriptPath, std::string_view fallback = AbsentValue);

// "File%02d" for index 1..99.
std::string FileListKey(int index);

// One value of the file list: destination before the last comma, source after
// it with its leading blanks and tabs dropped.
struct FileListEntry {
  std::string destination;
  std::string source;
};
// nullopt when the value holds no comma.
[[nodiscard]] std::optional<FileListEntry> SplitFileListEntry(std::string_view value);

// The raw values of the file list, from "File01" up to the first absent key.
std::vector<std::string> ReadFileList(std::string_view scriptPath);

}  // namespace qd
