//===- profile.h - Private-profile text, parsed and written back -----------===//
//
// A package script is a private-profile file, and its text rules are the
// platform's (taken from its own functions by experiment; the wine tests
// compare them with the real calls):
//
// Reading the text
//   - The file is read whole. A file that starts with a byte-order mark is
//     Unicode: UTF-16 in either byte order, or UTF-8. Its names and values
//     pass through the code page (text/code_page.h) at every read and write,
//     and a rewrite keeps its encoding and its mark. Any other file is in the
//     code page, and its bytes are taken as they stand.
//   - Every CR and every LF ends a line; blank lines do not count. (A CR LF
//     pair counts as one line end for the line numbers, as an editor counts.)
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
//   - Section and key are compared without regard to the case of ASCII
//     letters. Only the first section of that name is searched, and the first
//     entry of that name in it counts; an entry without a value is absent.
//   - A value of two or more characters that starts and ends with the same
//     quotation mark, " or ', loses both marks; then it is cut to the
//     caller's buffer.
//
// Writing the text back
//   - Each heading as "[name]", each entry as "name=value" (or "name" alone),
//     every line ending in CR LF, no blank lines, no heading for the lines
//     before the first heading. (The platform also drops a heading "[]",
//     which moves its entries into the section before; we keep it.)
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qd::profile {

enum class Encoding { CodePage, Utf8, Utf16Le, Utf16Be };

struct Entry {
  std::string name;
  std::optional<std::string> value;  // none for a line without "="
  std::size_t line = 0;              // in the file, from 1
};

struct Section {
  std::string name;  // empty for the lines before the first heading
  std::size_t line = 0;  // of its heading; 0 for the lines before the first
  std::vector<Entry> entries;
};

// Names and values are held as the file's text has them: in the code page
// for a code-page file, in UTF-8 for a Unicode one.
struct Profile {
  Encoding encoding = Encoding::CodePage;
  std::vector<Section> sections;  // sections[0] is the unnamed one
};

// The file's bytes, parsed.
Profile Parse(std::string_view bytes);
// The profile as the file's bytes, in its encoding, with its mark.
std::string Format(const Profile& profile);

// Space, tab, CR, LF, VT, FF and ^Z.
[[nodiscard]] bool IsBlank(char c);
std::string_view Trim(std::string_view text);
// The text up to its first NUL, where a C string would end.
std::string_view UpToNul(std::string_view text);

// Code-page text from a caller as the file's text, and back.
std::string ToFileText(const Profile& profile, std::string_view codePageText);
std::string FromFileText(const Profile& profile, std::string_view fileText);

// The first section, or the first entry of a section, whose name (in the
// file's text) equals `name` without regard to case; null when none does.
Section* FindSection(Profile& profile, std::string_view name);
const Section* FindSection(const Profile& profile, std::string_view name);
Entry* FindEntry(Section& section, std::string_view name);
const Entry* FindEntry(const Section& section, std::string_view name);

// A value as a read returns it: without enclosing quotation marks, cut to
// `maxLength` characters.
std::string AsRead(std::string_view value, std::size_t maxLength);

// The value a read of `key` in `section` (code-page text, trimmed and cut at
// a NUL as a read takes them) returns, in the code page; nullopt when the
// section, the key or its value is absent, and the caller's fallback applies.
[[nodiscard]] std::optional<std::string> Lookup(const Profile& profile, std::string_view section, std::string_view key,
                                                std::size_t maxLength);

}  // namespace qd::profile
