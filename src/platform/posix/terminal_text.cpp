//===- terminal_text.cpp - Text of the code page as a terminal shows it -----===//
//
// Only POSIX code here. The conversion to a character set other than UTF-8
// is the system's (iconv), one character at a time, so that a character the
// set lacks costs that character only.
//
//===----------------------------------------------------------------------===//
#include "terminal_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <optional>

#include "text/code_page.h"

namespace qd::platform::posix {
namespace {

// C0 and C1 controls and DEL; the line feed stays a line break.
[[nodiscard]] bool IsControl(char32_t c) { return (c < 0x20 && c != '\n') || (c >= 0x7F && c <= 0x9F); }

[[nodiscard]] bool IsUtf8(std::string_view codeset) {
  return codeset == "UTF-8" || codeset == "utf-8" || codeset == "UTF8" || codeset == "utf8";
}

// A conversion from UTF-8 into one character set; closes itself.
class Conversion {
 public:
  explicit Conversion(std::string_view codeset) : handle_(::iconv_open(std::string(codeset).c_str(), "UTF-8")) {}
  ~Conversion() {
    if (Open()) ::iconv_close(handle_);
  }
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  bool Open() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // One character in the set, appended to `out`; false when the set lacks it.
  bool Append(char32_t c, std::string& out) {
    std::string utf8;
    text::AppendUtf8(c, utf8);
    char converted[16];
    char* in = utf8.data();
    std::size_t inLeft = utf8.size();
    char* at = converted;
    std::size_t outLeft = sizeof converted;
    const bool done = ::iconv(handle_, &in, &inLeft, &at, &outLeft) != static_cast<std::size_t>(-1) &&
                      ::iconv(handle_, nullptr, nullptr, &at, &outLeft) != static_cast<std::size_t>(-1);
    if (!done) {
      ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
      return false;
    }
    out.append(converted, static_cast<std::size_t>(at - converted));
    return true;
  }

 private:
  iconv_t handle_;
};

}  // namespace

std::string DisplayText(std::string_view ansi, std::string_view codeset) {
  const bool utf8 = IsUtf8(codeset);
  std::optional<Conversion> conversion;
  if (!utf8) conversion.emplace(codeset);
  std::string shown;
  shown.reserve(ansi.size());
  for (char byte : ansi) {
    const char32_t c = text::CharacterOf(static_cast<unsigned char>(byte));
    if (IsControl(c))
      shown += '?';
    else if (c < 0x80 || utf8)
      text::AppendUtf8(c, shown);
    else if (!conversion->Open() || !conversion->Append(c, shown))
      shown += '?';
  }
  return shown;
}

std::string LocaleCodeset() {
  const locale_t named = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (named == static_cast<locale_t>(nullptr)) return "ANSI_X3.4-1968";
  std::string codeset = ::nl_langinfo_l(CODESET, named);
  ::freelocale(named);
  return codeset;
}

}  // namespace qd::platform::posix
