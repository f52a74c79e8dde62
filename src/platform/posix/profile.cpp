//===- posix/profile.cpp - Private-profile files, our own reader and writer -===//
//
// The package script must read and rewrite on a Linux build server exactly as
// on Windows, since the rewritten script is packed into packages. The rules
// below were taken from the platform's own functions by experiment (see the
// wine cross-check tests):
//
// Reading the file
//   - The file is read whole. A UTF-8 byte-order mark at its start is skipped
//     (and written back). Other bytes are taken as they stand.
//   - Every CR and every LF ends a line; blank lines do not count.
//   - A line is trimmed of blanks (space, tab, CR, LF, VT, FF and ^Z) at both
//     ends. A line that starts with "[" and has a "]" after it heads a section:
//     its name is the text up to the last "]", trimmed; the rest is ignored.
//   - Any other line is an entry of the current section (lines before the
//     first heading belong to an unnamed section): the name before the first
//     "=" and the value after it, both trimmed; a line without "=" is a name
//     without a value. Comment lines are not special: "; note = x" is an entry.
//   - Repeated sections stay separate; repeated entries stay too.
//
// Looking a value up
//   - Section and key are trimmed and compared without regard to case. Only
//     the first section of that name is searched, and the first entry of that
//     name in it counts; an entry without a value gives the fallback.
//   - The fallback loses its trailing spaces (one character always stays).
//   - A value (or fallback) of two or more characters that starts and ends
//     with the same quotation mark, " or ', loses both marks.
//   - The result is cut to MaxText characters.
//
// Writing
//   - A value replaces the value of the first matching entry of the first
//     matching section; otherwise the entry is appended to the end of that
//     section, or a new section holding it is appended to the file. Leading
//     blanks of the value are dropped. Writing the value an entry already has
//     leaves the file untouched.
//   - No value deletes the first entry of that name in any section of that
//     name; the heading stays even when the section becomes empty. Deleting an
//     entry that does not exist leaves the file untouched (and does not create
//     it), and counts as success.
//   - A changed file is written whole in the platform's normalised form: each
//     heading as "[name]", each entry as "name=value" (or "name" alone), every
//     line ending in CR LF, no blank lines, no heading for the lines before
//     the first heading. (The platform also drops a heading "[]", which moves
//     its entries into the section before; we keep it.)
//     A file that does not exist is created.
//   - Section, key or value holding a line break, or a key holding "=", is
//     refused: it could not be read back as written.
//
// Where the file is
//   - A path without a directory part names a file in the system's Windows
//     directory, and POSIX has none: reading gives the fallback, writing
//     fails. A script in the current directory is named "./SetupQd.ini".
//
//===----------------------------------------------------------------------===//
#include "platform/platform.h"
#include "native_path.h"
#include "text/text.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <vector>

namespace qd::platform {
namespace {

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

struct Entry {
  std::string name;
  std::optional<std::string> value;
};

struct Section {
  std::string name;  // empty for the lines before the first heading
  std::vector<Entry> entries;
};

struct Profile {
  bool utf8Mark = false;
  std::vector<Section> sections;  // sections[0] is the unnamed one
};

Profile Parse(std::string_view text) {
  Profile profile;
  if (text.starts_with(Utf8Mark)) {
    profile.utf8Mark = true;
    text.remove_prefix(Utf8Mark.size());
  }
  profile.sections.emplace_back();
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;

    std::size_t close = line.rfind(']');
    if (line.front() == '[' && close != std::string_view::npos && close > 0) {
      profile.sections.push_back({std::string(Trim(line.substr(1, close - 1))), {}});
      continue;
    }
    Entry entry;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entry.name = line;
    } else {
      entry.name = Trim(line.substr(0, equals));
      entry.value = std::string(Trim(line.substr(equals + 1)));
    }
    profile.sections.back().entries.push_back(std::move(entry));
  }
  return profile;
}

std::string Format(const Profile& profile) {
  std::string text;
  if (profile.utf8Mark) text += Utf8Mark;
  for (std::size_t index = 0; index < profile.sections.size(); ++index) {
    const Section& section = profile.sections[index];
    // Every heading but the leading unnamed section's, "[]" included: without
    // it a rewrite would move that section's entries into the one before.
    if (index > 0) text += "[" + section.name + "]\r\n";
    for (const Entry& entry : section.entries) {
      text += entry.name;
      if (entry.value) text += "=" + *entry.value;
      text += "\r\n";
    }
  }
  return text;
}

Section* FindSection(Profile& profile, std::string_view name) {
  auto found = std::find_if(profile.sections.begin(), profile.sections.end(),
                            [&](const Section& s) { return text::EqualsIgnoringCase(s.name, name); });
  return found == profile.sections.end() ? nullptr : &*found;
}

Entry* FindEntry(Section& section, std::string_view name) {
  auto found = std::find_if(section.entries.begin(), section.entries.end(),
                            [&](const Entry& e) { return text::EqualsIgnoringCase(e.name, name); });
  return found == section.entries.end() ? nullptr : &*found;
}

// The whole file: empty when there is no such file, nullopt when it exists
// but cannot be read.
std::optional<std::string> Load(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::string();
    return std::nullopt;
  }
  std::string text;
  char buffer[16384];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      if (n < 0) return std::nullopt;
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

bool Store(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.close();
  return !out.fail();
}

// The value as a read returns it: without enclosing quotation marks, cut to
// the text buffer's size.
std::string AsRead(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value.substr(0, MaxText));
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// A bare file name: the platform looks it up in its Windows directory.
bool IsBareName(std::string_view path) { return path.find_first_of("\\/:") == std::string_view::npos; }

}  // namespace

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view fallback, std::string_view path) {
  while (fallback.size() > 1 && fallback.back() == ' ') fallback.remove_suffix(1);
  std::optional<std::string> text;
  if (!IsBareName(path)) text = Load(posix::NativePath(path));
  if (!text) text.emplace();
  Profile profile = Parse(*text);
  Section* found = FindSection(profile, Trim(section));
  Entry* entry = found ? FindEntry(*found, Trim(key)) : nullptr;
  return AsRead(entry && entry->value ? std::string_view(*entry->value) : fallback);
}

bool WriteProfileString(std::string_view section, std::string_view key,
                        std::optional<std::string_view> value, std::string_view path) {
  section = Trim(section);
  key = Trim(key);
  if (HasLineBreak(section) || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
      (value && HasLineBreak(*value))) {
    return false;
  }
  if (IsBareName(path)) return false;
  const std::string native = posix::NativePath(path);
  std::optional<std::string> text = Load(native);
  if (!text) return false;  // never replace a file that could not be read
  Profile profile = Parse(*text);

  if (!value) {
    for (Section& s : profile.sections) {
      if (!text::EqualsIgnoringCase(s.name, section)) continue;
      auto found = std::find_if(s.entries.begin(), s.entries.end(),
                                [&](const Entry& e) { return text::EqualsIgnoringCase(e.name, key); });
      if (found != s.entries.end()) {
        s.entries.erase(found);
        return Store(native, Format(profile));
      }
    }
    return true;
  }

  std::string_view newValue = *value;
  while (!newValue.empty() && IsBlank(newValue.front())) newValue.remove_prefix(1);
  Section* target = FindSection(profile, section);
  if (!target) target = &profile.sections.emplace_back(Section{std::string(section), {}});
  Entry* entry = FindEntry(*target, key);
  if (!entry) entry = &target->entries.emplace_back(Entry{std::string(key), std::nullopt});
  if (entry->value && *entry->value == newValue) return true;
  entry->value = std::string(newValue);
  return Store(native, Format(profile));
}

}  // namespace qd::platform
