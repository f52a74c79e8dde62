//===- posix/profile.cpp - Private-profile files, our own reader and writer -===//
//
// The package script must read and rewrite on a Linux build server exactly as
// on Windows, since the rewritten script is packed into packages. The text's
// rules (encodings, lines, sections and entries, lookup, the written form)
// are portable and live in profile/profile.h; here is what the platform's
// functions add around them (taken from them by experiment; see the wine
// cross-check tests):
//
// Reading
//   - Section and key are trimmed and cut at a NUL before they are looked up.
//   - The fallback loses its trailing spaces (one character always stays),
//     and, like a value, its enclosing quotation marks; it is cut to MaxText
//     characters.
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
//   - A changed file is written whole in the platform's normalised form
//     (profile::Format). A file that does not exist is created.
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
#include "native_path.h"
#include "profile/profile.h"
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
using namespace profile;

// The whole file: empty when there is no such file, nullopt when it exists
// but cannot be read.
[[nodiscard]] std::optional<std::string> Load(const std::string& path) {
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

[[nodiscard]] bool WriteAll(int fd, std::string_view bytes) {
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
[[nodiscard]] bool Store(const std::string& path, std::string_view bytes) {
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

[[nodiscard]] bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// A bare file name: the platform looks it up in its Windows directory.
[[nodiscard]] bool IsBareName(std::string_view path) { return path.find_first_of("\\/:") == std::string_view::npos; }

}  // namespace

namespace native {

std::vector<std::string> ReadProfile(std::string_view section, std::span<const std::string> keys,
                                     std::string_view fallback, std::string_view path) {
  fallback = UpToNul(fallback);
  while (fallback.size() > 1 && fallback.back() == ' ') fallback.remove_suffix(1);
  std::optional<std::string> text;
  if (!IsBareName(path)) text = Load(NativePath(path));
  if (!text) text.emplace();
  const Profile profile = Parse(*text);
  std::vector<std::string> values;
  values.reserve(keys.size());
  for (const std::string& key : keys) {
    auto value = Lookup(profile, section, key, MaxText);
    values.push_back(value ? std::move(*value) : AsRead(fallback, MaxText));
  }
  return values;
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
  if (!target) target = &profile.sections.emplace_back(Section{sectionText, 0, {}});
  Entry* entry = FindEntry(*target, keyText);
  if (!entry) entry = &target->entries.emplace_back(Entry{keyText, std::nullopt, 0});
  if (entry->value && *entry->value == valueText) return true;
  entry->value = valueText;
  return Store(native, Format(profile));
}

}  // namespace native

}  // namespace qd::platform
