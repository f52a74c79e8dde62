//===- posix/profile.cpp - Private-profile files, our own reader and writer -===//
//
// The package script must read and rewrite on a Linux build server exactly as
// on Windows, since the rewritten script is packed into packages. The rules
// below were taken from the platform's own functions by experiment (see the
// wine cross-check tests):
//
// Reading the file
//   - The file is read whole. A file that starts with a byte-order mark is
//     Unicode: UTF-16 in either byte order, or UTF-8. Its names and values
//     pass through the code page (text/code_page.h) at every read and write,
//     and a rewrite keeps its encoding and its mark. Any other file is in the
//     code page, and its bytes are taken as they stand.
//   - Every CR and every LF ends a line; blank lines do not count.
//   - A line is trimmed of blanks (space, tab, CR, LF, VT, FF and ^Z) at both
//     ends. A line that starts with "[" and has a "]" after it heads a section:
//     its name is the text up to the last "]", trimmed; the rest is ignored.
//   - Any other line is an entry of the current section (lines before the
//     first heading belong to an unnamed section): the name before the first
//     "=" and the value after it, both trimmed; a line without "=" is a name
//     without a value. Comment lines are not special: "; note = x" is an entry.
//   - Repeated sections stay separate; repeated entries stay too.
//   - A NUL character ends the heading, name or value it stands in: what
//     follows it up to the line's end is lost, for reads and for a rewrite.
//
// Looking a value up
//   - Section and key (each up to a NUL) are trimmed and compared without
//     regard to the case of ASCII letters. Only the first section of that
//     name is searched, and the first entry of that name in it counts; an
//     entry without a value gives the fallback.
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
//   - The new text goes to a temporary file beside the file, which then takes
//     the file's place (a link is followed to the file it names): a write
//     that fails, a full disk for one, leaves the file as it was.
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
#include "../halves.h"
#include "text/code_page.h"
#include "native_path.h"
#include "text/text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace qd::platform {
namespace {

using posix::NativePath;

enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeMark = "\xFF\xFE";
constexpr std::string_view Utf16BeMark = "\xFE\xFF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The text up to its first NUL, where a C string would end.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

struct Entry {
  std::string name;
  std::optional<std::string> value;
};

struct Section {
  std::string name;  // empty for the lines before the first heading
  std::vector<Entry> entries;
};

// Names and values are held as the file's text has them: in the code page
// for a code-page file, in UTF-8 for a Unicode one.
struct Profile {
  Encoding encoding = Encoding::Ansi;
  std::vector<Section> sections;  // sections[0] is the unnamed one
};

// The file's bytes as text to parse, and its encoding.
std::string DecodeFile(std::string_view bytes, Encoding& encoding) {
  if (bytes.starts_with(Utf16LeMark)) {
    encoding = Encoding::Utf16Le;
    return text::Utf8FromUtf16(bytes.substr(Utf16LeMark.size()), false);
  }
  if (bytes.starts_with(Utf16BeMark)) {
    encoding = Encoding::Utf16Be;
    return text::Utf8FromUtf16(bytes.substr(Utf16BeMark.size()), true);
  }
  if (bytes.starts_with(Utf8Mark)) {
    encoding = Encoding::Utf8;
    return text::ValidUtf8(bytes.substr(Utf8Mark.size()));
  }
  encoding = Encoding::Ansi;
  return std::string(bytes);
}

std::string EncodeFile(std::string_view text, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf16Le: return std::string(Utf16LeMark) + text::Utf16FromUtf8(text, false);
    case Encoding::Utf16Be: return std::string(Utf16BeMark) + text::Utf16FromUtf8(text, true);
    case Encoding::Utf8: return std::string(Utf8Mark) + std::string(text);
    case Encoding::Ansi: break;
  }
  return std::string(text);
}

// Code-page text from the caller as the file's text, and back.
std::string ToFileText(const Profile& profile, std::string_view text) {
  return profile.encoding == Encoding::Ansi ? std::string(text) : text::Utf8FromAnsi(text);
}
std::string FromFileText(const Profile& profile, std::string_view text) {
  return profile.encoding == Encoding::Ansi ? std::string(text) : text::AnsiFromUtf8(text);
}

Profile Parse(std::string_view bytes) {
  Profile profile;
  const std::string whole = DecodeFile(bytes, profile.encoding);
  std::string_view text = whole;
  profile.sections.emplace_back();
  while (!text.empty()) {
    std::size_t end = text.find_first_of("\r\n");
    std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;

    std::size_t close = line.rfind(']');
    if (line.front() == '[' && close != std::string_view::npos && close > 0) {
      profile.sections.push_back({std::string(UpToNul(Trim(line.substr(1, close - 1)))), {}});
      continue;
    }
    Entry entry;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entry.name = UpToNul(line);
    } else {
      entry.name = UpToNul(Trim(line.substr(0, equals)));
      entry.value = std::string(UpToNul(Trim(line.substr(equals + 1))));
    }
    profile.sections.back().entries.push_back(std::move(entry));
  }
  return profile;
}

std::string Format(const Profile& profile) {
  std::string text;
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
  return EncodeFile(text, profile.encoding);
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

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Puts `bytes` in place of the file at `path` through a temporary file in
// the same directory, so that the file is either the old one or the new one.
// The new file takes the old one's permissions and, where allowed, its owner.
bool Store(const std::string& path, std::string_view bytes) {
  std::string target = path;
  struct stat info {};
  const bool existed = ::lstat(path.c_str(), &info) == 0;
  if (existed && S_ISLNK(info.st_mode)) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return false;
    target = real;
    std::free(real);
    if (::stat(target.c_str(), &info) != 0) return false;
  }
  const std::size_t slash = target.rfind('/');
  std::string temporary = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + ".qd-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool written = WriteAll(fd, bytes);
  if (existed) {
    ::fchmod(fd, info.st_mode & 07777);
    [[maybe_unused]] const int owner = ::fchown(fd, info.st_uid, info.st_gid);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
  }
  written = written && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (written && ::rename(temporary.c_str(), target.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
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

namespace native {

std::string ReadProfile(std::string_view section, std::string_view key, std::string_view fallback,
                        std::string_view path) {
  fallback = UpToNul(fallback);
  while (fallback.size() > 1 && fallback.back() == ' ') fallback.remove_suffix(1);
  std::optional<std::string> text;
  if (!IsBareName(path)) text = Load(NativePath(path));
  if (!text) text.emplace();
  Profile profile = Parse(*text);
  Section* found = FindSection(profile, ToFileText(profile, Trim(UpToNul(section))));
  Entry* entry = found ? FindEntry(*found, ToFileText(profile, Trim(UpToNul(key)))) : nullptr;
  if (!entry || !entry->value) return AsRead(fallback);
  return AsRead(FromFileText(profile, *entry->value));
}

bool WriteProfile(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                  std::string_view path) {
  section = Trim(UpToNul(section));
  key = Trim(UpToNul(key));
  if (value) value = UpToNul(*value);
  if (HasLineBreak(section) || HasLineBreak(key) || key.find('=') != std::string_view::npos ||
      (value && HasLineBreak(*value))) {
    return false;
  }
  if (IsBareName(path)) return false;
  const std::string native = NativePath(path);
  if (native.empty()) return false;
  std::optional<std::string> text = Load(native);
  if (!text) return false;  // never replace a file that could not be read
  Profile profile = Parse(*text);
  const std::string sectionText = ToFileText(profile, section);
  const std::string keyText = ToFileText(profile, key);

  if (!value) {
    for (Section& s : profile.sections) {
      if (!text::EqualsIgnoringCase(s.name, sectionText)) continue;
      auto found = std::find_if(s.entries.begin(), s.entries.end(),
                                [&](const Entry& e) { return text::EqualsIgnoringCase(e.name, keyText); });
      if (found != s.entries.end()) {
        s.entries.erase(found);
        return Store(native, Format(profile));
      }
    }
    return true;
  }

  std::string_view newValue = *value;
  while (!newValue.empty() && IsBlank(newValue.front())) newValue.remove_prefix(1);
  const std::string valueText = ToFileText(profile, newValue);
  Section* target = FindSection(profile, sectionText);
  if (!target) target = &profile.sections.emplace_back(Section{sectionText, {}});
  Entry* entry = FindEntry(*target, keyText);
  if (!entry) entry = &target->entries.emplace_back(Entry{keyText, std::nullopt});
  if (entry->value && *entry->value == valueText) return true;
  entry->value = valueText;
  return Store(native, Format(profile));
}

}  // namespace native

}  // namespace qd::platform
