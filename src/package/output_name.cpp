//===- output_name.cpp - The package's file name from a file version ---------===//
//
// The naming pattern comes from the packing list, so it is never handed to a
// printf-style formatter: it is read here, and only what the builder accepts
// is formatted ("%s" once, "%%"); anything else refuses the name.
//
//===----------------------------------------------------------------------===//
#include "package/output_name.h"

#include <algorithm>

#include "platform/platform.h"
#include "text/text.h"

namespace qd {

namespace {

// The revision letter: code revision + 97 below 500, revision - 403 from
// 500 on. Codes up to 255 are that one byte; a larger code has no character
// of its own, so the tag then ends in "_" and the revision in decimal, which
// keeps the names of different revisions apart.
std::string RevisionLetter(std::uint32_t revision) {
  const std::uint64_t code = revision < 500 ? std::uint64_t{revision} + 97 : revision - 403;
  if (code <= 0xFF) return std::string(1, static_cast<char>(code));
  return std::string("_").append(text::Decimal(revision));
}

// The build tag "%d_%02d_%02d%c".
std::string BuildTag(std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                     std::uint32_t revision) {
  return text::Decimal(major) + "_" + text::Decimal(minor, 2) + "_" + text::Decimal(build, 2) +
         RevisionLetter(revision);
}

// Reads the decimal digits at `at`, moving past them; values above `limit`
// become limit + 1.
std::size_t ReadCount(std::string_view text, std::size_t& at, std::size_t limit) {
  std::size_t count = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    count = std::min(count * 10 + static_cast<std::size_t>(text[at] - '0'), limit + 1);
  return count;
}

}  // namespace

std::string MakeOutputName(std::string_view outputNameValue, std::uint32_t major,
                           std::uint32_t minor, std::uint32_t build, std::uint32_t revision) {
  constexpr std::size_t limit = platform::MaxText;
  const std::string_view pattern = outputNameValue;
  if (pattern.find('%') == std::string_view::npos)
    return pattern.size() <= limit ? std::string(pattern) : std::string();

  const std::string tag = BuildTag(major, minor, build, revision);
  std::string name;
  bool tagUsed = false;
  for (std::size_t at = 0; at < pattern.size();) {
    if (pattern[at] != '%') {
      name += pattern[at++];
      continue;
    }
    ++at;
    if (at < pattern.size() && pattern[at] == '%') {
      name += '%';
      ++at;
      continue;
    }
    // "%s" with the optional flag "-", a width and a precision, once.
    const bool leftAligned = at < pattern.size() && pattern[at] == '-';
    if (leftAligned) ++at;
    const std::size_t width = ReadCount(pattern, at, limit);
    std::size_t precision = tag.size();
    if (at < pattern.size() && pattern[at] == '.') precision = ReadCount(pattern, ++at, limit);
    if (at >= pattern.size() || pattern[at] != 's' || tagUsed || width > limit) return {};
    ++at;
    tagUsed = true;
    const std::string text = tag.substr(0, precision);
    const std::string padding(width > text.size() ? width - text.size() : 0, ' ');
    name += leftAligned ? text + padding : padding + text;
    if (name.size() > limit) return {};
  }
  return name.size() <= limit ? name : std::string();
}

}  // namespace qd
