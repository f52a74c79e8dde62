//===- terminal_text.h - Text of the code page as a terminal shows it -------===//
//
// Only POSIX code here. What the dialog and the message boxes show on a
// terminal passes through DisplayText: the code page's text (text/code_page.h)
// in the terminal's character set, with every control character made
// harmless.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

namespace qd::platform::posix {

// Windows-1252 text as a terminal shows it, in the character set `codeset`
// (named as nl_langinfo names it): UTF-8, or another set the system can
// convert to, where a character the set lacks becomes "?"; ASCII for a set
// it cannot. Every control character but the line feed (escape sequences
// included, and the C1 controls of the code page's undefined bytes) becomes
// "?", so that no text can move the cursor or command the terminal.
std::string DisplayText(std::string_view ansi, std::string_view codeset);

// The character set of the locale that the environment names (LC_ALL,
// LC_CTYPE, LANG), as nl_langinfo names it; that of the C locale when the
// named locale is not installed.
std::string LocaleCodeset();

}  // namespace qd::platform::posix
