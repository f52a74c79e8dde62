//===- native_path.cpp - Paths of scripts written for Windows, on POSIX ----===//
//
// Only POSIX code here. The lexical rules come first and need no disk; the
// disk is asked only when the path does not exist as written, one name at a
// time from the left, so a path that exists costs one lstat.
//
//===----------------------------------------------------------------------===//
#include "native_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <vector>

#include "text/code_page.h"

namespace qd::platform::posix {
namespace {

[[nodiscard]] bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Characters that Windows refuses in a file name; a directory search allows
// the wildcards in its last part.
[[nodiscard]] bool IsRefused(char c, bool wildcards) {
  if (static_cast<unsigned char>(c) < 0x20) return true;
  if (c == '<' || c == '>' || c == '"' || c == '|') return true;
  return !wildcards && (c == '?' || c == '*');
}

[[nodiscard]] bool HasRefused(std::string_view text, bool wildcards) {
  for (char c : text)
    if (IsRefused(c, wildcards)) return true;
  return false;
}

// A path as its names, after the lexical rules.
struct Names {
  bool absolute = false;
  std::vector<std::string> names;
};

Names Lexical(std::string_view path) {
  Names result;
  result.absolute = !path.empty() && IsSeparator(path.front());
  const bool endsInSeparator = !path.empty() && IsSeparator(path.back());
  std::size_t at = 0;
  while (at < path.size()) {
    std::size_t end = at;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::string_view name = path.substr(at, end - at);
    at = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      // Above the root is the root; above a relative start, the parent.
      if (!result.names.empty() && result.names.back() != "..")
        result.names.pop_back();
      else if (!result.absolute)
        result.names.emplace_back("..");
      continue;
    }
    result.names.emplace_back(name);
  }
  // Then the dots and blanks: one trailing dot from each directory's name,
  // every trailing dot and blank from the last name.
  for (std::size_t i = 0; i < result.names.size(); ++i) {
    std::string& name = result.names[i];
    if (name == "..") continue;
    if (i + 1 == result.names.size() && !endsInSeparator) {
      while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
    } else if (name.back() == '.') {
      name.pop_back();
    }
  }
  std::erase_if(result.names, [](const std::string& name) { return name.empty(); });
  return result;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// The one entry of `directory` whose name equals `name` without regard to
// case; nullopt when there is none, or more than one.
[[nodiscard]] std::optional<std::string> FindIgnoringCase(const std::string& directory, std::string_view name) {
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return std::nullopt;
  std::optional<std::string> found;
  bool several = false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view candidate = entry->d_name;
    if (candidate == "." || candidate == ".." || !text::NamesEqualIgnoringCase(candidate, name)) continue;
    if (found) {
      several = true;
      break;
    }
    found = std::string(candidate);
  }
  ::closedir(dir);
  if (several) return std::nullopt;
  return found;
}

std::string Resolve(const Names& path) {
  std::string whole = path.absolute ? "/" : "";
  for (std::size_t i = 0; i < path.names.size(); ++i) whole += (i > 0 ? "/" : "") + path.names[i];
  if (whole.empty()) return ".";
  if (Exists(whole)) return whole;

  std::string resolved = path.absolute ? "/" : "";
  for (std::size_t i = 0; i < path.names.size(); ++i) {
    const std::string& name = path.names[i];
    std::string next = resolved + name;
    if (name != "." && name != ".." && !Exists(next)) {
      const auto match = FindIgnoringCase(resolved.empty() ? "." : resolved, name);
      if (!match) {
        // Not there: the rest as written, which finds nothing (or is created).
        for (std::size_t j = i + 1; j < path.names.size(); ++j) next += "/" + path.names[j];
        return next;
      }
      next = resolved + *match;
    }
    resolved = next;
    if (i + 1 < path.names.size()) resolved += '/';
  }
  return resolved;
}

}  // namespace

std::string NativePath(std::string_view path) {
  if (path.empty() || HasRefused(path, false)) return {};
  return Resolve(Lexical(text::Utf8FromAnsi(path)));
}

std::optional<SearchPath> NativeSearchPath(std::string_view path) {
  if (HasRefused(path, true)) return std::nullopt;
  std::size_t separator = path.size();
  while (separator > 0 && !IsSeparator(path[separator - 1])) --separator;
  const std::string_view directory = path.substr(0, separator);
  const std::string_view name = path.substr(separator);
  if (name.empty() || directory.find_first_of("*?") != std::string_view::npos) return std::nullopt;
  return SearchPath{directory.empty() ? std::string(".") : NativePath(directory), text::Utf8FromAnsi(name)};
}

}  // namespace qd::platform::posix
