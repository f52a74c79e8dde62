//===- profile.cpp - Private-profile text, parsed and written back ---------===//
#include "profile/profile.h"

#include <algorithm>

#include "text/code_page.h"
#include "text/text.h"

namespace qd::profile {
namespace {

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeMark = "\xFF\xFE";
constexpr std::string_view Utf16BeMark = "\xFE\xFF";

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
  encoding = Encoding::CodePage;
  return std::string(bytes);
}

std::string EncodeFile(std::string_view text, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf16Le: return std::string(Utf16LeMark) + text::Utf16FromUtf8(text, false);
    case Encoding::Utf16Be: return std::string(Utf16BeMark) + text::Utf16FromUtf8(text, true);
    case Encoding::Utf8: return std::string(Utf8Mark) + std::string(text);
    case Encoding::CodePage: break;
  }
  return std::string(text);
}

template <typename Sections>
auto FindByName(Sections& sections, std::string_view name) -> decltype(&sections.front()) {
  const auto found = std::find_if(sections.begin(), sections.end(),
                                  [&](const auto& item) { return text::EqualsIgnoringCase(item.name, name); });
  return found == sections.end() ? nullptr : &*found;
}

}  // namespace

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

Profile Parse(std::string_view bytes) {
  Profile profile;
  const std::string whole = DecodeFile(bytes, profile.encoding);
  std::string_view text = whole;
  profile.sections.emplace_back();
  for (std::size_t number = 1; !text.empty(); ++number) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = Trim(text.substr(0, end));
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end != std::string_view::npos && text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    text.remove_prefix(next);
    if (line.empty()) continue;

    const std::size_t close = line.rfind(']');
    if (line.front() == '[' && close != std::string_view::npos && close > 0) {
      profile.sections.push_back({std::string(UpToNul(Trim(line.substr(1, close - 1)))), number, {}});
      continue;
    }
    Entry entry;
    entry.line = number;
    const std::size_t equals = line.find('=');
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

std::string ToFileText(const Profile& profile, std::string_view codePageText) {
  return profile.encoding == Encoding::CodePage ? std::string(codePageText) : text::Utf8FromAnsi(codePageText);
}

std::string FromFileText(const Profile& profile, std::string_view fileText) {
  return profile.encoding == Encoding::CodePage ? std::string(fileText) : text::AnsiFromUtf8(fileText);
}

Section* FindSection(Profile& profile, std::string_view name) { return FindByName(profile.sections, name); }
const Section* FindSection(const Profile& profile, std::string_view name) {
  return FindByName(profile.sections, name);
}
Entry* FindEntry(Section& section, std::string_view name) { return FindByName(section.entries, name); }
const Entry* FindEntry(const Section& section, std::string_view name) { return FindByName(section.entries, name); }

std::string AsRead(std::string_view value, std::size_t maxLength) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, maxLength));
}

std::optional<std::string> Lookup(const Profile& profile, std::string_view section, std::string_view key,
                                  std::size_t maxLength) {
  const Section* found = FindSection(profile, ToFileText(profile, Trim(UpToNul(section))));
  const Entry* entry = found ? FindEntry(*found, ToFileText(profile, Trim(UpToNul(key)))) : nullptr;
  if (!entry || !entry->value) return std::nullopt;
  return AsRead(FromFileText(profile, *entry->value), maxLength);
}

}  // namespace qd::profile
